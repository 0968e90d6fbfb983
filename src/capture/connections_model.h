// SPDX-License-Identifier: MIT
#pragma once

#include "capture/connection_list.h"

#include <QSortFilterProxyModel>

#include <vector>

namespace zpmoni {

class ReportRows;

// Brings the connections tab's rows, one per player in slot order (numbered by slot), in line
// with `fresh`: rows of players who left go, rows of players who came are inserted, and only
// the cells whose text changed are reported. Whether anything changed.
bool SyncConnections(ReportRows& rows, const std::vector<connection_list::Row>& fresh);

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
