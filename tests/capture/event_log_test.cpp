// SPDX-License-Identifier: MIT
#include "capture/event_log.h"

#include "capture/datagram_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testing_datagrams::Addr;

namespace {

struct Lines final : LineWriter {
    void WriteLine(std::string_view text) override { lines.emplace_back(text); }
    std::vector<std::string> lines;
};

struct Rows final : EventRowSink {
    void AppendRow(const EventRow& row) override { rows.push_back(row); }
    std::vector<EventRow> rows;
};

class EventLogTest : public ::testing::Test {
protected:
    EventLogTest() : table(clock), log(lines, clock)
    {
        table.SetResolveNames(false);
        record = table.Find(Addr("198.51.100.2"), 40000, true);
        record->userName = "alice";
        record->iff = 2;
        record->aircraftName = "F-15C";
        record->packName = "Jets";
        record->startPosition = "Runway";
        log.SetRowSink(&rows);
    }
    static constexpr int64_t kTime = 1765000000;  // 2025-12-06 05:46:40 UTC

    ManualClock clock;
    PlayerTable table;
    PlayerRecord* record;
    Lines lines;
    Rows rows;
    EventLog log;
};

TEST_F(EventLogTest, RowsAndLinesOfEachKind)
{
    log.LogonEntry(kTime, *record);
    log.JoinEntry(kTime, *record);
    log.LogoffEntry(kTime, *record);
    const std::vector<EventRow> expectedRows = {
        {"05:46:40", "alice", "198.51.100.2", "40000", "", "LOGIN", "", ""},
        {"05:46:40", "alice", "198.51.100.2", "40000", "2", "F-15C", "Jets", "Runway"},
        {"05:46:40", "alice", "198.51.100.2", "40000", "", "LOGOUT", "", ""},
    };
    EXPECT_EQ(rows.rows, expectedRows);
    const std::vector<std::string> expectedLines = {
        "198.51.100.2\talice\tLOGIN",
        "198.51.100.2\talice\tJOIN\t2\tF-15C\tRunway\tJets",
        "198.51.100.2\talice\tLOGOUT",
    };
    EXPECT_EQ(lines.lines, expectedLines);
}

TEST_F(EventLogTest, SettingsDecideRowsAndLines)
{
    struct Case {
        int displayLogin, displayJoin, createLogfile;
        size_t rows, lines;
    };
    const Case cases[] = {
        {1, 1, 1, 3, 3}, {0, 1, 1, 1, 1}, {1, 0, 1, 2, 2}, {1, 1, 0, 3, 0}, {0, 0, 1, 0, 0},
    };
    for (const Case& c : cases) {
        rows.rows.clear();
        lines.lines.clear();
        log.displayLogin = c.displayLogin;
        log.displayJoin = c.displayJoin;
        log.createLogfile = c.createLogfile;
        log.LogonEntry(kTime, *record);
        log.JoinEntry(kTime, *record);
        log.LogoffEntry(kTime, *record);
        EXPECT_EQ(rows.rows.size(), c.rows) << c.displayLogin << c.displayJoin << c.createLogfile;
        EXPECT_EQ(lines.lines.size(), c.lines) << c.displayLogin << c.displayJoin << c.createLogfile;
    }
}

TEST_F(EventLogTest, JoinWithHighBytesGetsARowButNoLine)
{
    struct Case {
        const char* aircraft;
        const char* start;
        bool line;
    };
    const Case cases[] = {
        {"\x83\x5B\x83\x8D", "Runway", false},  // Shift_JIS
        {"F-15C", "\xE6\xB5\xB7", false},
        {"F-15C", "Runway~\x7F", true},
    };
    for (const Case& c : cases) {
        rows.rows.clear();
        lines.lines.clear();
        record->aircraftName = c.aircraft;
        record->startPosition = c.start;
        log.JoinEntry(kTime, *record);
        EXPECT_EQ(rows.rows.size(), 1u) << c.aircraft;
        EXPECT_EQ(lines.lines.size(), c.line ? 1u : 0u) << c.aircraft;
    }
}

TEST_F(EventLogTest, EntriesWithoutRowSinkStillWriteLines)
{
    log.SetRowSink(nullptr);
    log.LogonEntry(kTime, *record);
    EXPECT_EQ(lines.lines.size(), 1u);
}

}  // namespace
