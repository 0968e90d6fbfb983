// SPDX-License-Identifier: MIT
#include "capture/event_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The rows of the event list and the choice of entries by the settings; the daily-log lines
// themselves are pinned by the recorded captures, whose replay prints them.
struct EventLogTest : ::testing::Test, LineWriter, EventRowSink {
    EventLogTest()
    {
        record.userName = "alice";
        record.addressText = "198.51.100.2";
        record.port = 40000;
        record.iff = 2;
        record.aircraftName = "F-15C";
        record.packName = "Jets";
        record.startPosition = "Runway";
        log.SetRowSink(this);
    }
    void WriteLine(std::string_view text) override { lines.emplace_back(text); }
    void AppendRow(const EventRow& row) override { rows.push_back(row); }
    void AllKinds()
    {
        rows.clear();
        lines.clear();
        log.LogonEntry(kTime, record);
        log.JoinEntry(kTime, record);
        log.LogoffEntry(kTime, record);
    }
    static constexpr int64_t kTime = 1765000000;  // 2025-12-06 05:46:40 UTC

    ManualClock clock;
    PlayerRecord record;
    EventLog log{*this, clock};
    std::vector<std::string> lines;
    std::vector<EventRow> rows;
};

TEST_F(EventLogTest, RowsOfEachKind)
{
    AllKinds();
    const std::vector<EventRow> expected = {
        {"05:46:40", "alice", "198.51.100.2", "40000", "", "LOGIN", "", ""},
        {"05:46:40", "alice", "198.51.100.2", "40000", "2", "F-15C", "Jets", "Runway"},
        {"05:46:40", "alice", "198.51.100.2", "40000", "", "LOGOUT", "", ""},
    };
    EXPECT_EQ(rows, expected);
    // A Shift_JIS start position keeps its row (unescaped) but makes no line.
    record.startPosition = "\x8a\x8a\t";
    AllKinds();
    EXPECT_EQ(rows[1][7], "\x8a\x8a\t");
    EXPECT_EQ(lines.size(), 2u);
}

TEST_F(EventLogTest, SettingsChooseRowsAndLines)
{
    struct Case {
        int displayLogin, displayJoin, createLogfile;
        size_t rows, lines;
    };
    for (const Case& c : {Case{0, 1, 1, 1, 1}, Case{1, 0, 1, 2, 2}, Case{1, 1, 0, 3, 0}}) {
        log.displayLogin = c.displayLogin;
        log.displayJoin = c.displayJoin;
        log.createLogfile = c.createLogfile;
        AllKinds();
        EXPECT_EQ(rows.size(), c.rows) << c.displayLogin << c.displayJoin << c.createLogfile;
        EXPECT_EQ(lines.size(), c.lines) << c.displayLogin << c.displayJoin << c.createLogfile;
    }
}

}  // namespace
