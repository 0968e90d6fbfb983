// SPDX-License-Identifier: MIT
#include "server/schedule.h"

#include <algorithm>
#include <cstdlib>

namespace zpmoni {

namespace {

constexpr int64_t kMinutesPerDay = 1440;
// The most by which the two clocks may part between passes before the calendar clock counts as
// set; a pass is due every second.
constexpr int64_t kStepToleranceMs = 2000;
// The longest jump of the local clock that still counts as a skipped hour (some zones skip 30
// minutes, none more than two hours).
constexpr int64_t kLongestSkip = 180;
// How long a fired time of day keeps its local minute from firing again: past a repeated hour,
// short of a day, so a calendar clock set back a day fires the time again.
constexpr int64_t kRepeatGuardMs = 3 * 3600 * 1000;

int64_t FloorDiv(int64_t a, int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

int64_t LocalMinute(const std::tm& local)
{
    return FloorDiv(CivilSeconds(local), 60);
}

bool FiredLately(const FiredTimes& fired, int64_t minute, int64_t monoMs)
{
    return std::any_of(fired.recent.begin(), fired.recent.end(), [&](const FiredTimes::Fired& f) {
        return f.minute == minute && monoMs - f.monoMs < kRepeatGuardMs;
    });
}

// The local minute of the list's time of day that is due now, or kNoMark. Due is the current
// minute, or, when the local clock jumped forward while the calendar clock ran on (the spring
// change), a minute that the jump skipped. What fired lately does not fire again.
int64_t DueMinute(const TimeList& list, const ScheduleMarks& marks, const ScheduleNow& now,
                  const FiredTimes& fired)
{
    const int64_t current = LocalMinute(now.local);
    int64_t after = current;
    if (marks.passed) {
        const int64_t wallMs = (now.wall - marks.previous.wall) * 1000;
        const int64_t monoMs = now.monoMs - marks.previous.monoMs;
        const int64_t before = LocalMinute(marks.previous.local);
        if (std::llabs(wallMs - monoMs) <= kStepToleranceMs && current - before <= kLongestSkip)
            after = std::min(current, before + 1);
    }
    for (const TimeOfDay& t : list) {
        const int32_t h = t.hour, m = t.minute;
        if (h < 0 || h > 23 || m < 0 || m > 59)
            continue;  // matches no time of day
        for (int64_t day : {FloorDiv(after, kMinutesPerDay), FloorDiv(current, kMinutesPerDay)}) {
            const int64_t minute = day * kMinutesPerDay + h * 60 + m;
            if (minute >= after && minute <= current && !FiredLately(fired, minute, now.monoMs))
                return minute;
        }
    }
    return kNoMark;
}

void NoteFired(FiredTimes& fired, int64_t minute, int64_t monoMs)
{
    fired.recent[fired.next] = {minute, monoMs};
    fired.next = (fired.next + 1) % fired.recent.size();
}

void Observe(const std::atomic<int64_t>& value, ScheduleMark& mark, const ScheduleNow& now)
{
    const int64_t v = value;
    if (v == mark.seen)
        return;
    mark.seen = v;
    // The supervisor set it a moment ago on the calendar clock; how long ago is read on that
    // clock, within bounds, so that a step of the calendar clock in between cannot count.
    mark.monoMs = v == kNoMark ? kNoMark : now.monoMs - std::clamp<int64_t>(now.wall - v, 0, 5) * 1000;
}

bool MoreThanSinceMs(int64_t nowMs, int64_t markMs, int64_t seconds)
{
    return markMs != kNoMark && nowMs - markMs > seconds * 1000;
}

// A periodic game event: due when on, the server runs, and more than its period has passed.
void GameEvent(bool on, bool running, int32_t period, int64_t nowMs, int64_t& last, char key,
               std::string& keys)
{
    if (on && running && (last == kNoMark || nowMs - last > SchedulePeriod(period) * 1000)) {
        keys.push_back(key);
        last = nowMs;
    }
}

// Seconds to the next restart the schedule will make, and which one it is; nothing while the
// server is not running or no restart is set.
std::pair<int64_t, int64_t> NextRestart(const MonitorSettings& s, const ScheduleMarks& marks,
                                        const ScheduleNow& now)
{
    std::pair<int64_t, int64_t> next{INT64_MAX, kNoMark};
    if (s.rebootAtInterval && marks.restart.monoMs != kNoMark) {
        const int64_t dueMs = marks.restart.monoMs + SchedulePeriod(s.rebootIntervalSec) * 1000;
        next = {std::max<int64_t>(0, (dueMs - now.monoMs + 999) / 1000), marks.restart.monoMs};
    }
    const int64_t second = now.local.tm_hour * 3600 + now.local.tm_min * 60 + now.local.tm_sec;
    for (const TimeOfDay& t : s.schedule) {
        const int32_t h = t.hour, m = t.minute;
        if (h < 0 || h > 23 || m < 0 || m > 59)
            continue;
        const int64_t until = ((h * 3600 + m * 60 - second) % 86400 + 86400) % 86400;
        const int64_t minute = (CivilSeconds(now.local) + until) / 60;
        // A time that fired already in a repeated hour comes again only the next day.
        if (until < next.first && !FiredLately(marks.restartFired, minute, now.monoMs))
            next = {until, -1 - minute};  // told apart from the periodic ones by the sign
    }
    return next;
}

// Seconds to the next time of the list that has not fired lately; INT64_MAX when none is set.
int64_t NextFixed(const TimeList& list, const FiredTimes& fired, const ScheduleNow& now)
{
    int64_t next = INT64_MAX;
    const int64_t second = now.local.tm_hour * 3600 + now.local.tm_min * 60 + now.local.tm_sec;
    for (const TimeOfDay& t : list) {
        const int32_t h = t.hour, m = t.minute;
        if (h < 0 || h > 23 || m < 0 || m > 59)
            continue;
        int64_t until = ((h * 3600 + m * 60 - second) % 86400 + 86400) % 86400;
        if (FiredLately(fired, (CivilSeconds(now.local) + until) / 60, now.monoMs))
            until += 86400;
        next = std::min(next, until);
    }
    return next;
}

// Seconds until a period from `mark` (monotonic ms) ends; now when it never began.
int64_t PeriodLeft(int64_t markMs, int32_t period, const ScheduleNow& now)
{
    if (markMs == kNoMark)
        return 0;
    return std::max<int64_t>(0, (markMs + SchedulePeriod(period) * 1000 - now.monoMs + 999) / 1000);
}

// A restart warning is due when the next restart came within one of the offsets that was not
// yet warned of for it; it tells the whole minutes left.
int32_t WarningDue(const MonitorSettings& s, ScheduleMarks& marks, const ScheduleNow& now)
{
    const auto [seconds, which] = NextRestart(s, marks, now);
    if (which == kNoMark)
        return 0;
    if (which != marks.warnedRestart)
        marks.warnedRestart = which, marks.warnedMinutes = INT32_MAX;
    int32_t offset = INT32_MAX;
    for (const auto& minutes : s.restartWarnings) {
        const int32_t w = minutes;
        if (w > 0 && seconds <= w * 60 && w < offset)
            offset = w;
    }
    if (offset >= marks.warnedMinutes)
        return 0;
    marks.warnedMinutes = offset;
    return static_cast<int32_t>(std::max<int64_t>(1, (seconds + 59) / 60));
}

}  // namespace

std::vector<ScheduledAction> ScheduleNext(const MonitorSettings& s, const ServerState& state,
                                          const ScheduleMarks& marks, const ScheduleNow& now)
{
    std::vector<ScheduledAction> next;
    if (state.serverRunning == 0)
        return next;
    const auto add = [&](int64_t seconds, std::string_view action) {
        if (seconds != INT64_MAX)
            next.push_back({now.wall + seconds, action});
    };
    const auto earlier = [](int64_t a, int64_t b) { return std::min(a, b); };
    add(NextRestart(s, marks, now).first, "restart");
    add(earlier(s.resetAtInterval ? PeriodLeft(marks.reset.monoMs, s.resetIntervalSec, now) : INT64_MAX,
                NextFixed(s.resetSchedule, marks.resetFired, now)),
        "reset");
    if (s.endurance)
        add(PeriodLeft(marks.lastEndurance, s.enduranceInterval, now), "endurance");
    if (s.intercept)
        add(PeriodLeft(marks.lastIntercept, s.interceptInterval, now), "intercept");
    if (s.airsupport)
        add(PeriodLeft(marks.lastAirsupport, s.airsupportInterval, now), "airsupport");
    std::stable_sort(next.begin(), next.end(), [](const auto& a, const auto& b) { return a.time < b.time; });
    return next;
}

std::string RestartWarningLine(std::string_view text, int32_t minutes)
{
    std::string line;
    for (size_t i = 0; i < text.size() && line.size() < 200; ++i) {
        if (text.compare(i, 2, "%d") == 0) {
            line += std::to_string(minutes);
            ++i;
        } else if (static_cast<unsigned char>(text[i]) >= 0x20 && text[i] != 0x7F) {
            line += text[i];
        }
    }
    return line.substr(0, 200);
}

ScheduleNow ReadScheduleClock(const Clock& clock)
{
    ScheduleNow now;
    now.wall = clock.Now();
    now.monoMs = clock.MonotonicMs();
    now.local = clock.LocalTime(now.wall);
    return now;
}

int64_t SchedulePeriod(int32_t seconds)
{
    return seconds > 0 ? seconds : 60;
}

void ScheduleObserve(const ServerState& state, ScheduleMarks& marks, const ScheduleNow& now)
{
    Observe(state.lastRestart, marks.restart, now);
    Observe(state.lastReset, marks.reset, now);
    marks.passed = true;
    marks.previous = now;
}

ScheduleDecision SchedulePass(const MonitorSettings& s, ServerState& state, ScheduleMarks& marks,
                              const ScheduleNow& now)
{
    Observe(state.lastRestart, marks.restart, now);
    Observe(state.lastReset, marks.reset, now);
    ScheduleDecision d;
    const int64_t t = now.monoMs;
    // A fixed time waits out the minute after a start or revival, and fires once a local day.
    int64_t restartAt = DueMinute(s.schedule, marks, now, marks.restartFired);
    int64_t revivalAt = DueMinute(s.resetSchedule, marks, now, marks.resetFired);
    if (!MoreThanSinceMs(t, marks.restart.monoMs, 60))
        restartAt = kNoMark;
    if (!MoreThanSinceMs(t, marks.reset.monoMs, 60))
        revivalAt = kNoMark;
    const bool restart = (s.rebootAtInterval &&
                          MoreThanSinceMs(t, marks.restart.monoMs, SchedulePeriod(s.rebootIntervalSec))) ||
                         restartAt != kNoMark;
    const bool revive = (s.resetAtInterval &&
                         MoreThanSinceMs(t, marks.reset.monoMs, SchedulePeriod(s.resetIntervalSec))) ||
                        revivalAt != kNoMark;
    const bool running = state.serverRunning != 0;

    d.restart = restart && running;
    if (d.restart && restartAt != kNoMark)
        NoteFired(marks.restartFired, restartAt, t);
    if (revive && running) {
        if (revivalAt != kNoMark)
            NoteFired(marks.resetFired, revivalAt, t);
        state.lastReset = now.wall;
        marks.reset = {now.wall, t};
        d.revived = true;
        d.keys.push_back('R');
    }
    GameEvent(s.endurance, running, s.enduranceInterval, t, marks.lastEndurance, 'E', d.keys);
    GameEvent(s.intercept, running, s.interceptInterval, t, marks.lastIntercept, 'I', d.keys);
    GameEvent(s.airsupport, running, s.airsupportInterval, t, marks.lastAirsupport, 'P', d.keys);
    if (running && !d.restart)
        d.warnMinutes = WarningDue(s, marks, now);
    marks.passed = true;
    marks.previous = now;
    return d;
}

}  // namespace zpmoni
