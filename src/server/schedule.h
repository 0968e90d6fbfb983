// SPDX-License-Identifier: MIT
#pragma once

#include "base/clock.h"
#include "base/monitor_settings.h"
#include "base/server_state.h"

#include <array>
#include <climits>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace zpmoni {

// One reading of the clocks for a pass: periods are measured on the monotonic clock, so that
// setting the calendar clock neither fires nor delays them; times of day are matched on the
// local calendar.
struct ScheduleNow {
    int64_t wall = 0;    // calendar seconds
    int64_t monoMs = 0;  // monotonic milliseconds
    std::tm local{};     // local time of `wall`
};
ScheduleNow ReadScheduleClock(const Clock& clock);

// A supervisor mark (lastRestart or lastReset, calendar seconds) as the schedule last saw it,
// and the monotonic time it stands for.
struct ScheduleMark {
    int64_t seen = kNoMark;
    int64_t monoMs = kNoMark;
};

// Fixed times that fired lately, by local calendar minute: a time of day fires once per local
// day, even when the autumn change repeats its hour.
struct FiredTimes {
    struct Fired {
        int64_t minute = kNoMark;  // local calendar minute
        int64_t monoMs = 0;
    };
    std::array<Fired, 24> recent{};
    size_t next = 0;
};

// What the schedule keeps between passes.
struct ScheduleMarks {
    // When each periodic game event was last started (monotonic); they start at the first pass
    // after the server runs.
    int64_t lastEndurance = kNoMark;
    int64_t lastIntercept = kNoMark;
    int64_t lastAirsupport = kNoMark;
    ScheduleMark restart, reset;
    FiredTimes restartFired, resetFired;
    // The previous pass, to find times of day that a skipped hour jumped over.
    bool passed = false;
    ScheduleNow previous;
    // The restart the last warning was about, and the fewest minutes warned of for it.
    int64_t warnedRestart = kNoMark;
    int32_t warnedMinutes = INT32_MAX;
};

// What one pass of the schedule decided.
struct ScheduleDecision {
    bool restart = false;  // terminate the server, and start it 3 s later
    bool revived = false;  // "Ground obj reconstruct" for the daily log
    std::string keys;      // every key due, in the order R, E, I, P
    int32_t warnMinutes = 0;  // warn the players: the next restart comes in so many minutes
};

// A period as used: one of 0 or less (a broken file) would fire in every pass; it counts as 60 s.
int64_t SchedulePeriod(int32_t seconds);

// Takes note of marks the supervisor set since the last look. Every pass does it first; on its
// own it stands for a pass that decided nothing.
void ScheduleObserve(const ServerState& state, ScheduleMarks& marks, const ScheduleNow& now);

// One pass at `now`: decides the restart and the keys, and moves lastReset and the event marks
// of what it fires.
ScheduleDecision SchedulePass(const MonitorSettings& settings, ServerState& state,
                              ScheduleMarks& marks, const ScheduleNow& now);

// An action the schedule will take while the server runs: its time (calendar seconds) and
// "restart", "reset", "endurance", "intercept" or "airsupport".
struct ScheduledAction {
    int64_t time = 0;
    std::string_view action;
    bool operator==(const ScheduledAction&) const = default;
};
// What the schedule will do next, as the marks stand after a pass: the next restart, revival
// and game event of each kind that is set, earliest first; nothing while the server is down.
std::vector<ScheduledAction> ScheduleNext(const MonitorSettings& settings, const ServerState& state,
                                          const ScheduleMarks& marks, const ScheduleNow& now);

// The chat line of a restart warning: the text with each "%d" replaced by the minutes (the
// text is never a format), control bytes left out, at most 200 bytes.
std::string RestartWarningLine(std::string_view text, int32_t minutes);

}  // namespace zpmoni
