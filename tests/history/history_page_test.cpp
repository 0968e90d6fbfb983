// SPDX-License-Identifier: MIT
#include "history/history_page.h"

#include "support/temp_folder.h"
#include "ui/network_text.h"
#include "ui/report_list_view.h"

#include <QLabel>
#include <QLineEdit>
#include <gtest/gtest.h>

using namespace zpmoni;

// Enter in the box searches; names are shown decoded as the lists decode them, never as markup.
TEST(HistoryPage, ShowsWhatEnterFindsAsPlainText)
{
    TempFolder dir;
    ManualClock clock;
    const std::string names[] = {"<b>Ace</b>", "\x83\x41\x83\x43", "Other"};
    for (const std::string& user : names)
        ASSERT_TRUE(HistoryStore::Open(dir.File("history.db")).value()->Insert(
            {*Ipv4Address::Parse("198.51.100.7"), 7915, user, 86400, 0, {{"F-16", ""}, {"Cub", ""}}}));
    HistoryPage page(dir.File("history.db"), clock);
    for (const std::string& user : names) {
        page.Box()->setText(NetworkText(user));
        emit page.Box()->returnPressed();
        ASSERT_EQ(page.List()->RowCount(), 1) << user;
        EXPECT_EQ(page.List()->Text(0, 0), NetworkText(user));
        EXPECT_EQ(page.List()->Text(0, 2) + "|" + page.List()->Text(0, 4), "1970/01/02 00:00:00|F-16, Cub");
        EXPECT_EQ(page.Note()->textFormat(), Qt::PlainText);
    }
    EXPECT_TRUE(page.Note()->text().contains(NetworkText(names[0])));
}
