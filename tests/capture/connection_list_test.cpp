// SPDX-License-Identifier: MIT
#include "capture/connection_list.h"

#include "capture/datagram_builder.h"

#include <gtest/gtest.h>

using namespace connection_list;
using testing_datagrams::Addr;

namespace {

TEST(ConnectionListTest, RowsShowOnlineNamedPlayers)
{
    ManualClock clock;
    PlayerTable table(clock);
    table.SetResolveNames(false);
    table.Find(Addr("198.51.100.2"), 4000, true);
    PlayerRecord* pilot = table.Find(Addr("198.51.100.3"), 4001, true);
    pilot->userName = "amy";
    pilot->flags |= PlayerRecord::kFlying;
    pilot->iff = 2;
    pilot->aircraftName = "F-15C";
    pilot->packName = "Jets";
    pilot->logonTime = -90061;  // a day, an hour, a minute and a second before 0
    table.Find(Addr("198.51.100.4"), 4002, true)->userName = "";

    const std::vector<Row> rows = BuildRows(table, 0);
    ASSERT_EQ(rows.size(), 2u);
    const std::array<std::string, kColumnCount> first = {
        "00:00:00", "unknown", "198.51.100.2", "198.51.100.2", "4000", "ON LINE", "", "", ""};
    const std::array<std::string, kColumnCount> second = {
        "01:01:01", "amy", "198.51.100.3", "198.51.100.3", "4001", "FLYING", "2", "F-15C", "Jets"};
    EXPECT_EQ(rows[0].texts, first);
    EXPECT_EQ(rows[1].slot, 1);
    EXPECT_EQ(rows[1].texts, second);
    // A clock that went back shows 0, not a negative time.
    EXPECT_EQ(BuildRows(table, -1)[0].texts[kConnectTime], "00:00:00");
}

TEST(ConnectionListTest, SortOrdersOfEachComparison)
{
    struct Case {
        int column;
        int direction;
        std::vector<std::string> texts;
        std::vector<std::string> sorted;
    };
    const Case cases[] = {
        {kUserName, -1, {"amy", "unknown", "Bob"}, {"unknown", "Bob", "amy"}},
        {kAddress, -1, {"10.0.0.2", "9.255.0.1", "10.0.0.10"}, {"10.0.0.10", "10.0.0.2", "9.255.0.1"}},
        {kIff, -1, {"2", "", "10"}, {"", "10", "2"}},
        {kPort, 1, {"50000", "7000", "600"}, {"600", "7000", "50000"}},
        {kConnectTime, -1, {"00:10:00", "00:00:05", "02:00:00"}, {"00:00:05", "00:10:00", "02:00:00"}},
        {kAircraft, 1, {"", "mig", "F-15", "Alpha"}, {"Alpha", "F-15", "mig", ""}},
        {kHostName, 1, {std::string(32, 'a') + "z", std::string(32, 'a') + "b"},
         {std::string(32, 'a') + "z", std::string(32, 'a') + "b"}},  // equal in the 32 kept
    };
    for (const Case& c : cases) {
        std::vector<Row> rows;
        for (size_t i = 0; i < c.texts.size(); ++i) {
            rows.push_back({static_cast<int>(i), {}});
            rows.back().texts[c.column] = c.texts[i];
        }
        SortRows(rows, c.column, c.direction);
        std::vector<std::string> sorted;
        for (const Row& r : rows)
            sorted.push_back(r.texts[c.column]);
        EXPECT_EQ(sorted, c.sorted) << c.column << " " << c.direction;
    }
}

}  // namespace
