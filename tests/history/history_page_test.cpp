// SPDX-License-Identifier: MIT
#include "history/history_page.h"

#include "support/temp_folder.h"
#include "ui/network_text.h"
#include "ui/report_list_view.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <gtest/gtest.h>

using namespace zpmoni;

// Enter in the box searches; names are shown decoded as the lists decode them, never as markup.
// The row menu bans the name as stored (Shift_JIS stays bytes).
TEST(HistoryPage, ShowsWhatEnterFindsAsPlainTextAndBansItsName)
{
    TempFolder dir;
    ManualClock clock;
    const std::string names[] = {"<b>Ace</b>", "\x83\x41\x83\x43", "Other"};
    for (const std::string& user : names)
        ASSERT_TRUE(HistoryStore::Open(dir.File("history.db")).value()->Insert(
            {*Ipv4Address::Parse("198.51.100.7"), 7915, user, 86400, 0, {{"F-16", ""}, {"Cub", ""}}}));
    HistoryPage page(dir.File("history.db"), clock);
    std::string banned;
    page.SetBanName([&](const std::string& name) -> Result<size_t> { banned = name; return Failure{"no rules"}; });
    for (const std::string& user : names) {
        page.Box()->setText(NetworkText(user));
        emit page.Box()->returnPressed();
        ASSERT_EQ(page.List()->RowCount(), 1) << user;
        EXPECT_EQ(page.List()->Text(0, 0) + "|" + page.List()->Text(0, 2) + "|" + page.List()->Text(0, 4), NetworkText(user) + "|1970/01/02 00:00:00|F-16, Cub");
        EXPECT_EQ(page.Note()->textFormat(), Qt::PlainText);
        page.List()->setCurrentIndex(page.List()->model()->index(0, 1));
        QMetaObject::invokeMethod(&page, [&] {  // once the row menu is open: its only entry
            QMenu* menu = page.findChild<QMenu*>();
            EXPECT_EQ(menu->actions().at(0)->text(), QString::fromUtf8("この名前をアクセス禁止"));
            menu->actions().at(0)->trigger();
            menu->close();
        }, Qt::QueuedConnection);
        emit page.List()->rowMenuRequested({});
        EXPECT_EQ(banned, user);
    }
    EXPECT_TRUE(page.Note()->text().contains(NetworkText(names[0])));
}
