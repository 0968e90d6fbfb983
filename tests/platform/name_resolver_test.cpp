// SPDX-License-Identifier: MIT
#include "platform/name_resolver.h"

#include "support/child_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

using namespace zpmoni;

namespace {

using namespace std::chrono_literals;
using Name = std::optional<std::string>;

// Lookups that wait until the test opens the gate: address 1 is "one.example", the others have
// no name. Counts the calls and the most that ran at once.
struct GatedLookup {
    Name operator()(uint32_t address)
    {
        ++calls;
        for (int now = ++running, most = maxRunning; now > most && !maxRunning.compare_exchange_weak(most, now);) {}
        gate.wait();
        --running;
        return address == 1 ? Name("one.example") : std::nullopt;
    }
    std::promise<void> open;
    std::shared_future<void> gate = open.get_future().share();
    std::atomic<int> calls = 0, running = 0, maxRunning = 0;
};

TEST(ResolverPoolTest, BoundsThreadsAndQueueAndRemembersAnswers)
{
    GatedLookup lookup;
    ResolverPool pool(std::ref(lookup));
    std::atomic<size_t> answered = 0;
    for (uint32_t a = 1; a <= ResolverPool::kQueued; ++a)
        ASSERT_TRUE(pool.Resolve(a, [&](const Name&) { ++answered; })) << a;
    ASSERT_TRUE(WaitFor([&] { return lookup.calls == ResolverPool::kThreads; }, 10s));
    // Full, even for an address already being looked up: that one stays unresolved.
    EXPECT_FALSE(pool.Resolve(1, [](const Name&) {}));
    lookup.open.set_value();
    EXPECT_TRUE(WaitFor([&] { return answered == ResolverPool::kQueued; }, 10s));
    EXPECT_EQ(lookup.maxRunning, ResolverPool::kThreads);
    // Answered at once from what was learnt, without another lookup.
    Name name;
    EXPECT_TRUE(pool.Resolve(1, [&](const Name& n) { name = n; }));
    EXPECT_EQ(name, "one.example");
    EXPECT_EQ(lookup.calls, static_cast<int>(ResolverPool::kQueued));
}

TEST(ResolverPoolTest, ShutDownGivesUpOnStuckLookupsAndDeliversNothingAfter)
{
    GatedLookup lookup;
    ResolverPool pool(std::ref(lookup));
    std::atomic<bool> answered = false;
    for (uint32_t a : {1, 2})
        ASSERT_TRUE(pool.Resolve(a, [&](const Name&) { answered = true; }));
    ASSERT_TRUE(WaitFor([&] { return lookup.calls == 2; }, 10s));
    EXPECT_FALSE(pool.Shutdown(50ms));  // the lookups are stuck
    EXPECT_FALSE(pool.Resolve(3, [](const Name&) {}));
    lookup.open.set_value();
    EXPECT_TRUE(pool.Shutdown(10s));  // now they have ended, and their answers went nowhere
    EXPECT_FALSE(answered);
}

// With a poster, answers run where the poster sends them (here: this thread, when the test
// says), and one still waiting when the pool shuts down runs to nothing.
TEST(ResolverPoolTest, PostedAnswersRunOnTheirThreadAndNotAfterShutDown)
{
    std::mutex mutex;
    std::vector<std::function<void()>> posted;
    ResolverPool pool([](uint32_t) { return Name("one.example"); }, [&](std::function<void()> delivery) {
        std::lock_guard lock(mutex);
        posted.push_back(std::move(delivery));
    });
    std::vector<std::thread::id> ranOn;
    for (uint32_t a : {1, 2})
        ASSERT_TRUE(pool.Resolve(a, [&](const Name&) { ranOn.push_back(std::this_thread::get_id()); }));
    auto count = [&] { std::lock_guard lock(mutex); return posted.size(); };
    ASSERT_TRUE(WaitFor([&] { return count() == 2; }, 10s));
    EXPECT_TRUE(ranOn.empty());
    posted[0]();
    EXPECT_EQ(ranOn, std::vector<std::thread::id>{std::this_thread::get_id()});
    EXPECT_TRUE(pool.Shutdown(10s));
    posted[1]();
    EXPECT_EQ(ranOn.size(), 1u);
}

}  // namespace
