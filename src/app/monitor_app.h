// SPDX-License-Identifier: MIT
#pragma once

#include "access/access_service.h"
#include "alerts/alert_service.h"
#include "base/clock.h"
#include "base/monitor_settings.h"
#include "base/settings_snapshot.h"
#include "base/profile_store.h"
#include "capture/capture_service.h"
#include "base/log_files.h"
#include "history/history_service.h"
#include "packlist/pack_index.h"
#include "server/server_service.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace zpmoni {

// The one application object: owns the long-lived state of the run and the start-up and
// shut-down steps around the main window (or the headless loop).
class MonitorApp {
public:
    // workdir is the program's current folder: Zpmoni.ini, Log and ipfilter.txt live there.
    MonitorApp(std::string workdir, const Clock& clock);
    ~MonitorApp();
    MonitorApp(const MonitorApp&) = delete;
    MonitorApp& operator=(const MonitorApp&) = delete;

    // Start-up before the main window: settings, local addresses, Log folder, pack index, the
    // time watch, and the deny list read from ipfilter.txt and put in force.
    // `message` shows what the user must see (a message box in the window program).
    void StartUp(const std::function<void(std::string_view)>& message);
    // The aircraft-to-pack index from the file PackFile names (relative to the working folder).
    void LoadPackIndex();

    void WriteErrorLog(std::string_view text) { errorLog.Write(text); }

    // A file's problem, if any, in the error log; whether the read or write was whole.
    bool FileReport(std::string_view action, const std::string& path, FileResult result);
    // The address the settings page shows and the capture binds: the interface list's entry
    // InterfaceNumber; 0.0.0.0 (every local address) when there is none or it is loopback.
    Ipv4Address FilterAddress() const;
    // False once the working folder's name leads to another folder than the one locked at
    // start (removed and made anew, say): from then on nothing more is written there, after one
    // error-log line that says so. Callable from any thread.
    bool WorkFolderUnchanged();

    // First, so that it goes last: the rules stay until everything else is gone.
    AccessService access;
    const std::string workdir;
    // The working folder as locked (or, without a lock, as found when the object was made).
    const std::optional<FileIdentity> workdirIdentity;
    enum FolderState { FolderOurs, FolderTelling, FolderLost };
    std::atomic<int> folderState{FolderOurs};
    const Clock& clock;
    ProfileStore profile;
    MonitorSettings settings;
    // What the schedule thread reads: `settings` as published after each change of it.
    SharedSettings publishedSettings;
    DailyLog dailyLog;
    ErrorLog errorLog;
    ActionLog actionLog;
    // The operator's webhooks: what the services report of the server, bans, capture and logs.
    AlertService alerts;
    PackIndex packIndex;
    // The packet socket, the decoder, the player table and the host's own addresses.
    CaptureService capture;
    // The simulator's windows, its supervision and the schedule thread.
    ServerService server;
    // The player history (history.db), written off the event loop.
    HistoryService history;

private:
    // What the access service may use of the program: the logs, the settings' filter address,
    // the local addresses, the folder check and the player table.
    AccessService::Links AccessLinks();
};

}  // namespace zpmoni
