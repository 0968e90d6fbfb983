// SPDX-License-Identifier: MIT
#include "platform/service_notify.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#ifdef ZPMONI_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace zpmoni {

namespace {

void Notify([[maybe_unused]] const std::string& state)
{
#ifdef ZPMONI_HAVE_SYSTEMD
    sd_notify(0, state.c_str());
#endif
}

}  // namespace

namespace ServiceNotify {

void Ready() { Notify("READY=1"); }
void Watchdog() { Notify("WATCHDOG=1"); }
void Stopping() { Notify("STOPPING=1"); }

void Status(std::string_view text)
{
    // One line: a line break would end the assignment and start another.
    std::string state = "STATUS=";
    for (char c : text)
        state.push_back(c == '\n' || c == '\r' ? ' ' : c);
    Notify(state);
}

std::chrono::microseconds WatchdogPeriod()
{
    uint64_t usec = 0;
#ifdef ZPMONI_HAVE_SYSTEMD
    // Also checks $WATCHDOG_PID: a ping meant for a parent is not ours.
    if (sd_watchdog_enabled(0, &usec) <= 0)
        usec = 0;
#endif
    return std::chrono::microseconds(usec / 2);
}

}  // namespace ServiceNotify

bool StdoutIsJournal()
{
    const char* stream = std::getenv("JOURNAL_STREAM");
    uintmax_t device = 0, inode = 0;
    struct stat st {};
    return stream && std::sscanf(stream, "%" SCNuMAX ":%" SCNuMAX, &device, &inode) == 2 &&
           ::fstat(STDOUT_FILENO, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

std::string TerminalLine(LineKind kind, std::string_view text, bool journal)
{
    std::string line;
    if (journal)
        line = "<" + std::to_string(static_cast<int>(kind)) + ">";
    for (char c : text) {
        if (c == '\n')
            line += "\\x0a";
        else if (c == '\r')
            line += "\\x0d";
        else
            line.push_back(c);
    }
    line.push_back('\n');
    return line;
}

}  // namespace zpmoni
