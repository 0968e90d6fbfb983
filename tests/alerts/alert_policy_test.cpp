// SPDX-License-Identifier: MIT
#include "alerts/alert_policy.h"

#include <gtest/gtest.h>

#include <vector>

using namespace zpmoni;

namespace {

constexpr int64_t kS = 1000;

// Sends everything due at `now` to webhooks that all answer `outcome`; the bodies, in order.
std::vector<std::string> Flush(AlertPolicy& p, int64_t now, DeliveryOutcome outcome = DeliveryOutcome::Delivered)
{
    std::vector<std::string> bodies;
    while (std::optional<AlertPolicy::Delivery> d = p.NextDue(AlertFormat::Slack, now)) {
        bodies.push_back(d->body);
        (void)p.Answered(d->destination, d->id, outcome, "HTTP 500", now);
    }
    return bodies;
}

struct Event {
    int64_t atMs;
    AlertKind kind;
    const char* text;
};

// Each kind is sent at once, then held back for the quiet period; what was held back goes out
// as one alert, with its count, when the period ends (on a tick or with the kind's next event).
TEST(AlertPolicy, QuietPeriodFoldsBursts)
{
    const AlertKind down = AlertKind::ServerDown, hung = AlertKind::ServerHung;
    const struct Case {
        int64_t quietMs;
        std::vector<Event> events;
        int64_t lastTick;
        std::vector<std::string> sent;
    } cases[] = {
        {300 * kS, {{0, down, "a"}, {1 * kS, down, "b"}, {2 * kS, down, "c"}, {3 * kS, down, "d"}}, 300 * kS,
         {"{\"text\":\"a\"}", "{\"text\":\"d (the latest of 3 like this since the previous alert)\"}"}},
        // Not yet over at 299 s.
        {300 * kS, {{0, down, "a"}, {1 * kS, down, "b"}}, 299 * kS, {"{\"text\":\"a\"}"}},
        // One held back is sent as itself.
        {300 * kS, {{0, down, "a"}, {1 * kS, down, "b"}}, 301 * kS, {"{\"text\":\"a\"}", "{\"text\":\"b\"}"}},
        // The next event after the period carries those held back.
        {300 * kS, {{0, down, "a"}, {1 * kS, down, "b"}, {400 * kS, down, "c"}}, 0,
         {"{\"text\":\"a\"}", "{\"text\":\"c (the latest of 2 like this since the previous alert)\"}"}},
        // Kinds have periods of their own; a period of 0 folds nothing.
        {300 * kS, {{0, down, "a"}, {1 * kS, hung, "h"}}, 0, {"{\"text\":\"a\"}", "{\"text\":\"h\"}"}},
        {0, {{0, down, "a"}, {0, down, "b"}}, 0, {"{\"text\":\"a\"}", "{\"text\":\"b\"}"}},
    };
    for (const Case& c : cases) {
        AlertPolicy p(1, {.quietMs = c.quietMs});
        std::vector<std::string> sent;
        for (const Event& e : c.events) {
            p.Raise(e.kind, e.text, 0, e.atMs);
            for (std::string& b : Flush(p, e.atMs))
                sent.push_back(b);
        }
        p.Tick(c.lastTick);
        for (std::string& b : Flush(p, c.lastTick))
            sent.push_back(b);
        EXPECT_EQ(sent, c.sent) << c.events.size() << " events, tick at " << c.lastTick;
    }
}

// A webhook that does not answer keeps at most the limit; the oldest waiting go (never the one
// on its way) and the next body sent says how many.
TEST(AlertPolicy, QueueKeepsTheNewestAndCountsTheRest)
{
    AlertPolicy p(2, {.quietMs = 0, .queueLimit = 100});
    p.Raise(AlertKind::BanAdded, "first", 0, 0);
    const std::optional<AlertPolicy::Delivery> out = p.NextDue(AlertFormat::Slack, 0);
    ASSERT_TRUE(out);
    for (int i = 1; i < 105; ++i)
        p.Raise(AlertKind::BanAdded, "ban " + std::to_string(i), 0, 0);
    EXPECT_EQ(p.Totals().queued, 200u);
    EXPECT_EQ(p.Totals().dropped, 10u);  // five per webhook
    (void)p.Answered(out->destination, out->id, DeliveryOutcome::Delivered, {}, 0);
    const char* note = "\\n(5 older alerts were dropped: too many waiting)\"}";
    std::vector<std::string> bodies;
    std::vector<AlertPolicy::Delivery> sent;
    while (std::optional<AlertPolicy::Delivery> d = p.NextDue(AlertFormat::Slack, 0))
        bodies.push_back(d->body), sent.push_back(*d);
    for (const AlertPolicy::Delivery& d : sent)
        (void)p.Answered(d.destination, d.id, DeliveryOutcome::Delivered, {}, 0);
    bodies.push_back(p.NextDue(AlertFormat::Slack, 0)->body);
    EXPECT_EQ(bodies, (std::vector<std::string>{"{\"text\":\"ban 6" + std::string(note),
                                                "{\"text\":\"ban 5" + std::string(note), "{\"text\":\"ban 7\"}"}));
}

// A failing webhook: pauses of 5, 10, 20 ... 120 s, given up 10 minutes after the first try;
// one error-log line when the failures begin and one when a delivery succeeds again.
TEST(AlertPolicy, RetriesWithGrowingPausesForTenMinutes)
{
    AlertPolicy p(1, {});
    p.Raise(AlertKind::ServerDown, "down", 0, 0);
    std::vector<int64_t> tries;
    std::vector<std::string> lines;
    for (int64_t now = 0; now <= 700 * kS; now += kS) {
        if (std::optional<AlertPolicy::Delivery> d = p.NextDue(AlertFormat::Plain, now)) {
            tries.push_back(now / kS);
            if (std::string line = p.Answered(0, d->id, DeliveryOutcome::Retry, "timed out", now); !line.empty())
                lines.push_back(line);
        }
    }
    EXPECT_EQ(tries, (std::vector<int64_t>{0, 5, 15, 35, 75, 155, 275, 395, 515}));
    EXPECT_EQ(p.Totals().expired, 1u);
    EXPECT_EQ(p.Totals().queued, 0u);
    // Refused outright: dropped without a retry, and the episode is still the same one.
    p.Raise(AlertKind::ServerUp, "up", 0, 800 * kS);
    EXPECT_EQ(Flush(p, 800 * kS, DeliveryOutcome::Rejected).size(), 1u);
    EXPECT_EQ(p.Totals().queued, 0u);
    p.Raise(AlertKind::ServerHung, "hung", 0, 801 * kS);
    std::optional<AlertPolicy::Delivery> d = p.NextDue(AlertFormat::Plain, 801 * kS);
    ASSERT_TRUE(d);
    lines.push_back(p.Answered(0, d->id, DeliveryOutcome::Delivered, {}, 801 * kS));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Alert webhook Url1 failed: timed out; each alert is retried for up to 10 minutes",
                         "Alert webhook Url1 delivers again after 10 failed attempts"}));
}

