// SPDX-License-Identifier: MIT
#include "web/console_guard.h"

#include <gtest/gtest.h>

using namespace zpmoni;

TEST(ConsoleGuard, HostAndOriginChecks)
{
    const HostCheck loopback("127.0.0.1", 8790, {"Mon.Example"}, false);
    const HostCheck tls("198.51.100.7", 443, {"mon.example"}, true);
    struct Case { const HostCheck& check; const char* value; bool host; bool origin; } cases[] = {
        {loopback, "127.0.0.1:8790", true, false}, {loopback, "localhost:8790", true, false},
        {loopback, "MON.example:8790", true, false}, {loopback, "http://127.0.0.1:8790", false, true},
        {loopback, "http://LOCALHOST:8790", false, true}, {loopback, "https://127.0.0.1:8790", false, false},
        {loopback, "evil.example:8790", false, false}, {loopback, "http://evil.example:8790", false, false},
        {loopback, "127.0.0.1:8791", false, false}, {loopback, "127.0.0.1.evil.example", false, false},
        {loopback, "127.0.0.1.evil.example:8790", false, false}, {loopback, "127.0.0.1", false, false},
        {loopback, "", false, false}, {loopback, "null", false, false}, {tls, "mon.example", true, false},
        {tls, "mon.example:443", true, false}, {tls, "localhost:443", false, false},
        {tls, "https://mon.example", false, true}, {tls, "http://mon.example", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.check.HostAllowed(c.value), c.host) << c.value;
        EXPECT_EQ(c.check.OriginAllowed(c.value), c.origin) << c.value;
    }
}

TEST(ConsoleGuard, LimiterRefusesTheSixthFailureUntilTheWindowPasses)
{
    LoginLimiter limiter(5, 60);
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(limiter.Allowed("198.51.100.1", 1000 + i));
        limiter.Failed("198.51.100.1", 1000 + i);
    }
    EXPECT_FALSE(limiter.Allowed("198.51.100.1", 1005) || limiter.Allowed("198.51.100.1", 1059));
    EXPECT_TRUE(limiter.Allowed("198.51.100.2", 1005) && limiter.Allowed("198.51.100.1", 1060));
}

TEST(ConsoleGuard, SessionsExpireAndEndWithTheirOperator)
{
    OperatorList list = OperatorList::Parse("alice admin " + HashToken("a") + "\nbob viewer " + HashToken("b") + "\n");
    SessionStore store(100);
    const Result<std::string> a = store.Open(*list.ByName("alice"), 1000);
    const Result<std::string> b = store.Open(*list.ByName("bob"), 1000);
    ASSERT_TRUE(a.ok() && b.ok());
    EXPECT_TRUE(a->size() == 43 && *a != *b);
    const ConsoleSession* s = store.Find(*a, 1099);
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(s->operatorName == "alice" && s->csrf.size() == 43 && s->csrf != *a);
    EXPECT_EQ(store.Find((a->front() == 'x' ? "y" : "x") + a->substr(1), 1099), nullptr);  // one character off
    EXPECT_EQ(store.Find(*a, 1100), nullptr);  // and gone from the store
    EXPECT_EQ(store.Count(), 1u);

    struct Case { std::string file; bool kept; } cases[] = {
        {"bob viewer " + HashToken("b"), true}, {"bob admin " + HashToken("b"), false},
        {"bob viewer " + HashToken("new"), false}, {"alice admin " + HashToken("a"), false},
    };
    for (const Case& c : cases) {
        SessionStore sessions;
        const Result<std::string> cookie = sessions.Open(*list.ByName("bob"), 0);
        ASSERT_TRUE(cookie.ok());
        sessions.Retain(OperatorList::Parse(c.file));
        EXPECT_EQ(sessions.Find(*cookie, 1) != nullptr, c.kept) << c.file;
    }
}

TEST(ConsoleGuard, SessionCountIsCapped)
{
    SessionStore store;
    const Operator op{"alice", OperatorRole::Viewer, HashToken("a")};
    const Result<std::string> first = store.Open(op, 0);
    for (int i = 1; i < 1100; ++i)
        ASSERT_TRUE(store.Open(op, i).ok());
    EXPECT_EQ(store.Count(), 1000u);
    EXPECT_EQ(store.Find(*first, 1100), nullptr);
}

TEST(ConsoleGuard, SecretsEqual)
{
    for (auto [a, b] : {std::pair{"abc", "abd"}, {"abc", "abcabc"}, {"abcabc", "abc"}, {"", "a"}, {"a", ""}})
        EXPECT_FALSE(SecretsEqual(a, b)) << a << " " << b;
    EXPECT_TRUE(SecretsEqual("abc", "abc") && SecretsEqual("", ""));
}
