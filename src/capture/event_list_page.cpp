// SPDX-License-Identifier: MIT
#include "capture/event_list_page.h"

namespace zpmoni {

namespace {

constexpr ListColumn kColumns[] = {
    {"時刻", Qt::AlignLeft, 50},
    {"ユーザー名", Qt::AlignLeft, 70},
    {"IPアドレス", Qt::AlignLeft, 100},
    {"ポート", Qt::AlignRight, 42},
    {"IFF", Qt::AlignHCenter, 28},
    {"機体", Qt::AlignLeft, 100},
    {"収録パック", Qt::AlignLeft, 100},
    {"スタートポジション", Qt::AlignLeft, 102},
};

const PlayerListLayout kLayout{"MonitorDlg", kColumns, 1, 2, 2, 15, "IPアドレスをコピー(&C)"};

}  // namespace

// Rows stay in their order of arrival: a header click only moves the sort mark.
EventListPage::EventListPage(const ProfileStore& store, const int& listLine, QWidget* parent)
    : PlayerListPage(kLayout, new ReportRows(kColumns, nullptr), store, parent), listLine(listLine)
{
    rows = static_cast<ReportRows*>(list->model());
}

void EventListPage::AppendRow(const EventRow& row)
{
    const bool follow = list->AtEnd();
    rows->Insert(rows->rowCount(), row);
    if (rows->rowCount() > listLine)
        rows->Remove(0, 0);
    if (follow)
        list->ScrollToRow(list->RowCount() - 1);
}

}  // namespace zpmoni
