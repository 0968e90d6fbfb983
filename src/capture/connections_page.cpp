// SPDX-License-Identifier: MIT
#include "capture/connections_page.h"

#include "base/clock.h"
#include "base/profile_store.h"
#include "capture/player_table.h"
#include "ui/report_list_view.h"
#include "ui/network_text.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QShortcut>

namespace zpmoni {

using namespace connection_list;

namespace {
constexpr std::string_view kSection = "ConnectDlg";
}

ConnectionsPage::ConnectionsPage(PlayerTable& players, const ProfileStore& profile, const Clock& clock,
                         QWidget* parent)
    : QWidget(parent), players(players), clock(clock)
{
    list = ReportListView::FillPage(this,
                                 {
                                     {"接続時間", Qt::AlignLeft, 60},
                                     {"ユーザー名", Qt::AlignLeft, 78},
                                     {"IPアドレス", Qt::AlignLeft, 102},
                                     {"ホスト名", Qt::AlignLeft, 131},
                                     {"ポート", Qt::AlignRight, 42},
                                     {"状態", Qt::AlignLeft, 55},
                                     {"IFF", Qt::AlignHCenter, 28},
                                     {"機体", Qt::AlignLeft, 120},
                                     {"収録パック", Qt::AlignLeft, 120},
                                 },
                                 kUserName);
    list->EnableSortTint(true);
    list->RestoreState(profile, kSection, "ListCtrl");
    sort = FromSavedState(list->SortColumn());

    // The list has updated its sort column when it tells of a click: rows and mark go together.
    connect(list, &ReportListView::columnClicked, this, [this] {
        sort = FromSavedState(list->SortColumn());
        Refresh();
    });
    connect(list, &ReportListView::rowMenuRequested, this, &ConnectionsPage::ShowMenu);
    auto* copy = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_C), this);
    copy->setContext(Qt::WidgetWithChildrenShortcut);
    connect(copy, &QShortcut::activated, this, &ConnectionsPage::CopyHostName);
    auto* remove = new QShortcut(QKeySequence(Qt::Key_Delete), this);
    remove->setContext(Qt::WidgetWithChildrenShortcut);
    connect(remove, &QShortcut::activated, this, &ConnectionsPage::DeleteSelected);

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
    // Selections belong to slots, so they survive a change of order.
    bool marked[PlayerTable::kSlots] = {};
    for (int row : list->SelectedRows()) {
        int slot = list->RowData(row);
        if (slot >= 0 && slot < PlayerTable::kSlots)
            marked[slot] = true;
    }
    std::vector<Row> rows = BuildRows(players, clock.Now());
    SortRows(rows, sort.column, sort.direction);

    list->setUpdatesEnabled(false);
    list->ClearRows();
    rowUsers.clear();
    QList<int> select;
    for (const Row& r : rows) {
        QStringList texts;
        for (const std::string& t : r.texts)
            texts << NetworkText(t);
        int at = list->AppendRow(texts, r.slot);
        rowUsers.push_back(r.texts[kUserName]);
        if (marked[r.slot])
            select << at;
    }
    list->SelectRows(select);
    list->setUpdatesEnabled(true);
}

void ConnectionsPage::CopyHostName()
{
    const QList<int> rows = list->SelectedRows();
    if (rows.isEmpty())
        return;
    QGuiApplication::clipboard()->setText(list->Text(rows.first(), kHostName).left(255));
}

void ConnectionsPage::DeleteSelected()
{
    // No log-off entry: a client that goes on sending comes back as a new record.
    QList<int> rows = list->SelectedRows();
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        int slot = list->RowData(*it);
        if (slot >= 0 && slot < PlayerTable::kSlots)
            players.Clear(players.Slot(slot));
        list->RemoveRow(*it);
        if (*it < static_cast<int>(rowUsers.size()))
            rowUsers.erase(rowUsers.begin() + *it);
    }
}

void ConnectionsPage::DenyAccess()
{
    const QList<int> rows = list->SelectedRows();
    if (rows.isEmpty() || !denyAccess || rows.first() >= static_cast<int>(rowUsers.size()))
        return;
    denyAccess(list->Text(rows.first(), kAddress).toStdString(), rowUsers[static_cast<size_t>(rows.first())]);
}

void ConnectionsPage::ShowMenu(const QPoint& globalPos)
{
    QMenu menu(this);
    menu.addAction(QString::fromUtf8("ホスト名をコピー(&C)"), this, &ConnectionsPage::CopyHostName);
    menu.addAction(QString::fromUtf8("アクセス禁止(&A)"), this, &ConnectionsPage::DenyAccess)
        ->setEnabled(static_cast<bool>(denyAccess));
    menu.addAction(QString::fromUtf8("削除(&D)"), this, &ConnectionsPage::DeleteSelected);
    menu.exec(globalPos);
}

void ConnectionsPage::SaveState(ProfileStore& store)
{
    list->SaveState(store, kSection, "ListCtrl");
}

}  // namespace zpmoni
