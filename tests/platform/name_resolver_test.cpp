// SPDX-License-Identifier: MIT
#include "platform/name_resolver.h"

#include "support/child_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
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

// The answers run where the poster sends them: here on this thread, when the test runs them;
// one still waiting when the pool shuts down runs to nothing.
TEST(ResolverPoolTest, BoundsThreadsAndQueueAndRemembersAnswers)
{
    GatedLookup lookup;
    std::mutex mutex;
    std::vector<std::function<void()>> posted;
    ResolverPool pool(std::ref(lookup), [&](std::function<void()> delivery) {
        std::lock_guard lock(mutex);
        posted.push_back(std::move(delivery));
    });
    size_t answered = 0;
    for (uint32_t a = 1; a <= ResolverPool::kQueued; ++a)
        ASSERT_TRUE(pool.Resolve(a, [&](const Name&) { ++answered; })) << a;
    ASSERT_TRUE(WaitFor([&] { return lookup.calls == ResolverPool::kThreads; }, 10s));
    // Full, even for an address already being looked up: that one stays unresolved.
    EXPECT_FALSE(pool.Resolve(1, [](const Name&) {}));
    lookup.open.set_value();
    EXPECT_TRUE(WaitFor([&] { std::lock_guard lock(mutex); return posted.size() == ResolverPool::kQueued; }, 10s));
    EXPECT_EQ(lookup.maxRunning, ResolverPool::kThreads);
    for (size_t i = 1; i < posted.size(); ++i)
        posted[i]();
    EXPECT_EQ(answered, ResolverPool::kQueued - 1);
    // Answered at once from what was learnt, without another lookup.
    Name name;
    EXPECT_TRUE(pool.Resolve(1, [&](const Name& n) { name = n; }));
    EXPECT_EQ(name, "one.example");
    EXPECT_EQ(lookup.calls, static_cast<int>(ResolverPool::kQueued));
    EXPECT_TRUE(pool.Shutdown());
    posted[0]();
    EXPECT_EQ(answered, ResolverPool::kQueued - 1);
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

}  // namespace