// Every format gives valid JSON for any bytes: quotes, control bytes, broken UTF-8 and
// Shift_JIS from the network; Slack's and Discord's own markup cannot ping anyone.
TEST(AlertPolicy, BodiesEscapeEveryText)
{
    const struct Case {
        AlertFormat format;
        std::string text;
        std::string body;
    } cases[] = {
        {AlertFormat::Plain, "Ban added: \"x\\y\"\n\x01\x1f\x7f", "{\"kind\":\"ban_added\",\"text\":\"Ban added: "
         "\\\"x\\\\y\\\"\\n\\u0001\\u001f\\u007f\",\"time\":1700000000,\"count\":1,\"dropped\":0}"},
        // Shift_JIS, a lone continuation byte, an overlong slash, a surrogate, a cut sequence.
        {AlertFormat::Slack, "\x83\x65\x80/\xC0\xAF/\xED\xA0\x80/\xE6\xA9",
         "{\"text\":\"\\ufffde\\ufffd/\\ufffd\\ufffd/\\ufffd\\ufffd\\ufffd/\\ufffd\\ufffd\"}"},
        {AlertFormat::Slack, "機 <!channel> & <@U1>", "{\"text\":\"機 &lt;!channel&gt; &amp; &lt;@U1&gt;\"}"},
        {AlertFormat::Discord, "@everyone \xF0\x9F\x9B\xA9", "{\"content\":\"@everyone \xF0\x9F\x9B\xA9\","
         "\"allowed_mentions\":{\"parse\":[]}}"},
    };
    for (const Case& c : cases) {
        AlertPolicy p(1, {});
        p.Raise(AlertKind::BanAdded, c.text, 1700000000, 0);
        std::optional<AlertPolicy::Delivery> d = p.NextDue(c.format, 0);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->body, c.body);
    }
    // A long text is cut before a character that does not fit.
    AlertPolicy p(1, {.textLimit = 4});
    p.Raise(AlertKind::ServerUp, "ab機", 0, 0);
    EXPECT_EQ(p.NextDue(AlertFormat::Slack, 0)->body, "{\"text\":\"ab…\"}");
    EXPECT_EQ(ParseAlertFormat("Discord"), AlertFormat::Discord);
    EXPECT_EQ(ParseAlertFormat("teams"), std::nullopt);
}

}  // namespace
