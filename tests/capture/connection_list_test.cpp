// SPDX-License-Identifier: MIT
#include "capture/connection_list.h"

#include "capture/datagram_builder.h"

#include <gtest/gtest.h>

using namespace zpmoni;

using namespace connection_list;

TEST(ConnectionListTest, RowsShowOnlineNamedPlayers)
{
    ManualClock clock;
    PlayerTable table(clock);  // no resolver: the host names stay the dotted addresses
    table.Find(testing_datagrams::Addr("198.51.100.2"), 4000, true);
    PlayerRecord* pilot = table.Find(testing_datagrams::Addr("198.51.100.3"), 4001, true);
    pilot->userName = "amy";
    pilot->flags |= PlayerRecord::kFlying;
    pilot->iff = 2;
    pilot->aircraftName = "F-15C";
    pilot->packName = "Jets";
    pilot->logonTime = -90061;  // a day, an hour, a minute and a second before 0
    table.Find(testing_datagrams::Addr("198.51.100.4"), 4002, true)->userName = "";
    for (int i = 0; i < 3; ++i)
        table.Confirm(table.Slot(i));
    table.Find(testing_datagrams::Addr("198.51.100.5"), 4003, true);  // not yet answered: not shown

    const std::vector<Row> rows = BuildRows(table, 0);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].texts, (std::array<std::string, kColumnCount>{"00:00:00", "unknown", "198.51.100.2", "198.51.100.2",
                                                                     "4000", "ON LINE", "", "", ""}));
    EXPECT_EQ(rows[1].slot, 1);
    EXPECT_EQ(rows[1].texts, (std::array<std::string, kColumnCount>{"01:01:01", "amy", "198.51.100.3", "198.51.100.3",
                                                                     "4001", "FLYING", "2", "F-15C", "Jets"}));
    // A clock that went back shows 0, not a negative time.
    EXPECT_EQ(BuildRows(table, -1)[0].texts[kConnectTime], "00:00:00");
}

// Addresses and connection times, and the orders the header clicks give, are checked by the
// page's own test.
TEST(ConnectionListTest, SortOrdersAndTheSavedSort)
{
    const std::string a32(32, 'a');
    const std::tuple<int, int, std::vector<std::string>, std::vector<std::string>> cases[] = {
        {kUserName, 1, {"unknown", "zed", "amy"}, {"amy", "zed", "unknown"}},
        {kIff, 1, {"10", "", "2"}, {"2", "10", ""}},
        {kPort, 1, {"50000", "7000", "600"}, {"600", "7000", "50000"}},
        {kAircraft, 1, {"", "mig", "F-15", "alpha"}, {"alpha", "F-15", "mig", ""}},
        {kPack, -1, {"", "mig", "Alpha"}, {"", "mig", "Alpha"}},
        {kHostName, 1, {a32 + "z", a32 + "b"}, {a32 + "z", a32 + "b"}},  // equal in the 32 kept
    };
    for (const auto& [column, direction, texts, sorted] : cases) {
        std::vector<Row> rows;
        for (size_t i = 0; i < texts.size(); ++i) {
            rows.push_back({static_cast<int>(i), {}});
            rows.back().texts[column] = texts[i];
        }
        SortRows(rows, column, direction);
        std::vector<std::string> got;
        for (const Row& r : rows)
            got.push_back(r.texts[column]);
        EXPECT_EQ(got, sorted) << column << " " << direction;
    }
    for (auto [saved, column, direction] : {std::tuple{0, 0, 1}, {3, 2, 1}, {-3, 2, -1}}) {
        const Sort sort = FromSavedState(saved);
        EXPECT_EQ(std::pair(sort.column, sort.direction), std::pair(column, direction)) << saved;
    }
}
