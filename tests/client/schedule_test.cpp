// SPDX-License-Identifier: MIT
// One pass of the schedule at a time, on a clock the test sets; and the time lists under a
// concurrent writer.
#include "client/schedule.h"

#include "base/clock.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

constexpr int64_t kDay = 1'700'000'000 / 86400 * 86400;  // a midnight, UTC

struct SchedulePassTest : ::testing::Test {
    MonitorSettings s;
    ServerState state;
    ScheduleMarks marks;

    ScheduleDecision Pass(int64_t t) { return SchedulePass(s, state, marks, kDay + t, UtcTime(kDay + t)); }
    // The server started at t, as the supervisor marks it.
    void Started(int64_t t) { state.serverRunning = 1, state.lastRestart = state.lastReset = kDay + t; }
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

TEST(TimeOfDayListTest, ReadWaitsOutAWriterAndGetsTheWholeNewList)
{
    TimeOfDayList list;
    ParseTimeList("1:01|1:02|", list);
    list.version.fetch_add(1);  // a writer is half-way through
    list.entries[0].hour = 2;
    std::atomic<bool> returned{false};
    TimeOfDayList::Snapshot snap;
    std::thread reader([&] { snap = list.Read(), returned = true; });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(returned);
    list.entries[1].hour = 2;
    list.version.fetch_add(1);
    reader.join();
    EXPECT_EQ(snap.count, 2);
    EXPECT_EQ(snap.entries[0].hour + snap.entries[1].hour, 4);
}

}  // namespace
