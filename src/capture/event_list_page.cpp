// SPDX-License-Identifier: MIT
#include "capture/event_list_page.h"

#include "base/profile_store.h"
#include "ui/report_list_view.h"
#include "ui/network_text.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QShortcut>

namespace zpmoni {

namespace {
constexpr std::string_view kSection = "MonitorDlg";
constexpr int kAddressColumn = 2;
constexpr int kUserColumn = 1;
}  // namespace

EventListPage::EventListPage(const ProfileStore& store, const int& listLine, QWidget* parent)
    : QWidget(parent), listLine(listLine)
{
    list = ReportListView::FillPage(this,
                                 {
                                     {"時刻", Qt::AlignLeft, 50},
                                     {"ユーザー名", Qt::AlignLeft, 70},
                                     {"IPアドレス", Qt::AlignLeft, 100},
                                     {"ポート", Qt::AlignRight, 42},
                                     {"IFF", Qt::AlignHCenter, 28},
                                     {"機体", Qt::AlignLeft, 100},
                                     {"収録パック", Qt::AlignLeft, 100},
                                     {"スタートポジション", Qt::AlignLeft, 102},
                                 },
                                 kUserColumn);
    list->RestoreState(store, kSection, "ListCtrl");

    // Rows stay in their order of arrival: a header click only moves the sort mark.
    connect(list, &ReportListView::rowMenuRequested, this, &EventListPage::ShowMenu);
    auto* copy = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_C), this);
    copy->setContext(Qt::WidgetWithChildrenShortcut);
    connect(copy, &QShortcut::activated, this, &EventListPage::CopyAddress);
}

void EventListPage::AppendRow(const EventRow& row)
{
    const bool follow = list->AtEnd();
    QStringList texts;
    for (const std::string& t : row)
        texts << NetworkText(t);
    list->AppendRow(texts);
    rowUsers.push_back(row[kUserColumn]);
    if (list->RowCount() > listLine) {
        list->RemoveRow(0);
        rowUsers.pop_front();
    }
    if (follow)
        list->ScrollToRow(list->RowCount() - 1);
}

void EventListPage::CopyAddress()
{
    const QList<int> rows = list->SelectedRows();
    if (rows.isEmpty())
        return;
    QGuiApplication::clipboard()->setText(list->Text(rows.first(), kAddressColumn).left(15));
}

void EventListPage::DenyAccess()
{
    const QList<int> rows = list->SelectedRows();
    if (rows.isEmpty() || !denyAccess || rows.first() >= static_cast<int>(rowUsers.size()))
        return;
    denyAccess(list->Text(rows.first(), kAddressColumn).toStdString(), rowUsers[static_cast<size_t>(rows.first())]);
}

void EventListPage::ShowMenu(const QPoint& globalPos)
{
    QMenu menu(this);
    menu.addAction(QString::fromUtf8("IPアドレスをコピー(&C)"), this, &EventListPage::CopyAddress);
    menu.addAction(QString::fromUtf8("アクセス禁止(&A)"), this, &EventListPage::DenyAccess)
        ->setEnabled(static_cast<bool>(denyAccess));
    menu.exec(globalPos);
}

void EventListPage::SaveState(ProfileStore& store)
{
    list->SaveState(store, kSection, "ListCtrl");
}

}  // namespace zpmoni
