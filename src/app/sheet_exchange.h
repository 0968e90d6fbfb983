// SPDX-License-Identifier: MIT
#pragma once

#include "access/deny_entry.h"
#include "base/monitor_settings.h"
#include "client/glimit_values.h"
#include "server/server_start_values.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace zpmoni {

// The values of the five pages of the settings sheet. The start-up and schedule pages each hold
// a copy of the settings, of which they edit the keys of their page.
struct SheetValues {
    ServerStartValues bootconf;
    MonitorSettings schedule;
    std::string packFile;
    DenyList denyList;
    GlimitValues glimit;
};

// The event-log flags the log tab holds.
struct EventLogFlags {
    int32_t displayLogin = 1;
    int32_t displayJoin = 1;
    int32_t createLogfile = 1;
};

// What a confirmed sheet acts on, one operation per step; ApplySheet calls them in its order.
class SheetTarget {
public:
    virtual ~SheetTarget() = default;
    virtual MonitorSettings& Settings() = 0;
    // The main window's own values: the log tab's flags and the error-dialog watch period.
    virtual void SetWindowValues(const EventLogFlags& flags, int32_t closeIntervalMs) = 0;
    virtual void LoadPackIndex() = 0;  // from the file Settings().packFile names
    virtual void StopCapture() = 0;
    virtual void ReplaceDenyList(const DenyList& list) = 0;
    virtual void StartCapture() = 0;
    virtual void InstallIpFilters() = 0;
    virtual void WriteDenyFile() = 0;
    virtual void SaveSettings() = 0;
    // The switch, the limits (already normalised) and the damage interval with step 1, the chat-log
    // flag of the connection, the limiter's section of the settings file, the protocol version.
    virtual void ApplyGlimit(const GlimitValues& glimit, bool chatLog) = 0;
    // Name resolution on or off; when on, every online player is resolved again.
    virtual void ResolveNames(bool on) = 0;
    virtual bool ServerRunning() = 0;
    virtual void SetErrorDialogTimer(int32_t ms) = 0;
    // The client connection goes down and, with the limiter on, logs on again at the port.
    virtual void Reconnect(bool logOn, uint16_t port) = 0;
};

// The pages' values from what is in force.
SheetValues SheetValuesFrom(const MonitorSettings& s, const EventLogFlags& flags,
                            int32_t closeIntervalMs, const DenyList& denyList,
                            const GlimitValues& glimit);

// Takes the confirmed values over and re-applies everything, in this order: settings copied,
// pack index reloaded, capture stopped, the new deny list, capture started, rules installed (on
// the interface the sheet chose, replacing those in force in one step), deny file and settings
// file written, G limiter, name resolution, error-dialog timer, client connection logged on
// again. Every step runs on every confirmation, changed or not.
void ApplySheet(const SheetValues& values, SheetTarget& target);

// The watch period in seconds as whole milliseconds, at least 1.
int32_t CloseIntervalMs(double seconds);

}  // namespace zpmoni
