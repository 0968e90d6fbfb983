// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <cstdint>

namespace zpmoni {

// A schedule mark that was never set: not a time, so no "seconds since" is ever computed from it.
inline constexpr int64_t kNoMark = INT64_MIN;

// True when mark is a time and more than `seconds` have passed from it to now.
constexpr bool MoreThanSince(int64_t now, int64_t mark, int64_t seconds)
{
    return mark != kNoMark && now - mark > seconds;
}

// A window of another program: an X11 window id, or a console pane (see the window system);
// 0 is no window.
using WindowId = uint64_t;

// The supervisor's state, written on the main thread and read by the schedule thread (which
// also moves lastReset), so every member is one atomic word.
struct ServerState {
    std::atomic<int32_t> serverRunning{0};
    std::atomic<uint32_t> serverProcessId{0};
    std::atomic<WindowId> serverWindow{0};
    std::atomic<int64_t> lastRestart{kNoMark};
    std::atomic<int64_t> lastReset{kNoMark};
};

}  // namespace zpmoni
