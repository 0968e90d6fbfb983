// SPDX-License-Identifier: MIT
#include "capture/event_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zpmoni;

namespace {

// The rows of the event list and the choice of entries by the settings; the daily-log lines
// themselves are pinned by the recorded captures, whose replay prints them.
struct EventLogTest : ::testing::Test, LineWriter, EventRowSink {
    void WriteLine(std::string_view text) override { lines.emplace_back(text); }
    void AppendRow(const EventRow& row) override { rows.push_back(row); }
    void AllKinds(int displayLogin, int displayJoin, int createLogfile)
    {
        PlayerRecord r;
        r.userName = "alice";
        r.addressText = "198.51.100.2";
        r.port = 40000;
        r.iff = 2;
        r.aircraftName = "F-15C";
        r.packName = "Jets";
        r.startPosition = "Runway";
        EventLog log(*this, clock);
        log.SetRowSink(this);
        log.displayLogin = displayLogin;
        log.displayJoin = displayJoin;
        log.createLogfile = createLogfile;
        rows.clear();
        lines.clear();
        log.LogonEntry(1765000000, r);  // 2025-12-06 05:46:40 UTC
        log.JoinEntry(1765000000, r);
        r.startPosition = "\x8a\x8a\t";  // Shift_JIS: a row (as it is) but no line
        log.JoinEntry(1765000000, r);
        log.LogoffEntry(1765000000, r);
    }
    ManualClock clock;
    std::vector<std::string> lines;
    std::vector<EventRow> rows;
};

TEST_F(EventLogTest, RowsOfEachKindAndTheSettingsChoice)
{
    AllKinds(1, 1, 1);
    const std::vector<EventRow> expected = {
        {"05:46:40", "alice", "198.51.100.2", "40000", "", "LOGIN", "", ""},
        {"05:46:40", "alice", "198.51.100.2", "40000", "2", "F-15C", "Jets", "Runway"},
        {"05:46:40", "alice", "198.51.100.2", "40000", "2", "F-15C", "Jets", "\x8a\x8a\t"},
        {"05:46:40", "alice", "198.51.100.2", "40000", "", "LOGOUT", "", ""},
    };
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(lines.size(), 3u);
    for (auto [login, join, logfile, rowCount, lineCount] :
         {std::tuple{0, 1, 1, size_t{2}, size_t{1}}, {1, 0, 1, 2, 2}, {1, 1, 0, 4, 0}}) {
        AllKinds(login, join, logfile);
        EXPECT_EQ(std::pair(rows.size(), lines.size()), std::pair(rowCount, lineCount)) << login << join << logfile;
    }
}

}  // namespace
