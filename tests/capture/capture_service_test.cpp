// SPDX-License-Identifier: MIT
#include "capture/capture_service.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zpmoni;

namespace {

// A capture whose kernel reports the drops the test sets, and refuses to start when told.
struct FakeSource final : DatagramSource {
    Status Start(int, uint16_t, Handler) override
    {
        running = refusal.empty();
        return running ? Status() : Status(Failure{refusal});
    }
    void Stop() override { running = false; }
    bool IsRunning() const override { return running; }
    uint64_t TakeDrops() override { return std::exchange(drops, 0); }
    bool running = false;
    uint64_t drops = 0;
    std::string refusal;
};

// Each run of seconds with drops shows them on the status line and says so once in the error
// log; a second without drops ends the run, and a stopped capture reports none.
TEST(CaptureServiceTest, DropsReachStatusLineAndErrorLogOncePerRun)
{
    ManualClock clock;
    PackIndex packs;
    auto owned = std::make_unique<FakeSource>();
    FakeSource& source = *owned;
    std::vector<std::string> errors;
    CaptureService service(clock, packs, std::move(owned), nullptr,
                           [&](std::string_view line) { errors.emplace_back(line); });
    ASSERT_TRUE(service.Start(0));
    const std::string quiet = "FLYING 0 ONLINE 0   UP 0.0kB/s DOWN 0.0kB/s";
    const struct { uint64_t drops; const char* shown; size_t errors; } ticks[] = {
        {0, "", 0}, {5, "   DROPPED 5", 1}, {3, "   DROPPED 3", 1}, {0, "", 1}, {7, "   DROPPED 7", 2}};
    for (const auto& t : ticks) {
        source.drops = t.drops;
        EXPECT_EQ(FormatStatusText(service.Tick(clock.Now())), quiet + t.shown) << t.drops;
        EXPECT_EQ(errors.size(), t.errors) << t.drops;
    }
    EXPECT_EQ(errors.at(0), "Capture lost 5 datagrams the kernel had no room for; the player list may be wrong "
                            "until they log on again");
    EXPECT_NE(errors.at(1).find(" 7 "), std::string::npos) << errors.at(1);
    service.Stop();
    source.drops = 4;
    EXPECT_EQ(FormatStatusText(service.Tick(clock.Now())), quiet);

    source.refusal = "Error at start capture. Fail bind.";
    EXPECT_EQ(service.Start(0).error(), source.refusal);
    EXPECT_FALSE(service.Running());
}

}  // namespace
