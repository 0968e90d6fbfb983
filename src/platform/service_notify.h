// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace zpmoni {

// The service manager's notify protocol (systemd, Type=notify): each call is a no-op when the
// program was not started by one ($NOTIFY_SOCKET unset) or was built without libsystemd.
namespace ServiceNotify {
void Ready();
void Status(std::string_view text);
void Watchdog();
void Stopping();
// How often the watchdog wants its ping: half of $WATCHDOG_USEC, zero when there is none.
std::chrono::microseconds WatchdogPeriod();
}  // namespace ServiceNotify

// What a line of the terminal run reports, as its syslog priority.
enum class LineKind { Error = 3, Event = 6 };

// Whether stdout is the journal's stream: $JOURNAL_STREAM names the very file stdout is, not
// one that a child of the service inherited.
bool StdoutIsJournal();

// One terminal line: line breaks escaped (a line must stay one journal entry), the priority
// prefix "<N>" for the journal, the newline.
std::string TerminalLine(LineKind kind, std::string_view text, bool journal);

}  // namespace zpmoni
