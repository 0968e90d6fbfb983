// SPDX-License-Identifier: MIT
#include "capture/player_table.h"

#include "capture/datagram_builder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

using namespace zpmoni;

using testing_datagrams::Addr;

namespace {

TEST(PlayerTableTest, StatusFiguresAndText)
{
    ManualClock clock;
    PlayerTable table(clock);
    clock.tick = 5000;
    table.ComputeStatus();
    for (uint16_t p = 1; p <= 3; ++p)
        table.Confirm(*table.Find(Addr("198.51.100.2"), p, true));
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
    table.refusedLogons = 7;  // shown only once there are some
    EXPECT_EQ(FormatStatusText(table.ComputeStatus()), "FLYING 0 ONLINE 0   UP 0.0kB/s DOWN 0.0kB/s   REFUSED 7");
}

// The sweep's age test holds at any two times a capture file can carry (no `t - 60` that
// overflows); a record still waiting for the server's answer counts as refused.
TEST(PlayerTableTest, IdleSweepAtAnyTime)
{
    const struct { int64_t last, now; bool cleared; } cases[] = {
        {INT64_MIN, INT64_MAX - INT64_MAX % 15, true}, {INT64_MAX, INT64_MIN + 8, false}, {INT64_MIN, 0, true}, {0, 60, false}};
    ManualClock clock;
    PlayerTable table(clock);
    for (const auto& c : cases) {
        table.Find(Addr("198.51.100.2"), 7, true)->lastActivity = c.last;
        table.IdleSweep(c.now);
        EXPECT_EQ(table.Slot(0).InUse(), !c.cleared) << c.last << " " << c.now;
        table.ClearAll();
    }
    EXPECT_EQ(table.refusedLogons, 2u);
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

// The next holder of a cleared slot inherits nothing of the last one: neither its join's pack
// and IFF, its byte counts, nor the answer of the lookup made for it.
TEST(PlayerTableTest, NextHolderOfASlotInheritsNothing)
{
    ManualClock clock;
    HeldResolver resolver;
    auto table = std::make_unique<PlayerTable>(clock, &resolver);
    PlayerRecord* r = table->Find(Addr("198.51.100.2"), 7, true);
    table->Confirm(*r);
    r->packName = "Jets";
    r->iff = 2, r->bytesIn = r->bytesOut = 9;
    table->Clear(*r);
    table->Confirm(*table->Find(Addr("198.51.100.3"), 8, true));
    EXPECT_EQ(std::string(r->packName.View()) + std::to_string(r->iff + r->bytesIn + r->bytesOut), "0");
    resolver.answers[0]("old.example");
    resolver.answers[1](std::nullopt);
    EXPECT_EQ(r->HostText(), "198.51.100.3");
    table->RestartResolvers();  // every online record
    resolver.answers[2]("new.example");
    EXPECT_EQ(r->HostText(), "new.example");

    resolver.full = true;  // refused: the dotted address stays, as after a failed lookup
    table->Confirm(*table->Find(Addr("198.51.100.4"), 9, true));
    EXPECT_EQ(table->Slot(1).HostText(), "198.51.100.4");
    table->SetResolveNames(false);
    table->Confirm(*table->Find(Addr("198.51.100.5"), 10, true));
    EXPECT_EQ(resolver.asked, (std::vector<uint32_t>{Addr("198.51.100.2"), Addr("198.51.100.3"), Addr("198.51.100.3"),
                                                     Addr("198.51.100.4")}));
    // An answer after the table is gone touches nothing (the sanitizer build would see it).
    table.reset();
    resolver.answers[3]("late.example");
}

}  // namespace
