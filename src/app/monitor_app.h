// SPDX-License-Identifier: MIT
#pragma once

#include "access/deny_entry.h"
#include "access/packet_filter.h"
#include "base/clock.h"
#include "base/monitor_settings.h"
#include "base/profile_store.h"
#include "capture/decoder.h"
#include "base/log_files.h"
#include "packlist/pack_index.h"
#include "capture/packet_capture.h"
#include "capture/player_table.h"
#include "server/server_service.h"
#include "platform/name_resolver.h"

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
    // Starts the capture on the InterfaceNumber's address; a failure goes to the error log.
    void StartCapture(PacketCapture::Handler handler);
    void StopCapture();
    // The aircraft-to-pack index from the file PackFile names (relative to the working folder).
    void LoadPackIndex();

    void WriteErrorLog(std::string_view text) { errorLog.Write(text); }

    // The deny list and its rules. IpFilterFile loads (empties the list first) or saves
    // ipfilter.txt; false when the file cannot be opened or written.
    bool IpFilterFile(bool load);
    // A file's problem, if any, in the error log; whether the read or write was whole.
    bool FileReport(std::string_view action, const std::string& path, FileResult result);
    // Names in the error log each entry of the file that is not enforced (no dotted quad) and
    // each wide block (the page asks before it adds one).
    void ReportDenyFile();
    // Replaces whatever the packet filter holds with the list's rules; when they cannot be put
    // in force, the error log gets "Cannnot add filter" per entry and which rules are in force.
    void InstallIpFilters();
    // The minute's check: a table that is gone is put back; told once until it is back.
    void CheckIpFilters();
    // Takes every rule off and empties the list (the file stays as last saved).
    void RemoveIpFilters();
    // Bans one address at once; the entry joins the list only if its rule is in force. The
    // players it covers leave the table at once (their datagrams no longer reach the server).
    // False when the rule could not be put in force.
    bool DenyAddress(const std::string& address, const std::string& comment);
    // The lists' deny-access command: DenyAddress, then the file saved.
    void DenyAccess(const std::string& address, const std::string& comment);
    // After the settings sheet's OK, once InterfaceNumber holds its new value: the new list's
    // rules on the new filter address, replacing the old ones in one step, then the file saved.
    void RebuildIpFilters(DenyList list);
    // The address the settings page shows and the capture binds: the interface list's entry
    // InterfaceNumber, network byte order; 0 (every local address) when there is none or it is
    // loopback.
    uint32_t FilterAddress() const;
    // False once the working folder's name leads to another folder than the one locked at
    // start (removed and made anew, say): from then on nothing more is written there, after one
    // error-log line that says so. Callable from any thread.
    bool WorkFolderUnchanged();
    // Whether the rules in force drop a datagram between these addresses (network byte order;
    // destination 0 for the filter address); never one from the machine itself.
    bool DeniedSource(uint32_t source, uint32_t destination) const;

    // First, so that it goes last: the rules stay until everything else is gone.
    PacketFilter packetFilter;
    const std::string workdir;
    // The working folder as locked (or, without a lock, as found when the object was made).
    const std::optional<FileIdentity> workdirIdentity;
    enum FolderState { FolderOurs, FolderTelling, FolderLost };
    std::atomic<int> folderState{FolderOurs};
    const Clock& clock;
    ProfileStore profile;
    MonitorSettings settings;
    DailyLog dailyLog;
    ErrorLog errorLog;
    ActionLog actionLog;
    ResolverPool resolver;
    PlayerTable players;
    LocalAddressTable localAddresses;
    PackIndex packIndex;
    DenyList denyList;
    PacketCapture capture;
    bool capturing = false;
    bool filterMissing = false;  // the table was found gone and is not back yet
    // The simulator's windows, its supervision and the schedule thread.
    ServerService server;
};

}  // namespace zpmoni
