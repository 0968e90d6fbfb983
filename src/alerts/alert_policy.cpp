// SPDX-License-Identifier: MIT
#include "alerts/alert_policy.h"

#include "base/ascii.h"

#include <algorithm>
#include <utility>

namespace zpmoni {

namespace {

constexpr std::string_view kKindNames[kAlertKinds] = {
    "server_down", "server_up",  "server_hung",     "crash_loop",    "scheduled_restart",
    "ban_added",   "ban_expired", "glimit_damage", "capture_drops", "log_write_failure",
};

// Length of the UTF-8 sequence at the start of `s`, 0 when it is not a valid one (overlong
// forms, surrogates and values beyond U+10FFFF included).
size_t Utf8Length(std::string_view s)
{
    const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = b(0);
    size_t n = 0;
    uint32_t min = 0;
    uint32_t value = 0;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2, min = 0x80, value = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 3, min = 0x800, value = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 4, min = 0x10000, value = c & 0x07;
    else
        return 0;
    if (s.size() < n)
        return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0) != 0x80)
            return 0;
        value = value << 6 | (b(i) & 0x3F);
    }
    if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    return n;
}

// At most `limit` bytes, cut before a character that does not fit, with an ellipsis.
std::string Shortened(std::string text, size_t limit)
{
    if (text.size() <= limit)
        return text;
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    text.resize(cut);
    return text + "\xE2\x80\xA6";
}

// Slack reads &, < and > as its own markup (links, @channel); the text shows them as written.
std::string SlackText(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out.push_back(c);
    }
    return out;
}

}  // namespace

std::string_view AlertKindName(AlertKind kind)
{
    return kKindNames[std::min(static_cast<size_t>(kind), kAlertKinds - 1)];
}

std::optional<AlertFormat> ParseAlertFormat(std::string_view text)
{
    if (AsciiEqualNoCase(text, "plain"))
        return AlertFormat::Plain;
    if (AsciiEqualNoCase(text, "discord"))
        return AlertFormat::Discord;
    if (AsciiEqualNoCase(text, "slack"))
        return AlertFormat::Slack;
    return std::nullopt;
}

std::string JsonEscaped(std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 8);
    while (!text.empty()) {
        const auto c = static_cast<unsigned char>(text[0]);
        const size_t n = Utf8Length(text);
        if (n == 0) {
            out += "\\ufffd";
            text.remove_prefix(1);
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else {
            out.append(text.substr(0, n));
        }
        text.remove_prefix(n);
    }
    return out;
}

std::string AlertBody(AlertFormat format, const Alert& alert, uint64_t dropped)
{
    std::string text = alert.text;
    if (alert.count > 1)
        text += " (the latest of " + std::to_string(alert.count) + " like this since the previous alert)";
    if (dropped != 0)
        text += "\n(" + std::to_string(dropped) + " older alerts were dropped: too many waiting)";
    switch (format) {
    case AlertFormat::Discord:
        // Names from the network must not ping a channel ("@everyone").
        return "{\"content\":\"" + JsonEscaped(text) + "\",\"allowed_mentions\":{\"parse\":[]}}";
    case AlertFormat::Slack:
        return "{\"text\":\"" + JsonEscaped(SlackText(text)) + "\"}";
    case AlertFormat::Plain:
        break;
    }
    return "{\"kind\":\"" + std::string(AlertKindName(alert.kind)) + "\",\"text\":\"" + JsonEscaped(alert.text) +
           "\",\"time\":" + std::to_string(alert.time) + ",\"count\":" + std::to_string(alert.count) +
           ",\"dropped\":" + std::to_string(dropped) + "}";
}

AlertPolicy::AlertPolicy(size_t count, Options o) : options(o), destinations(count)
{
    options.queueLimit = std::max<size_t>(options.queueLimit, 2);
}

