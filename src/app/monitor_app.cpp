// SPDX-License-Identifier: MIT
#include "app/monitor_app.h"

#include "access/deny_file.h"
#include "base/text_escape.h"
#include "capture/packet_capture.h"
#include "history/history_store.h"
#include "platform/address_table.h"
#include "platform/file_sync.h"
#include "platform/instance_lock.h"
#include "base/regular_file.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace zpmoni {

namespace {

// The same folder gives the same table of deny rules however the program was started.
std::string CanonicalOrAsGiven(const std::string& folder)
{
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(folder, error);
    return error ? folder : canonical.string();
}

// The folder as the lock found it; a folder used without a lock (tests), as it is now.
std::optional<FileIdentity> LockedOrCurrent(const std::string& folder)
{
    std::optional<FileIdentity> locked = InstanceLock::LockedFolder(folder);
    return locked ? locked : IdentityOf(folder);
}

}  // namespace

MonitorApp::MonitorApp(std::string dir, const Clock& clock)
    : access(dir, CanonicalOrAsGiven(dir), AccessLinks()),
      workdir(std::move(dir)),
      workdirIdentity(LockedOrCurrent(workdir)),
      clock(clock), profile(workdir + "/Zpmoni.ini"),
      dailyLog(workdir, clock), errorLog(workdir, clock), actionLog(workdir, clock),
      alerts(clock, [this](std::string_view line) { errorLog.Write(line); }),
      capture(clock, packIndex, std::make_unique<PacketCapture>(), MakeEventLoopResolver(),
              [this](std::string_view line) { errorLog.Write(line); }),
      server(settings, publishedSettings, dailyLog, clock)
{
    profile.SetSync(&SyncToDisk);
    auto toErrorLog = [this](std::string_view message) { errorLog.Write(message); };
    profile.SetFailureReport(toErrorLog);
    auto logFailed = [this](std::string_view message) {
        errorLog.Write(message);
        alerts.Raise(AlertKind::LogWriteFailure, message);
    };
    dailyLog.SetFailureReport(logFailed);
    auto ours = [this] { return WorkFolderUnchanged(); };
    profile.SetWriteCheck(ours);
    dailyLog.SetFolderCheck(ours);
    // Only the line that tells of the change may still go there.
    errorLog.SetFolderCheck([this] { return folderState.load() != FolderLost; });
    actionLog.SetFailureReport(logFailed);
    capture.onDropEpisode = [this](uint64_t dropped) {
        alerts.Raise(AlertKind::CaptureDrops, "Capture lost " + std::to_string(dropped) +
                                                  " datagrams; the player list may be wrong");
    };
    server.onChange = [this](ServerChange change, std::string_view text) {
        constexpr AlertKind kinds[] = {AlertKind::ServerDown, AlertKind::ServerUp, AlertKind::CrashLoop,
                                       AlertKind::ScheduledRestart};
        alerts.Raise(kinds[static_cast<size_t>(change)], text);
    };
    actionLog.SetFolderCheck(ours);
}

