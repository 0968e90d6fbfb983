// SPDX-License-Identifier: MIT
#include "capture/player_table.h"

#include "capture/datagram_builder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

using testing_datagrams::Addr;

namespace {

TEST(PlayerTableTest, FindTakesLowestFreeSlotUntilFull)
{
    ManualClock clock;
    clock.seconds = 500;
    PlayerTable table(clock);
    for (int i = 0; i < PlayerTable::kSlots; ++i) {
        PlayerRecord* r = table.Find(Addr("198.51.100.2"), static_cast<uint16_t>(1000 + i), true);
        ASSERT_EQ(r, &table.Slot(i));
        EXPECT_EQ(r->logonTime, 500);
    }
    EXPECT_EQ(table.Find(Addr("198.51.100.3"), 1, true), nullptr);
    EXPECT_EQ(table.Find(Addr("198.51.100.2"), 1005, false), &table.Slot(5));
    EXPECT_EQ(table.Find(Addr("198.51.100.2"), 1005, true), &table.Slot(5));
    table.Clear(table.Slot(7));
    EXPECT_EQ(table.Find(Addr("198.51.100.3"), 1, true), &table.Slot(7));
    EXPECT_EQ(table.Slot(7).HostText(), "198.51.100.3");  // no resolver: dotted address stays
    table.ClearAll();
    StatusFigures f = table.ComputeStatus();
    EXPECT_EQ(f.online, 0);
    EXPECT_EQ(f.flying, 0);
}

TEST(PlayerTableTest, ClearRestoresPlaceholders)
{
    ManualClock clock;
    PlayerTable table(clock);
    PlayerRecord* r = table.Find(Addr("198.51.100.2"), 7, true);
    r->userName = "alice";
    r->aircraftName = "F-15C";
    r->startPosition = "Base";
    r->packName = "Jets";
    r->iff = 2;
    r->flags |= PlayerRecord::kFlying;
    r->lastActivity = 99;
    table.Clear(*r);
    EXPECT_EQ(r->flags, 0);
    EXPECT_EQ(r->port, 0);
    EXPECT_EQ(r->address, 0u);
    EXPECT_EQ(r->logonTime, 0);
    EXPECT_EQ(r->lastActivity, 0);
    EXPECT_EQ(r->addressText.View(), "0.0.0.0");
    EXPECT_EQ(r->HostText(), "0.0.0.0");
    EXPECT_EQ(r->userName.View(), "unknown");
    EXPECT_EQ(r->aircraftName.View(), "unknown");
    EXPECT_EQ(r->startPosition.View(), "unknown");
    EXPECT_EQ(r->packName.View(), "");
    EXPECT_EQ(r->iff, 0u);
}

TEST(PlayerTableTest, IdleSweepOnlyAtMultiplesOfFifteen)
{
    struct Case {
        int64_t now;
        int64_t lastActivity;
        bool cleared;
    };
    const Case cases[] = {
        {1500, 1439, true},  {1500, 1440, false}, {1501, 0, false},
        {1514, 0, false},    {1515, 1000, true},  {1515, 1455, false},
    };
    for (const Case& c : cases) {
        ManualClock clock;
        PlayerTable table(clock);
        PlayerRecord* r = table.Find(Addr("198.51.100.2"), 7, true);
        r->lastActivity = c.lastActivity;
        table.IdleSweep(c.now);
        EXPECT_EQ(!r->Online(), c.cleared) << c.now << " " << c.lastActivity;
    }
}

TEST(PlayerTableTest, StatusFiguresAndText)
{
    ManualClock clock;
    PlayerTable table(clock);
    clock.tick = 5000;
    table.ComputeStatus();
    for (uint16_t p = 1; p <= 3; ++p)
        table.Find(Addr("198.51.100.2"), p, true);
    table.Slot(1).flags |= PlayerRecord::kFlying;
    table.outboundBytes += 1500;
    clock.tick += 1000;
    StatusFigures f = table.ComputeStatus();
    EXPECT_EQ(f.flying, 1);
    EXPECT_EQ(f.online, 3);
    EXPECT_DOUBLE_EQ(f.up, 1.5);
    EXPECT_DOUBLE_EQ(f.down, 0.0);
    EXPECT_EQ(FormatStatusText(f), "FLYING 1 ONLINE 3   UP 1.5kB/s DOWN 0.0kB/s");
}

TEST(PlayerTableTest, RatesSurviveCounterAndTickWrapAround)
{
    ManualClock clock;
    PlayerTable table(clock);
    table.inboundBytes = 0xFFFFFF00u;
    clock.tick = 0xFFFFFE00u;
    table.ComputeStatus();
    table.inboundBytes += 0x300;  // wraps past 2^32
    clock.tick += 0x400;          // wraps too: 1024 ms later
    StatusFigures f = table.ComputeStatus();
    EXPECT_DOUBLE_EQ(f.down, 768.0 / 1024.0);
    // A second computation in the same millisecond has no rate instead of an infinite one.
    f = table.ComputeStatus();
    EXPECT_DOUBLE_EQ(f.down, 0.0);
    EXPECT_EQ(FormatStatusText(f), "FLYING 0 ONLINE 0   UP 0.0kB/s DOWN 0.0kB/s");
}

TEST(PlayerTableTest, ResolverNamesTheRecordItWasStartedFor)
{
    ManualClock clock;
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    std::atomic<int> calls = 0;
    {
        PlayerTable table(clock, [&](uint32_t address) -> std::optional<std::string> {
            ++calls;
            if (address == Addr("198.51.100.2")) {
                gate.wait();
                return std::string("player.example");
            }
            return std::nullopt;
        });
        PlayerRecord* r = table.Find(Addr("198.51.100.2"), 7, true);
        // The slot changes hands before the lookup returns: the late name is dropped.
        table.Clear(*r);
        table.Find(Addr("198.51.100.3"), 8, true);
        release.set_value();
        table.WaitForResolvers();
        EXPECT_EQ(r->HostText(), "198.51.100.3");

        table.Clear(*r);
        table.Find(Addr("198.51.100.2"), 9, true);
        table.WaitForResolvers();
        EXPECT_EQ(r->HostText(), "player.example");

        table.SetResolveNames(false);
        table.Find(Addr("198.51.100.2"), 10, true);
        table.WaitForResolvers();
        EXPECT_EQ(calls.load(), 3);
        EXPECT_EQ(table.Slot(1).HostText(), "198.51.100.2");

        table.RestartResolvers();  // every online record, setting or not
        table.WaitForResolvers();
        EXPECT_EQ(calls.load(), 5);
        EXPECT_EQ(table.Slot(1).HostText(), "player.example");
    }
}

}  // namespace
