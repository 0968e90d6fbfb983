// SPDX-License-Identifier: MIT
#include "capture/capture_service.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zpmoni;

namespace {

// A capture whose kernel reports the drops the test sets.
struct FakeSource final : DatagramSource {
    Status Start(int, uint16_t, Handler) override { return {}; }
    void Stop() override {}
    bool IsRunning() const override { return true; }
    uint64_t TakeDrops() override { return std::exchange(drops, 0); }
    uint64_t drops = 0;
};

// Each run of seconds with drops shows them on the status line and says so once in the error
// log; a second without drops ends the run.
TEST(CaptureServiceTest, DropsReachStatusLineAndErrorLogOncePerRun)
{
    ManualClock clock;
    PackIndex packs;
    std::vector<std::string> errors;
    auto* source = new FakeSource;
    CaptureService service(clock, packs, std::unique_ptr<DatagramSource>(source), nullptr,
                           [&](std::string_view l) { errors.emplace_back(l); });
    const std::string quiet = "FLYING 0 ONLINE 0   UP 0.0kB/s DOWN 0.0kB/s";
    const struct { uint64_t drops; const char* shown; size_t errors; } ticks[] = {
        {0, "", 0}, {5, "   DROPPED 5", 1}, {3, "   DROPPED 3", 1}, {0, "", 1}, {7, "   DROPPED 7", 2}};
    for (const auto& t : ticks) {
        source->drops = t.drops;
        EXPECT_EQ(FormatStatusText(service.Tick(clock.Now())), quiet + t.shown) << t.drops;
        EXPECT_EQ(errors.size(), t.errors) << t.drops;
    }
    EXPECT_EQ(errors.at(0), "Capture lost 5 datagrams the kernel had no room for; the player list may be wrong "
                            "until they log on again");
}

}  // namespace
