// SPDX-License-Identifier: MIT
#pragma once

#include "base/log_files.h"
#include "capture/player_table.h"

#include <array>
#include <string>

namespace zpmoni {

// The eight column texts of one event list row: time, user name, address, port, IFF,
// aircraft (or LOGIN/LOGOUT), pack, start position.
using EventRow = std::array<std::string, 8>;

class EventRowSink {
public:
    virtual ~EventRowSink() = default;
    virtual void AppendRow(const EventRow& row) = 0;
};

// Turns log-ons, log-offs and joins into event list rows and daily-log lines.
class EventLog {
public:
    EventLog(LineWriter& dailyLog, const Clock& clock) : dailyLog(dailyLog), clock(clock) {}

    void SetRowSink(EventRowSink* sink) { rows = sink; }

    void LogonEntry(int64_t eventTime, const PlayerRecord& record);
    void LogoffEntry(int64_t eventTime, const PlayerRecord& record);
    void JoinEntry(int64_t eventTime, const PlayerRecord& record);

    // The event-log settings; the event list page loads and stores them.
    int displayLogin = 1;
    int displayJoin = 1;
    int createLogfile = 1;

private:
    void PresenceEntry(int64_t eventTime, const PlayerRecord& record, const char* word);

    LineWriter& dailyLog;
    const Clock& clock;
    EventRowSink* rows = nullptr;
};

}  // namespace zpmoni
