// SPDX-License-Identifier: MIT
#include "capture/connections_page.h"

#include "base/clock.h"
#include "capture/connections_model.h"
#include "capture/player_table.h"

#include <QItemSelectionModel>
#include <QMenu>

namespace zpmoni {

using namespace connection_list;

namespace {

constexpr ListColumn kColumns[] = {
    {"接続時間", Qt::AlignLeft, 60},
    {"ユーザー名", Qt::AlignLeft, 78},
    {"IPアドレス", Qt::AlignLeft, 102},
    {"ホスト名", Qt::AlignLeft, 131},
    {"ポート", Qt::AlignRight, 42},
    {"状態", Qt::AlignLeft, 55},
    {"IFF", Qt::AlignHCenter, 28},
    {"機体", Qt::AlignLeft, 120},
    {"収録パック", Qt::AlignLeft, 120},
};

const PlayerListLayout kLayout{"ConnectDlg", kColumns, kUserName, kAddress, kHostName, 255, "ホスト名をコピー(&C)"};

ConnectionsOrder* Ordered(QAbstractItemModel* rows)
{
    auto* order = new ConnectionsOrder(nullptr);
    order->setSourceModel(rows);
    rows->setParent(order);
    return order;
}

}  // namespace

ConnectionsPage::ConnectionsPage(PlayerTable& players, const ProfileStore& profile, const Clock& clock,
                                 QWidget* parent)
    : PlayerListPage(kLayout, Ordered(new ReportRows(kColumns, nullptr)), profile, parent),
      players(players),
      clock(clock)
{
    order = static_cast<ConnectionsOrder*>(list->model());
    rows = static_cast<ReportRows*>(order->sourceModel());
    list->EnableSortTint(true);
    order->SetSort(FromSavedState(list->SortColumn()));

    // The list has updated its sort column when it tells of a click: rows and mark go together.
    connect(list, &ReportListView::columnClicked, this, [this] {
        order->SetSort(FromSavedState(list->SortColumn()));
        Refresh();
    });
    AddShortcut(QKeySequence(Qt::Key_Delete), [this] { DeleteSelected(); });

    timer.setInterval(1000);
    connect(&timer, &QTimer::timeout, this, &ConnectionsPage::Refresh);
    timer.start();
}

void ConnectionsPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Refresh();
}

void ConnectionsPage::Refresh()
{
    if (!isVisible())
        return;
    // Selections belong to the players' rows, so they follow them through a change of order.
    const bool changed = SyncConnections(*rows, BuildRows(players, clock.Now()));
    if (!order->Resort() && !changed)
        return;
    // The focus mark goes to the last selected row after every change, none without a selection.
    const QList<int> selected = list->SelectedRows();
    if (selected.isEmpty())
        list->selectionModel()->clearCurrentIndex();
    else
        list->SelectRows(selected);
}

void ConnectionsPage::DeleteSelected()
{
    // No log-off entry: a client that goes on sending comes back as a new record.
    for (int row : list->SelectedRows()) {
        const int slot = list->RowData(row);
        if (slot >= 0 && slot < PlayerTable::kSlots)
            players.Clear(players.Slot(slot));
    }
    SyncConnections(*rows, BuildRows(players, clock.Now()));
}

void ConnectionsPage::AddMenuEntries(QMenu& menu)
{
    menu.addAction(QString::fromUtf8("削除(&D)"), this, &ConnectionsPage::DeleteSelected);
}

}  // namespace zpmoni
