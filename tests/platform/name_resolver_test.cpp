// SPDX-License-Identifier: MIT
#include "platform/name_resolver.h"

#include "support/child_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {

using namespace std::chrono_literals;

// Lookups that wait for the test to open the gate; address 1 is "one.example", others have no
// name. Counts the calls and the most that ran at once.
struct Gate {
    std::optional<std::string> Lookup(uint32_t address)
    {
        std::unique_lock lock(mutex);
        ++calls;
        maxRunning = std::max(maxRunning, ++running);
        changed.notify_all();
        changed.wait(lock, [&] { return open; });
        --running;
        return address == 1 ? std::optional<std::string>("one.example") : std::nullopt;
    }
    void Open()
    {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
    bool AwaitCalls(int n)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return calls >= n; });
    }
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    int calls = 0, running = 0, maxRunning = 0;
};

TEST(ResolverPoolTest, BoundsThreadsAndQueueAndRemembersAnswers)
{
    Gate gate;
    ResolverPool pool([&](uint32_t a) { return gate.Lookup(a); });
    std::atomic<size_t> answered = 0;
    auto count = [&](const std::optional<std::string>&) { ++answered; };
    for (uint32_t a = 1; a <= ResolverPool::kQueued; ++a)
        ASSERT_TRUE(pool.Resolve(a, count)) << a;
    ASSERT_TRUE(gate.AwaitCalls(ResolverPool::kThreads));
    // Full, even for an address already being looked up: that one stays unresolved.
    EXPECT_FALSE(pool.Resolve(1, count));
    gate.Open();
    EXPECT_TRUE(WaitFor([&] { return answered == ResolverPool::kQueued; }, 10s));
    EXPECT_EQ(gate.maxRunning, ResolverPool::kThreads);
    // Answered at once from what was learnt, without another lookup.
    std::optional<std::string> name;
    EXPECT_TRUE(pool.Resolve(1, [&](const std::optional<std::string>& n) { name = n; }));
    EXPECT_EQ(name, "one.example");
    EXPECT_EQ(gate.calls, static_cast<int>(ResolverPool::kQueued));
}

TEST(ResolverPoolTest, ShutDownGivesUpOnStuckLookupsAndDeliversNothingAfter)
{
    Gate gate;
    ResolverPool pool([&](uint32_t a) { return gate.Lookup(a); });
    std::atomic<bool> answered = false;
    ASSERT_TRUE(pool.Resolve(1, [&](const std::optional<std::string>&) { answered = true; }));
    ASSERT_TRUE(pool.Resolve(2, [&](const std::optional<std::string>&) { answered = true; }));
    ASSERT_TRUE(gate.AwaitCalls(2));
    EXPECT_FALSE(pool.Shutdown(50ms));  // the lookups are stuck
    EXPECT_FALSE(pool.Resolve(3, [](const std::optional<std::string>&) {}));
    gate.Open();
    EXPECT_TRUE(pool.Shutdown(10s));  // now they have ended, and their answers went nowhere
    EXPECT_FALSE(answered);
}

}  // namespace
