// SPDX-License-Identifier: MIT
#include "client/schedule.h"

namespace {

bool Listed(const TimeOfDayList& list, const std::tm& local)
{
    const TimeOfDayList::Snapshot times = list.Read();
    for (int32_t i = 0; i < times.count; ++i) {
        if (times.entries[i].hour == local.tm_hour && times.entries[i].minute == local.tm_min)
            return true;
    }
    return false;
}

// A periodic game event: due when on, the server runs, and more than its period has passed.
void GameEvent(bool on, bool running, int32_t period, int64_t now, int64_t& last, char key,
               std::string& keys)
{
    if (on && running && now > SchedulePeriod(period) + last) {
        keys.push_back(key);
        last = now;
    }
}

}  // namespace

int64_t SchedulePeriod(int32_t seconds)
{
    return seconds > 0 ? seconds : 60;
}

ScheduleDecision SchedulePass(const MonitorSettings& s, ServerState& state, ScheduleMarks& marks,
                              int64_t now, const std::tm& local)
{
    ScheduleDecision d;
    const int64_t lastRestart = state.lastRestart;
    const int64_t lastReset = state.lastReset;
    // A fixed time fires once: the restart or revival moves its mark to now.
    const bool restartDue = Listed(s.schedule, local) && MoreThanSince(now, lastRestart, 60);
    const bool revivalDue = Listed(s.resetSchedule, local) && MoreThanSince(now, lastReset, 60);
    const bool restart =
        (s.rebootAtInterval && MoreThanSince(now, lastRestart, SchedulePeriod(s.rebootIntervalSec))) ||
        restartDue;
    const bool revive =
        (s.resetAtInterval && MoreThanSince(now, lastReset, SchedulePeriod(s.resetIntervalSec))) ||
        revivalDue;
    const bool running = state.serverRunning != 0;

    d.restart = restart && running;
    if (revive && running) {
        state.lastReset = now;
        d.revived = true;
        d.keys.push_back('R');
    }
    GameEvent(s.endurance, running, s.enduranceInterval, now, marks.lastEndurance, 'E', d.keys);
    GameEvent(s.intercept, running, s.interceptInterval, now, marks.lastIntercept, 'I', d.keys);
    GameEvent(s.airsupport, running, s.airsupportInterval, now, marks.lastAirsupport, 'P', d.keys);
    return d;
}
