// SPDX-License-Identifier: MIT
#pragma once

#include "base/monitor_settings.h"
#include "base/server_state.h"

#include <cstdint>
#include <ctime>
#include <string>

// When each periodic game event was last started; they start at the first pass after the
// server runs.
struct ScheduleMarks {
    int64_t lastEndurance = 0;
    int64_t lastIntercept = 0;
    int64_t lastAirsupport = 0;
};

// What one pass of the schedule decided.
struct ScheduleDecision {
    bool restart = false;  // terminate the server, and start it 3 s later
    bool revived = false;  // "Ground obj reconstruct" for the daily log
    std::string keys;      // every key due, in the order R, E, I, P
};

// A period as used: one of 0 or less (a broken file) would fire in every pass; it counts as 60 s.
int64_t SchedulePeriod(int32_t seconds);

// One pass at `now` (local time `local`): decides the restart and the keys, and moves
// lastReset and the event marks of what it fires.
ScheduleDecision SchedulePass(const MonitorSettings& settings, ServerState& state,
                              ScheduleMarks& marks, int64_t now, const std::tm& local);
