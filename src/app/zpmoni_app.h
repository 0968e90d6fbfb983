// SPDX-License-Identifier: MIT
#pragma once

#include "base/clock.h"
#include "base/monitor_settings.h"
#include "base/profile_store.h"
#include "capture/decoder.h"
#include "capture/log_files.h"
#include "capture/pack_index.h"
#include "capture/packetcap.h"
#include "capture/player_table.h"
#include "platform/name_resolver.h"

#include <functional>
#include <string>
#include <string_view>

// The one application object: owns the long-lived state of the run and the start-up and
// shut-down steps around the main window (or the headless loop).
class CZpmoniApp {
public:
    // workdir is the program's current folder: Zpmoni.ini, Log and ipfilter.txt live there.
    CZpmoniApp(std::string workdir, const Clock& clock);
    ~CZpmoniApp();
    CZpmoniApp(const CZpmoniApp&) = delete;
    CZpmoniApp& operator=(const CZpmoniApp&) = delete;

    // Start-up before the main window: settings, local addresses, Log folder, pack index.
    // `message` shows what the user must see (a message box in the window program).
    void StartUp(const std::function<void(std::string_view)>& message);
    // Starts the capture on the InterfaceNumber's address; a failure goes to the error log.
    void StartCapture(CPacketcap::Handler handler);
    void StopCapture();

    void WriteErrorLog(std::string_view text) { errorLog.Write(text); }

    const std::string workdir;
    const Clock& clock;
    ProfileStore profile;
    MonitorSettings settings;
    DailyLog dailyLog;
    ErrorLog errorLog;
    ResolverPool resolver;
    PlayerTable players;
    LocalAddressTable localAddresses;
    PackIndex packIndex;
    CPacketcap capture;
    bool capturing = false;
};
