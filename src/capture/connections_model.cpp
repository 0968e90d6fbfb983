// SPDX-License-Identifier: MIT
#include "capture/connections_model.h"

#include "ui/report_list_view.h"

#include <QByteArray>

namespace zpmoni {

bool SyncConnections(ReportRows& rows, const std::vector<connection_list::Row>& fresh)
{
    bool changed = false;
    // Both are in slot order: walk them side by side.
    int at = 0;
    for (const connection_list::Row& f : fresh) {
        int gone = at;
        while (gone < rows.rowCount() && rows.Number(gone) < f.slot)
            ++gone;
        if (gone > at) {
            rows.Remove(at, gone - 1);
            changed = true;
        }
        if (at < rows.rowCount() && rows.Number(at) == f.slot) {
            changed |= rows.Update(at, f.texts);
        } else {
            rows.Insert(at, f.texts, f.slot);
            changed = true;
        }
        ++at;
    }
    if (at < rows.rowCount()) {
        rows.Remove(at, rows.rowCount() - 1);
        changed = true;
    }
    return changed;
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
