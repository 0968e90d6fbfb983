// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zpmoni {

// What the operator is told of, one quiet period per kind.
enum class AlertKind : uint8_t {
    ServerDown,
    ServerUp,
    ServerHung,
    CrashLoop,
    ScheduledRestart,
    BanAdded,
    BanExpired,
    GlimitDamage,
    CaptureDrops,
    LogWriteFailure,
    kCount
};
inline constexpr size_t kAlertKinds = static_cast<size_t>(AlertKind::kCount);

// The kind's name in a generic body ("server_down").
std::string_view AlertKindName(AlertKind kind);

// How a webhook wants its body: a generic JSON object, Discord's or Slack's message.
enum class AlertFormat : uint8_t { Plain, Discord, Slack };
// "plain", "discord" or "slack", in any case; nothing for another word.
std::optional<AlertFormat> ParseAlertFormat(std::string_view text);

// The text as the inside of a JSON string: quote, backslash and every control byte escaped,
// bytes that are not UTF-8 replaced by U+FFFD, so that any input gives a valid document.
std::string JsonEscaped(std::string_view text);

// One alert as it goes out.
struct Alert {
    AlertKind kind = AlertKind::ServerDown;
    std::string text;
    int64_t time = 0;      // calendar seconds of the (last) event
    uint32_t count = 1;    // events of the kind it stands for: more than one after a quiet period
};

// The POST body of an alert in a format. `dropped` older alerts to the same webhook were lost to
// the queue's bound; the text says so.
std::string AlertBody(AlertFormat format, const Alert& alert, uint64_t dropped = 0);

// What a webhook's answer means for the alert.
enum class DeliveryOutcome : uint8_t { Delivered, Retry, Rejected };

// Decides what is sent where and when, with no event loop and no network: each kind at most
// once per quiet period (the rest folded into one alert at the period's end, with their count),
// one queue per webhook bounded in length (the oldest go, counted), one delivery in flight per
// webhook, failed ones retried with growing pauses until they are `retryForMs` old. Times are
// monotonic milliseconds handed in by the caller.
class AlertPolicy {
public:
    struct Options {
        int64_t quietMs = 300'000;
        size_t queueLimit = 100;
        int64_t retryForMs = 600'000;
        int64_t firstRetryMs = 5'000;
        int64_t maxRetryMs = 120'000;
        size_t textLimit = 1'500;  // bytes of text; Discord takes 2,000 characters
    };
    // Webhooks are numbered 0 to destinations - 1.
    AlertPolicy(size_t destinations, Options options);

    // An event at `nowMs` (calendar seconds `time`): queued for every webhook unless its kind's
    // quiet period runs, then counted and kept as the kind's latest text. True when queued.
    bool Raise(AlertKind kind, std::string text, int64_t time, int64_t nowMs);

    // The next body due to be sent, if any: at most one per webhook at a time, its answer
    // expected through Answered.
    struct Delivery {
        size_t destination = 0;
        uint64_t id = 0;
        std::string body;
    };
    std::optional<Delivery> NextDue(AlertFormat format, int64_t nowMs);
    // The webhook answered the delivery (or did not, in time). Returns an error-log line at the
    // start and at the end of a webhook's run of failures, empty otherwise.
    std::string Answered(size_t destination, uint64_t id, DeliveryOutcome outcome, std::string_view why,
                         int64_t nowMs);
    // Releases the folded alerts whose quiet period has ended; call it now and then (a second).
    void Tick(int64_t nowMs);

    struct Counts {
        size_t queued = 0;     // alerts waiting, all webhooks
        uint64_t dropped = 0;  // lost to the queue's bound
        uint64_t expired = 0;  // given up after retryForMs, or refused by the webhook
        uint64_t folded = 0;   // held back by quiet periods
    };
    Counts Totals() const;

private:
    struct Pending {
        Alert alert;
        uint64_t id = 0;
        int64_t firstTryMs = -1;  // -1: not tried yet
        int64_t nextTryMs = 0;
        int64_t pauseMs = 0;
        uint64_t dropsTold = 0;  // the losses the last body sent told of
    };
    struct Destination {
        std::deque<Pending> queue;
        bool inFlight = false;
        bool failing = false;
        uint64_t failures = 0;
        uint64_t droppedSinceSent = 0;
    };
    struct Quiet {
        int64_t untilMs = -1;  // the period runs while nowMs < untilMs
        uint32_t folded = 0;
        Alert latest;
    };

    void Queue(const Alert& alert, int64_t nowMs);

    Options options;
    std::vector<Destination> destinations;
    std::array<Quiet, kAlertKinds> quiet{};
    uint64_t nextId = 1;
    Counts counts;
};

}  // namespace zpmoni
