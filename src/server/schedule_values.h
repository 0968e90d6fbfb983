// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace zpmoni {

// What the schedule page edits. The five actions in the page's order: periodic restart,
// periodic revival, Endurance, Intercept, Close Air Support.
struct ScheduleValues {
    static constexpr int kActions = 5;
    std::array<int32_t, kActions> enabled{};
    std::array<int32_t, kActions> minutes{};
    std::string restartTimes;  // one "%d:%02d" per line
    std::string reviveTimes;
};

}  // namespace zpmoni
