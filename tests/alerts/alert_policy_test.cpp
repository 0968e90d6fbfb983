// SPDX-License-Identifier: MIT
#include "alerts/alert_policy.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

using namespace zpmoni;

namespace {

constexpr int64_t kS = 1000;
const AlertKind kDown = AlertKind::ServerDown, kHung = AlertKind::ServerHung;

// Sends everything due at `now` to webhooks that all answer `outcome`, adding the bodies to `out`.
void Flush(AlertPolicy& p, int64_t now, std::vector<std::string>& out, DeliveryOutcome outcome = DeliveryOutcome::Delivered)
{
    while (std::optional<AlertPolicy::Delivery> d = p.NextDue(AlertFormat::Slack, now)) {
        out.push_back(d->body.substr(9, d->body.size() - 11));  // the text of {"text":"..."}
        (void)p.Answered(d->destination, d->id, outcome, "HTTP 500", now);
    }
}

// Each kind is sent at once, then held back for the quiet period; what was held back goes out
// as one alert, with its count, when the period ends (on a tick or with the kind's next event).
TEST(AlertPolicy, QuietPeriodFoldsBursts)
{
    const struct Case {
        int64_t quietMs;
        std::vector<std::tuple<int64_t, AlertKind, const char*>> events;
        int64_t lastTick;
        std::vector<std::string> sent;
    } cases[] = {
        {300 * kS, {{0, kDown, "a"}, {kS, kDown, "b"}, {2 * kS, kDown, "c"}, {3 * kS, kDown, "d"}}, 300 * kS,
         {"a", "d (the latest of 3 like this since the previous alert)"}},
        {300 * kS, {{0, kDown, "a"}, {kS, kDown, "b"}}, 299 * kS, {"a"}},  // not over yet
        {300 * kS, {{0, kDown, "a"}, {kS, kDown, "b"}}, 301 * kS, {"a", "b"}},  // one held back goes as itself
        // The next event after the period carries those held back.
        {300 * kS, {{0, kDown, "a"}, {kS, kDown, "b"}, {400 * kS, kDown, "c"}}, 0,
         {"a", "c (the latest of 2 like this since the previous alert)"}},
        // Kinds have periods of their own; a period of 0 folds nothing.
        {300 * kS, {{0, kDown, "a"}, {kS, kHung, "h"}}, 0, {"a", "h"}},
        {0, {{0, kDown, "a"}, {0, kDown, "b"}}, 0, {"a", "b"}},
    };
    for (const Case& c : cases) {
        AlertPolicy p(1, {.quietMs = c.quietMs});
        std::vector<std::string> sent;
        for (const auto& [at, kind, text] : c.events) {
            p.Raise(kind, text, 0, at);
            Flush(p, at, sent);
        }
        p.Tick(c.lastTick);
        Flush(p, c.lastTick, sent);
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
    for (int i = 1; i < 105; ++i)
        p.Raise(AlertKind::BanAdded, "ban " + std::to_string(i), 0, 0);
    EXPECT_EQ(p.Totals().queued, 200u);
    EXPECT_EQ(p.Totals().dropped, 10u);  // five per webhook
    (void)p.Answered(0, out ? out->id : 0, DeliveryOutcome::Delivered, {}, 0);
    std::vector<std::string> sent;
    Flush(p, 0, sent);  // the first webhook's, then the second's
    const std::string note = "\\n(5 older alerts were dropped: too many waiting)";
    ASSERT_EQ(sent.size(), 199u);
    EXPECT_EQ(sent[0], "ban 6" + note);
    EXPECT_EQ(sent[1], "ban 7");
    EXPECT_EQ(sent[99], "ban 5" + note);
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
    // Refused outright: dropped without a retry, and the episode is still the same one.
    p.Raise(AlertKind::ServerUp, "up", 0, 800 * kS);
    std::vector<std::string> sent;
    Flush(p, 800 * kS, sent, DeliveryOutcome::Rejected);
    EXPECT_EQ(sent, std::vector<std::string>{"up"});
    EXPECT_EQ(p.Totals().queued, 0u);
    p.Raise(AlertKind::ServerHung, "hung", 0, 801 * kS);
    const std::optional<AlertPolicy::Delivery> d = p.NextDue(AlertFormat::Plain, 801 * kS);
    lines.push_back(p.Answered(0, d ? d->id : 0, DeliveryOutcome::Delivered, {}, 801 * kS));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Alert webhook Url1 failed: timed out; each alert is retried for up to 10 minutes",
                         "Alert webhook Url1 delivers again after 10 failed attempts"}));
}

// Every format gives valid JSON for any bytes: quotes, control bytes, broken UTF-8 and
// Shift_JIS from the network; Slack's and Discord's own markup cannot ping anyone.
TEST(AlertPolicy, BodiesEscapeEveryText)
{
    const std::tuple<AlertFormat, std::string, std::string> cases[] = {
        {AlertFormat::Plain, "Ban added: \"x\\y\"\n\x01\x1f\x7f", "{\"kind\":\"ban_added\",\"text\":\"Ban added: "
         "\\\"x\\\\y\\\"\\n\\u0001\\u001f\\u007f\",\"time\":1700000000,\"count\":1,\"dropped\":0}"},
        // Shift_JIS, a lone continuation byte, an overlong slash, a surrogate, a cut sequence.
        {AlertFormat::Slack, "\x83\x65\x80/\xC0\xAF/\xED\xA0\x80/\xE6\xA9",
         "{\"text\":\"\\ufffde\\ufffd/\\ufffd\\ufffd/\\ufffd\\ufffd\\ufffd/\\ufffd\\ufffd\"}"},
        {AlertFormat::Slack, "機 <!channel> & <@U1>", "{\"text\":\"機 &lt;!channel&gt; &amp; &lt;@U1&gt;\"}"},
        {AlertFormat::Discord, "@everyone \xF0\x9F\x9B\xA9", "{\"content\":\"@everyone \xF0\x9F\x9B\xA9\","
         "\"allowed_mentions\":{\"parse\":[]}}"},
    };
    for (const auto& [format, text, body] : cases) {
        AlertPolicy p(1, {});
        p.Raise(AlertKind::BanAdded, text, 1700000000, 0);
        EXPECT_EQ(p.NextDue(format, 0).value_or(AlertPolicy::Delivery{}).body, body);
    }
    // A long text is cut before a character that does not fit.
    AlertPolicy p(1, {.textLimit = 4});
    p.Raise(AlertKind::ServerUp, "ab機", 0, 0);
    EXPECT_EQ(p.NextDue(AlertFormat::Slack, 0)->body, "{\"text\":\"ab…\"}");
}

}  // namespace
