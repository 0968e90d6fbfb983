// SPDX-License-Identifier: MIT
#include "capture/player_table.h"

#include "capture/datagram_builder.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

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
    EXPECT_EQ(table.Slot(7).HostText(), "198.51.100.3");  // no resolver: the dotted address
    table.ClearAll();
    EXPECT_EQ(table.ComputeStatus().online, 0);
}

TEST(PlayerTableTest, IdleSweepOnlyAtMultiplesOfFifteen)
{
    // now, last activity, cleared
    const std::tuple<int64_t, int64_t, bool> cases[] = {
        {1500, 1439, true}, {1500, 1440, false}, {1501, 0, false}, {1514, 0, false}, {1515, 1000, true}, {1515, 1455, false},
    };
    for (const auto& [now, lastActivity, cleared] : cases) {
        ManualClock clock;
        PlayerTable table(clock);
        PlayerRecord* r = table.Find(Addr("198.51.100.2"), 7, true);
        r->lastActivity = lastActivity;
        table.IdleSweep(now);
        EXPECT_EQ(!r->Online(), cleared) << now << " " << lastActivity;
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
    EXPECT_EQ(FormatStatusText(table.ComputeStatus()), "FLYING 1 ONLINE 3   UP 1.5kB/s DOWN 0.0kB/s");

    // Counter and tick both wrap past 2^32: 768 bytes in 1024 ms.
    table.ClearAll();
    table.inboundBytes = 0xFFFFFF00u;
    clock.tick = 0xFFFFFE00u;
    table.ComputeStatus();
    table.inboundBytes += 0x300;
    clock.tick += 0x400;
    EXPECT_DOUBLE_EQ(table.ComputeStatus().down, 768.0 / 1024.0);
    // A second computation in the same millisecond has no rate instead of an infinite one.
    EXPECT_EQ(FormatStatusText(table.ComputeStatus()), "FLYING 0 ONLINE 0   UP 0.0kB/s DOWN 0.0kB/s");
}

// Hands out the answers when the test says so; refuses while full.
struct HeldResolver final : NameResolver {
    bool Resolve(uint32_t address, Answer answer) override
    {
        asked.push_back(address);
        answers.push_back(std::move(answer));
        return !full;
    }
    bool full = false;
    std::vector<uint32_t> asked;
    std::vector<Answer> answers;
};

TEST(PlayerTableTest, AnswersReachOnlyTheRecordTheyWereAskedFor)
{
    ManualClock clock;
    HeldResolver resolver;
    auto table = std::make_unique<PlayerTable>(clock, &resolver);
    PlayerRecord* r = table->Find(Addr("198.51.100.2"), 7, true);
    // The slot changes hands before the lookup answers: the late name is dropped.
    table->Clear(*r);
    table->Find(Addr("198.51.100.3"), 8, true);
    resolver.answers[0]("old.example");
    resolver.answers[1](std::nullopt);
    EXPECT_EQ(r->HostText(), "198.51.100.3");
    table->RestartResolvers();  // every online record
    resolver.answers[2]("new.example");
    EXPECT_EQ(r->HostText(), "new.example");

    resolver.full = true;  // refused: the dotted address stays, as after a failed lookup
    table->Find(Addr("198.51.100.4"), 9, true);
    EXPECT_EQ(table->Slot(1).HostText(), "198.51.100.4");
    table->SetResolveNames(false);
    table->Find(Addr("198.51.100.5"), 10, true);
    EXPECT_EQ(resolver.asked, (std::vector<uint32_t>{Addr("198.51.100.2"), Addr("198.51.100.3"),
                                                     Addr("198.51.100.3"), Addr("198.51.100.4")}));
    // An answer after the table is gone touches nothing (the sanitizer build would see it).
    table.reset();
    resolver.answers[3]("late.example");
}

}  // namespace