bool AlertPolicy::Raise(AlertKind kind, std::string text, int64_t time, int64_t nowMs)
{
    if (static_cast<size_t>(kind) >= kAlertKinds)
        return false;
    Quiet& q = quiet[static_cast<size_t>(kind)];
    Alert alert{kind, Shortened(std::move(text), options.textLimit), time, 1};
    if (nowMs < q.untilMs) {
        ++q.folded;
        ++counts.folded;
        q.latest = std::move(alert);
        return false;
    }
    // A period that ended with events held back: they ride along with this one.
    alert.count += q.folded;
    q.folded = 0;
    q.untilMs = nowMs + options.quietMs;
    Queue(alert, nowMs);
    return true;
}

void AlertPolicy::Tick(int64_t nowMs)
{
    for (Quiet& q : quiet) {
        if (q.folded == 0 || nowMs < q.untilMs)
            continue;
        // The held-back events go out as one; that starts the next period.
        Alert alert = q.latest;
        alert.count = q.folded;
        q.folded = 0;
        q.untilMs = nowMs + options.quietMs;
        Queue(alert, nowMs);
    }
}

void AlertPolicy::Queue(const Alert& alert, int64_t nowMs)
{
    for (Destination& d : destinations) {
        if (d.queue.size() >= options.queueLimit) {
            // The oldest that is not being sent right now.
            d.queue.erase(d.queue.begin() + (d.inFlight ? 1 : 0));
            ++d.droppedSinceSent;
            ++counts.dropped;
        }
        d.queue.push_back({alert, nextId++, -1, nowMs, 0});
    }
}

std::optional<AlertPolicy::Delivery> AlertPolicy::NextDue(AlertFormat format, int64_t nowMs)
{
    for (size_t i = 0; i < destinations.size(); ++i) {
        Destination& d = destinations[i];
        if (d.inFlight || d.queue.empty() || nowMs < d.queue.front().nextTryMs)
            continue;
        Pending& p = d.queue.front();
        if (p.firstTryMs < 0)
            p.firstTryMs = nowMs;
        d.inFlight = true;
        p.dropsTold = d.droppedSinceSent;
        return Delivery{i, p.id, AlertBody(format, p.alert, p.dropsTold)};
    }
    return std::nullopt;
}

std::string AlertPolicy::Answered(size_t destination, uint64_t id, DeliveryOutcome outcome, std::string_view why,
                                  int64_t nowMs)
{
    if (destination >= destinations.size())
        return {};
    Destination& d = destinations[destination];
    d.inFlight = false;
    if (d.queue.empty() || d.queue.front().id != id)
        return {};
    const std::string name = "Alert webhook Url" + std::to_string(destination + 1);
    if (outcome == DeliveryOutcome::Delivered) {
        // Only the losses this body told of: more may have come while it was on its way.
        d.droppedSinceSent -= d.queue.front().dropsTold;
        d.queue.pop_front();
        if (!d.failing)
            return {};
        d.failing = false;
        return name + " delivers again after " + std::to_string(std::exchange(d.failures, 0)) + " failed attempts";
    }
    ++d.failures;
    Pending& p = d.queue.front();
    p.pauseMs = p.pauseMs == 0 ? options.firstRetryMs : std::min(p.pauseMs * 2, options.maxRetryMs);
    p.nextTryMs = nowMs + p.pauseMs;
    if (outcome == DeliveryOutcome::Rejected || p.nextTryMs - p.firstTryMs > options.retryForMs) {
        d.queue.pop_front();
        ++counts.expired;
    }
    if (std::exchange(d.failing, true))
        return {};
    std::string line = name + " failed: ";
    line.append(why);
    line += outcome == DeliveryOutcome::Rejected ? "; the alert was refused and dropped"
                                                 : "; each alert is retried for up to " +
                                                       std::to_string(options.retryForMs / 60'000) + " minutes";
    return line;
}

AlertPolicy::Counts AlertPolicy::Totals() const
{
    Counts c = counts;
    for (const Destination& d : destinations)
        c.queued += d.queue.size();
    return c;
}

}  // namespace zpmoni
