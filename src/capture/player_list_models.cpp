// SPDX-License-Identifier: MIT
#include "capture/player_list_models.h"

#include "ui/network_text.h"

#include <QByteArray>

namespace zpmoni {

namespace {

QVariant Bytes(const std::string& bytes)
{
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace

EventRowsModel::EventRowsModel(std::span<const ListColumn> columns, QObject* parent)
    : ReportTableModel(columns, parent)
{
}

int EventRowsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows.size());
}

void EventRowsModel::Append(const EventRow& row)
{
    const int at = rowCount();
    beginInsertRows({}, at, at);
    Row& r = rows.emplace_back(Row{row, {}});
    for (size_t c = 0; c < row.size(); ++c)
        r.texts[c] = NetworkText(row[c]);
    endInsertRows();
}

void EventRowsModel::RemoveFirst()
{
    if (rows.empty())
        return;
    beginRemoveRows({}, 0, 0);
    rows.pop_front();
    endRemoveRows();
}

QString EventRowsModel::Text(int row, int column) const
{
    return rows[static_cast<size_t>(row)].texts[static_cast<size_t>(column)];
}

QVariant EventRowsModel::Data(int row, int column, int role) const
{
    return role == kBytesRole ? Bytes(rows[static_cast<size_t>(row)].bytes[static_cast<size_t>(column)]) : QVariant();
}

ConnectionsModel::ConnectionsModel(const PlayerTable& players, std::span<const ListColumn> columns, QObject* parent)
    : ReportTableModel(columns, parent), players(players)
{
}

int ConnectionsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows.size());
}

bool ConnectionsModel::Sync(int64_t now)
{
    const std::vector<connection_list::Row> fresh = connection_list::BuildRows(players, now);
    bool changed = false;
    // Both lists are in slot order: walk them side by side.
    size_t at = 0;
    for (const connection_list::Row& f : fresh) {
        size_t gone = at;
        while (gone < rows.size() && rows[gone].bytes.slot < f.slot)
            ++gone;
        if (gone > at) {
            beginRemoveRows({}, static_cast<int>(at), static_cast<int>(gone) - 1);
            rows.erase(rows.begin() + static_cast<ptrdiff_t>(at), rows.begin() + static_cast<ptrdiff_t>(gone));
            endRemoveRows();
            changed = true;
        }
        if (at < rows.size() && rows[at].bytes.slot == f.slot) {
            changed |= UpdateCells(static_cast<int>(at), f);
        } else {
            Row row{f, {}};
            for (size_t c = 0; c < row.texts.size(); ++c)
                row.texts[c] = NetworkText(f.texts[c]);
            beginInsertRows({}, static_cast<int>(at), static_cast<int>(at));
            rows.insert(rows.begin() + static_cast<ptrdiff_t>(at), std::move(row));
            endInsertRows();
            changed = true;
        }
        ++at;
    }
    if (at < rows.size()) {
        beginRemoveRows({}, static_cast<int>(at), static_cast<int>(rows.size()) - 1);
        rows.resize(at);
        endRemoveRows();
        changed = true;
    }
    return changed;
}

bool ConnectionsModel::UpdateCells(int at, const connection_list::Row& fresh)
{
    Row& row = rows[static_cast<size_t>(at)];
    int first = -1, last = -1;
    for (int c = 0; c < connection_list::kColumnCount; ++c) {
        if (row.bytes.texts[c] == fresh.texts[c])
            continue;
        row.bytes.texts[c] = fresh.texts[c];
        row.texts[c] = NetworkText(fresh.texts[c]);
        first = first < 0 ? c : first;
        last = c;
    }
    if (first < 0)
        return false;
    emit dataChanged(index(at, first), index(at, last), {Qt::DisplayRole, kBytesRole});
    return true;
}

QString ConnectionsModel::Text(int row, int column) const
{
    return rows[static_cast<size_t>(row)].texts[static_cast<size_t>(column)];
}

QVariant ConnectionsModel::Data(int row, int column, int role) const
{
    const connection_list::Row& r = rows[static_cast<size_t>(row)].bytes;
    if (role == kBytesRole)
        return Bytes(r.texts[static_cast<size_t>(column)]);
    if (role == Qt::UserRole && column == 0)
        return r.slot;
    return {};
}

ConnectionsOrder::ConnectionsOrder(QObject* parent) : QSortFilterProxyModel(parent)
{
    // Rows are put in order once per tick, after all its changes, not one change at a time.
    setDynamicSortFilter(false);
}

void ConnectionsOrder::SetSort(connection_list::Sort s)
{
    sort = s;
    QSortFilterProxyModel::sort(sort.column, Qt::AscendingOrder);
}

bool ConnectionsOrder::Resort()
{
    for (int row = 1; row < rowCount(); ++row) {
        if (lessThan(mapToSource(index(row, sort.column)), mapToSource(index(row - 1, sort.column)))) {
            QSortFilterProxyModel::sort(sort.column, Qt::AscendingOrder);
            return true;
        }
    }
    return false;
}

bool ConnectionsOrder::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    // The direction is the comparison's own: placeholders stay last either way.
    const QByteArray a = left.data(kBytesRole).toByteArray().left(32);
    const QByteArray b = right.data(kBytesRole).toByteArray().left(32);
    const int order = connection_list::Compare(sort.column, {a.data(), static_cast<size_t>(a.size())},
                                               {b.data(), static_cast<size_t>(b.size())}, sort.direction);
    return order != 0 ? order < 0 : left.row() < right.row();
}

}  // namespace zpmoni
