// SPDX-License-Identifier: MIT
#include "capture/connection_list.h"

#include "capture/datagram_builder.h"

#include <gtest/gtest.h>

using namespace connection_list;
using testing_datagrams::Addr;

namespace {

std::vector<std::string> Column(const std::vector<Row>& rows, int column)
{
    std::vector<std::string> texts;
    for (const Row& r : rows)
        texts.push_back(r.texts[column]);
    return texts;
}

TEST(ConnectionListTest, RowsShowOnlineNamedPlayers)
{
    ManualClock clock;
    clock.seconds = 1000;
    PlayerTable table(clock);
    table.SetResolveNames(false);
    PlayerRecord* fresh = table.Find(Addr("198.51.100.2"), 4000, true);
    PlayerRecord* pilot = table.Find(Addr("198.51.100.3"), 4001, true);
    pilot->userName = "amy";
    pilot->flags |= PlayerRecord::kFlying;
    pilot->iff = 2;
    pilot->aircraftName = "F-15C";
    pilot->packName = "Jets";
    pilot->logonTime = 1000 - 90061;  // a day, an hour, a minute and a second ago
    PlayerRecord* nameless = table.Find(Addr("198.51.100.4"), 4002, true);
    nameless->userName = "";
    (void)fresh;

    std::vector<Row> rows = BuildRows(table, 1000);
    ASSERT_EQ(rows.size(), 2u);
    const std::array<std::string, kColumnCount> first = {
        "00:00:00", "unknown", "198.51.100.2", "198.51.100.2", "4000", "ON LINE", "", "", ""};
    const std::array<std::string, kColumnCount> second = {
        "01:01:01", "amy", "198.51.100.3", "198.51.100.3", "4001", "FLYING", "2", "F-15C", "Jets"};
    EXPECT_EQ(rows[0].slot, 0);
    EXPECT_EQ(rows[0].texts, first);
    EXPECT_EQ(rows[1].slot, 1);
    EXPECT_EQ(rows[1].texts, second);
    // A clock that went back shows 0, not a negative time.
    EXPECT_EQ(BuildRows(table, 0)[0].texts[kConnectTime], "00:00:00");
}

TEST(ConnectionListTest, SortOrdersOfEveryComparison)
{
    struct Case {
        const char* name;
        int column;
        int direction;
        std::vector<std::string> texts;
        std::vector<std::string> sorted;
    };
    const Case cases[] = {
        {"names, unknown last", kUserName, 1, {"unknown", "Bob", "amy"}, {"amy", "Bob", "unknown"}},
        {"names, unknown first", kUserName, -1, {"amy", "unknown", "Bob"}, {"unknown", "Bob", "amy"}},
        {"addresses as numbers", kAddress, 1, {"10.0.0.10", "10.0.0.2", "9.255.0.1"},
         {"9.255.0.1", "10.0.0.2", "10.0.0.10"}},
        {"addresses descending", kAddress, -1, {"10.0.0.2", "10.0.0.10"}, {"10.0.0.10", "10.0.0.2"}},
        {"IFF, empty last", kIff, 1, {"", "10", "2"}, {"2", "10", ""}},
        {"IFF descending, empty first", kIff, -1, {"2", "", "10"}, {"", "10", "2"}},
        {"ports as numbers", kPort, 1, {"50000", "7000", "600"}, {"600", "7000", "50000"}},
        {"longest connection first", kConnectTime, 1, {"00:00:05", "02:00:00", "00:10:00"},
         {"02:00:00", "00:10:00", "00:00:05"}},
        {"shortest first", kConnectTime, -1, {"00:10:00", "00:00:05"}, {"00:00:05", "00:10:00"}},
        {"text ignores case, empty last", kAircraft, 1, {"", "mig", "F-15", "Alpha"},
         {"Alpha", "F-15", "mig", ""}},
        {"text descending", kState, -1, {"FLYING", "ON LINE"}, {"ON LINE", "FLYING"}},
    };
    for (const Case& c : cases) {
        std::vector<Row> rows;
        for (size_t i = 0; i < c.texts.size(); ++i) {
            Row r{static_cast<int>(i), {}};
            r.texts[c.column] = c.texts[i];
            rows.push_back(r);
        }
        SortRows(rows, c.column, c.direction);
        EXPECT_EQ(Column(rows, c.column), c.sorted) << c.name;
    }
}

TEST(ConnectionListTest, SortUsesTheFirst32Characters)
{
    std::vector<Row> rows(2);
    rows[0].texts[kHostName] = std::string(32, 'a') + "z";
    rows[1].texts[kHostName] = std::string(32, 'a') + "b";
    rows[0].slot = 0;
    rows[1].slot = 1;
    SortRows(rows, kHostName, 1);
    EXPECT_EQ(rows[0].slot, 0);  // equal in what the list keeps: the order stays
}

TEST(ConnectionListTest, ClicksAndSavedSort)
{
    Sort s;
    s = AfterClick(s, 3);
    EXPECT_EQ(s.column, 3);
    EXPECT_EQ(s.direction, 1);
    s = AfterClick(s, 3);
    EXPECT_EQ(s.direction, -1);
    s = AfterClick(s, 3);
    EXPECT_EQ(s.direction, 1);
    s = AfterClick(AfterClick(s, 3), 5);
    EXPECT_EQ(s.column, 5);
    EXPECT_EQ(s.direction, 1);

    struct Case {
        int saved, column, direction;
    };
    for (const Case& c : {Case{0, 0, 1}, Case{3, 2, 1}, Case{-3, 2, -1}, Case{1, 0, 1}}) {
        Sort r = FromSavedState(c.saved);
        EXPECT_EQ(r.column, c.column) << c.saved;
        EXPECT_EQ(r.direction, c.direction) << c.saved;
    }
}

}  // namespace
