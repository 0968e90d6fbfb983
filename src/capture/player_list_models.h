// SPDX-License-Identifier: MIT
#pragma once

#include "capture/connection_list.h"
#include "capture/event_log.h"
#include "ui/report_list_view.h"

#include <QSortFilterProxyModel>
#include <QString>

#include <array>
#include <deque>
#include <vector>

namespace zpmoni {

// The log tab's rows: one per log-on, log-off and join, in their order of arrival.
class EventRowsModel final : public ReportTableModel {
public:
    EventRowsModel(std::span<const ListColumn> columns, QObject* parent);

    int rowCount(const QModelIndex& parent = {}) const override;
    void Append(const EventRow& row);
    void RemoveFirst();

protected:
    QString Text(int row, int column) const override;
    QVariant Data(int row, int column, int role) const override;

private:
    struct Row {
        EventRow bytes;
        std::array<QString, std::tuple_size_v<EventRow>> texts;
    };
    std::deque<Row> rows;
};

// The connections tab's rows: one per player online with a user name, in slot order. A tick
// brings them in line with the player table: rows for players who left go, rows for players
// who came are inserted, and only the cells whose text changed are reported.
class ConnectionsModel final : public ReportTableModel {
public:
    ConnectionsModel(const PlayerTable& players, std::span<const ListColumn> columns, QObject* parent);

    int rowCount(const QModelIndex& parent = {}) const override;
    // Whether any row or cell changed.
    bool Sync(int64_t now);

protected:
    QString Text(int row, int column) const override;
    QVariant Data(int row, int column, int role) const override;

private:
    struct Row {
        connection_list::Row bytes;
        std::array<QString, connection_list::kColumnCount> texts;
    };
    bool UpdateCells(int at, const connection_list::Row& fresh);

    const PlayerTable& players;
    std::vector<Row> rows;
};

// The connections in the order of a sort column and direction, players of equal texts in slot
// order, as the connection list compares them (texts cut to 32 bytes).
class ConnectionsOrder final : public QSortFilterProxyModel {
public:
    explicit ConnectionsOrder(QObject* parent);

    void SetSort(connection_list::Sort sort);
    // Puts the rows in order when they are not; whether it moved any.
    bool Resort();

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    connection_list::Sort sort;
};

}  // namespace zpmoni
