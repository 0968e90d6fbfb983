// SPDX-License-Identifier: MIT
#pragma once

#include "base/result.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace zpmoni {

// An operator's request to change something, as the console received it (already checked for
// form: addresses parse, texts have no control characters).
struct ConsoleAction {
    enum class Kind { Ban, Unban, Say, Start, Stop, Restart, TakeOver };
    Kind kind = Kind::Start;
    std::string address;  // Ban, Unban: "a.b.c.d" or "a.b.c.d/N"
    std::string mask;     // Ban: dotted, "/N" or empty for one host
    std::string comment;  // Ban
    std::string text;     // Say
};

// What the monitor counts for the metrics scrape; counters only ever grow within a run.
struct MetricsSnapshot {
    uint64_t playersOnline = 0;
    uint64_t playersFlying = 0;
    uint64_t datagramsIn = 0;  // to the server
    uint64_t datagramsOut = 0;
    uint64_t bytesIn = 0;
    uint64_t bytesOut = 0;
    uint64_t captureDrops = 0;
    uint64_t decoderRejects = 0;
    bool serverUp = false;
    // By cause: "operator", "schedule", "crash", "hang".
    std::map<std::string, uint64_t> restartsByCause;
    uint64_t damageSent = 0;
    uint64_t bansInForce = 0;
    bool clientConnected = false;
    uint64_t logWriteFailures = 0;
};

// The monitor as the console sees it: every answer in the API's JSON shape (docs/api.md), every
// operation through the same services the main window uses. Called on the event-loop thread.
class ConsoleBackend {
public:
    virtual ~ConsoleBackend() = default;

    virtual QJsonObject Status() = 0;                   // GET /api/v1/status
    virtual QJsonObject Rates() = 0;                    // GET /api/v1/rates
    virtual QJsonArray Players() = 0;                   // the "players" array
    virtual QJsonObject Events(uint64_t since) = 0;     // {"last", "events"}
    virtual QJsonObject Chat(uint64_t since) = 0;       // {"last", "chat"}
    virtual QJsonObject Bans() = 0;                     // {"installed", "bans"}
    virtual QJsonObject Server() = 0;                   // {"server", "schedule", "log"}
    virtual MetricsSnapshot Metrics() = 0;

    // Performs the action for the operator `who` (the name the action log shows); a refusal
    // comes back as a Failure in the words the window would use.
    virtual zpmoni::Status Perform(std::string_view who, const ConsoleAction& action) = 0;
};

}  // namespace zpmoni