AccessService::Links MonitorApp::AccessLinks()
{
    AccessService::Links links;
    links.errorLog = [this](std::string_view line) { errorLog.Write(line); };
    links.actionLog = [this](std::string_view who, std::string_view action, std::string_view target,
                             std::string_view comment) {
        actionLog.Write(who, action, target, comment);
        if (action != "deny" && action != "expired")
            return;
        const deny_file::BanTerms terms = deny_file::ParseComment(comment);
        std::string text = (action == "deny" ? "Ban added: " : "Ban expired: ") + std::string(target);
        if (!terms.reason.empty())
            text += " (" + terms.reason + ")";
        if (action == "deny" && terms.until != 0)
            text += ", until " + FormatTime(clock.LocalTime(terms.until), "%Y-%m-%d %H:%M");
        alerts.Raise(action == "deny" ? AlertKind::BanAdded : AlertKind::BanExpired,
                     text + (action == "deny" ? ", by the " + std::string(who) : ""));
    };
    links.filterTarget = [this] { return FilterTarget{settings.interfaceNumber, FilterAddress()}; };
    links.isLocal = [this](Ipv4Address a) { return capture.LocalAddresses().Contains(a.NetworkOrder()); };
    links.mayWrite = [this] { return WorkFolderUnchanged(); };
    // As the connection list's delete command: no log-off line, the record just goes (its
    // datagrams no longer reach the server).
    links.banned = [this] {
        for (int i = 0; i < PlayerTable::kSlots; ++i) {
            PlayerRecord& r = capture.Table().Slot(i);
            if (r.address != 0 && access.Denied(Ipv4Address::FromNetworkOrder(r.address), {}))
                capture.Table().Clear(r);
        }
    };
    // Read over a connection of its own: the history's writer keeps its connection to itself.
    links.addressesOfName = [this](std::string_view name, int days) {
        std::vector<Ipv4Address> addresses;
        if (!history.IsOpen())
            return addresses;
        Result<std::unique_ptr<HistoryStore>> store = HistoryStore::Open(history.Path());
        if (!store)
            return addresses;
        const int64_t since = days > 0 ? clock.Now() - int64_t{days} * 86400 : 0;
        if (Result<std::vector<SeenWith>> seen = store.value()->AddressesOf(name, since))
            for (const SeenWith& s : seen.value())
                addresses.push_back(s.address);
        return addresses;
    };
    links.sync = &SyncToDisk;
    links.now = [this] { return clock.Now(); };
    links.dailyLog = [this](std::string_view line) { dailyLog.WriteLine(line); };
    return links;
}

bool MonitorApp::WorkFolderUnchanged()
{
    if (folderState.load() != FolderOurs)
        return false;
    if (!workdirIdentity || IdentityOf(workdir) == workdirIdentity)
        return true;
    int expected = FolderOurs;
    if (folderState.compare_exchange_strong(expected, FolderTelling)) {
        WriteErrorLog("Working folder " + Escaped(workdir) +
                      " is no longer the one this monitor locked; nothing more is written there");
        folderState = FolderLost;
    }
    return false;
}

MonitorApp::~MonitorApp()
{
    server.StopSchedule();
}

void MonitorApp::StartUp(const std::function<void(std::string_view)>& message)
{
    LoadSettings(profile, settings);
    publishedSettings.Publish(settings);
    alerts.Configure(settings);
    capture.SetResolveNames(settings.resolveName != 0);

    if (std::optional<LocalAddressTable> local = LocalAddresses())
        capture.SetLocalAddresses(*local);
    else
        WriteErrorLog("Cannot get local IP address");

    std::error_code error;
    const std::filesystem::path log = std::filesystem::path(workdir) / "Log";
    if (!std::filesystem::exists(log, error) && !std::filesystem::create_directory(log, error))
        message("Logフォルダを作成できません");

    LoadPackIndex();
    if (const Status started = server.StartSchedule(); !started)
        WriteErrorLog(started.error());
    // Each failure is in the error log already; the monitor runs on without the rules.
    (void)access.Load();
    (void)access.Install();
    // Without its file the monitor runs on and keeps no history.
    if (Status opened = history.Open(workdir + "/" + std::string(kHistoryFileName)); !opened)
        return WriteErrorLog(opened.error());
    history.Start([this](std::string_view failure) { errorLog.Write(failure); });
    history.PruneDaily(clock.Now(), settings.historyKeepDays);
}

void MonitorApp::LoadPackIndex()
{
    const std::string path = settings.packFile.empty() || settings.packFile.front() == '/'
                                 ? settings.packFile
                                 : workdir + "/" + settings.packFile;
    FileReport("read", path, packIndex.Load(path));
}

Ipv4Address MonitorApp::FilterAddress() const
{
    const std::vector<uint32_t> table = InterfaceAddresses();
    const int n = settings.interfaceNumber;
    if (n < 0 || static_cast<size_t>(n) >= table.size() || IsLoopback(table[static_cast<size_t>(n)]))
        return {};
    return Ipv4Address::FromNetworkOrder(table[static_cast<size_t>(n)]);
}

bool MonitorApp::FileReport(std::string_view action, const std::string& path, FileResult result)
{
    // A missing file says nothing: it is the usual state before the first save.
    if (const std::string problem = FileProblem(action, path, result); !problem.empty())
        WriteErrorLog(problem);
    return result.status == FileStatus::Ok;
}

}  // namespace zpmoni
