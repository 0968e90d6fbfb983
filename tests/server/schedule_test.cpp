// SPDX-License-Identifier: MIT
// One pass of the schedule at a time, on a clock the test sets.
#include "server/schedule.h"

#include "base/clock.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace zpmoni;

namespace {

constexpr int64_t kDay = 1'700'000'000 / 86400 * 86400;  // a midnight, UTC

struct SchedulePassTest : ::testing::Test {
    MonitorSettings s;
    ServerState state;
    ScheduleMarks marks;
    ManualClock clock;

    ScheduleNow Now(int64_t t) { return clock.seconds = kDay + t, ReadScheduleClock(clock); }
    ScheduleDecision Pass(int64_t t) { return SchedulePass(s, state, marks, Now(t)); }
    // The server started at t, as the supervisor marks it, and the schedule saw it.
    void Started(int64_t t) { state.serverRunning = 1, state.lastRestart = state.lastReset = kDay + t, ScheduleObserve(state, marks, Now(t)); }
};

int64_t At(int h, int m, int sec) { return h * 3600 + m * 60 + sec; }

TEST_F(SchedulePassTest, FixedTimeRestartWaitsOutTheMinuteAfterAStart)
{
    ParseTimeList("4:00|", s.schedule);
    Started(At(3, 59, 30));
    for (auto [t, restart] : {std::pair{At(4, 0, 0), false}, {At(4, 0, 30), false}, {At(4, 0, 31), true}})
        EXPECT_EQ(Pass(t).restart, restart) << t;
    // The supervisor starts the server again 3 s later; nothing more fires in that minute.
    Started(At(4, 0, 34));
    for (int64_t t = At(4, 0, 35); t < At(4, 1, 30); t += 5)
        EXPECT_FALSE(Pass(t).restart) << t;
}

TEST_F(SchedulePassTest, PeriodicRestartAndPeriodsOfZeroOrLess)
{
    s.rebootAtInterval = 1;
    const std::tuple<int32_t, int64_t, bool> cases[] = {
        {60, 60, false}, {60, 61, true}, {0, 60, false}, {0, 61, true}, {-5, 61, true}, {-5, 30, false}};
    for (const auto& [period, after, restart] : cases) {
        s.rebootIntervalSec = period;
        Started(0);
        EXPECT_EQ(Pass(after).restart, restart) << period << " " << after;
    }
    state.lastRestart = kNoMark;  // not started since the last stop: no time to count from
    EXPECT_FALSE(Pass(1000).restart);
    Started(0);
    state.serverRunning = 0;
    EXPECT_FALSE(Pass(1000).restart);
}

TEST_F(SchedulePassTest, EveryDueKeyIsSentInOrder)
{
    s.endurance = s.intercept = s.airsupport = 1;
    s.enduranceInterval = s.interceptInterval = 300;
    s.airsupportInterval = 120;
    s.resetAtInterval = 1;
    s.resetIntervalSec = 600;
    ParseTimeList("0:15|", s.resetSchedule);  // a fixed revival too, a minute apart at least
    Started(0);
    const std::tuple<int64_t, const char*, bool> passes[] = {
        {1, "EIP", false}, {2, "", false}, {121, "", false}, {122, "P", false}, {302, "EIP", false},
        {601, "RP", true}, {603, "EI", false}, {At(0, 15, 5), "REIP", true}, {At(0, 15, 50), "", false}};
    for (const auto& [t, keys, revived] : passes) {
        const ScheduleDecision d = Pass(t);
        EXPECT_EQ(d.keys, keys) << t;
        EXPECT_EQ(d.revived, revived) << t;
    }
    EXPECT_EQ(state.lastReset, kDay + At(0, 15, 5));
    state.serverRunning = 0;
    EXPECT_EQ(Pass(5000).keys, "");
}

// Central European time: +1 h, +2 h from the last Sunday of March to that of October, 01:00 UTC.
std::tm Berlin(int64_t t)
{
    using namespace std::chrono;
    const year y = year_month_day{floor<days>(sys_seconds{seconds{t}})}.year();
    auto change = [&](month m) { return sys_seconds{sys_days{y / m / Sunday[last]} + 1h}.time_since_epoch().count(); };
    return UtcTime(t + (t >= change(March) && t < change(October) ? 7200 : 3600));
}

// Half a day of passes, one a second, with the calendar clock set once on the way; the server
// starts again at once after every restart. What fired, as local times.
TEST(ScheduleClockTest, PeriodsFollowTheMonotonicClockAndTimesOfDayTheLocalCalendar)
{
    struct Case { const char* name; int64_t from; bool berlin; const char* times; int32_t period; int64_t stepAt, step; const char* restarts; int intercepts; const char* warnings; };
    const Case cases[] = {
        {"repeated autumn hour", 1'792'872'000, true, "2:30|", 0, 0, 0, "10-25 02:30 ", 144, "10 5 1 "},
        {"skipped spring hour", 1'774'728'000, true, "2:30|0:00|", 0, 0, 0, "03-29 00:00 03-29 03:00 ", 144, "10 5 1 "},
        {"set back a day", kDay, false, "4:00|", 0, 3600, -86400, "11-13 04:00 ", 144, "10 5 1 "},
        {"set forward 2 h", kDay, false, "", 10800, 3600, 7200, "11-14 05:00 11-14 08:00 11-14 11:00 ", 144, "10 5 1 10 5 1 10 5 1 10 5 1 "},
    };
    for (const Case& c : cases) {
        MonitorSettings s;
        ParseTimeList(c.times, s.schedule);
        s.rebootAtInterval = c.period > 0, s.rebootIntervalSec = c.period, s.intercept = 1;
        ManualClock clock;
        clock.zone = c.berlin ? Berlin : UtcTime;
        clock.seconds = c.from;
        ServerState state;
        state.serverRunning = 1, state.lastRestart = state.lastReset = c.from;
        ScheduleMarks marks;
        std::string restarts, warnings;
        int intercepts = 0;
        for (int64_t t = 0; t < 43200; ++t, ++clock.seconds) {
            if (c.step != 0 && t == c.stepAt)
                clock.Step(c.step);
            const ScheduleDecision d = SchedulePass(s, state, marks, ReadScheduleClock(clock));
            if (d.restart)
                restarts += FormatTime(clock.LocalTime(clock.seconds), "%m-%d %H:%M "), state.lastRestart = clock.seconds;
            intercepts += d.keys == "I";
            warnings += d.warnMinutes ? std::to_string(d.warnMinutes) + " " : "";
        }
        EXPECT_EQ(restarts, c.restarts) << c.name;
        EXPECT_EQ(intercepts, c.intercepts) << c.name;
        EXPECT_EQ(warnings, c.warnings) << c.name;
    }
}

// The warning text is the user's, never a format; the offsets are read leniently.
TEST(RestartWarningTest, LineAndOffsets)
{
    EXPECT_EQ(RestartWarningLine("Server restarts in %d min", 5), "Server restarts in 5 min");
    EXPECT_EQ(RestartWarningLine("%s%n %d%%d\x01\n", 3), "%s%n 3%3");
    EXPECT_EQ(RestartWarningLine(std::string(300, 'x'), 1).size(), 200u);
    MonitorSettings s;
    ParseRestartWarnings("15, x,0,5,2000,1,2,3,4,6,7,8", s);
    std::string read;
    for (const auto& minutes : s.restartWarnings)
        read += std::to_string(minutes) + " ";
    EXPECT_EQ(read, "15 5 1 2 3 4 6 7 ");
}

}  // namespace

namespace {

TEST_F(SchedulePassTest, NextActionsFollowTheMarksAndTheTimesOfDay)
{
    s.rebootAtInterval = 1, s.rebootIntervalSec = 900;
    ParseTimeList("4:00|", s.resetSchedule);
    s.endurance = 1, s.enduranceInterval = 120;
    const auto next = [&](int64_t t) {
        std::vector<std::pair<int64_t, std::string_view>> seen;
        for (const ScheduledAction& a : ScheduleNext(s, state, marks, Now(t)))
            seen.emplace_back(a.time - kDay, a.action);
        return seen;
    };
    EXPECT_TRUE(next(At(3, 50, 0)).empty());  // the server is down
    Started(At(3, 50, 0));
    (void)Pass(At(3, 50, 1));  // the endurance event starts now, again 120 s later
    using Seen = std::vector<std::pair<int64_t, std::string_view>>;
    EXPECT_EQ(next(At(3, 50, 1)), (Seen{{At(3, 52, 1), "endurance"}, {At(4, 0, 0), "reset"}, {At(4, 5, 0), "restart"}}));
    // Past the time of day: the next reset is tomorrow's.
    (void)Pass(At(4, 0, 0));
    EXPECT_EQ(next(At(4, 0, 1)).back(), (std::pair<int64_t, std::string_view>{At(28, 0, 0), "reset"}));
}

}  // namespace
