// SPDX-License-Identifier: MIT
#include "app/monitor_app.h"

#include "access/deny_file.h"
#include "access/deny_ruleset.h"
#include "base/text_escape.h"
#include "platform/address_table.h"
#include "platform/file_sync.h"
#include "platform/instance_lock.h"
#include "base/regular_file.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace zpmoni {

namespace {

// The folder as the lock found it; a folder used without a lock (tests), as it is now.
std::optional<FileIdentity> LockedOrCurrent(const std::string& folder)
{
    std::optional<FileIdentity> locked = InstanceLock::LockedFolder(folder);
    return locked ? locked : IdentityOf(folder);
}

}  // namespace

MonitorApp::MonitorApp(std::string dir, const Clock& clock)
    : workdir(std::move(dir)),
      workdirIdentity(LockedOrCurrent(workdir)),
      clock(clock), profile(workdir + "/Zpmoni.ini"),
      dailyLog(workdir, clock), errorLog(workdir, clock), actionLog(workdir, clock), players(clock, &resolver),
      server(settings, dailyLog, clock)
{
    profile.SetSync(&SyncToDisk);
    auto toErrorLog = [this](std::string_view message) { errorLog.Write(message); };
    profile.SetFailureReport(toErrorLog);
    dailyLog.SetFailureReport(toErrorLog);
    auto ours = [this] { return WorkFolderUnchanged(); };
    profile.SetWriteCheck(ours);
    dailyLog.SetFolderCheck(ours);
    // Only the line that tells of the change may still go there.
    errorLog.SetFolderCheck([this] { return folderState.load() != FolderLost; });
    actionLog.SetFailureReport(toErrorLog);
    actionLog.SetFolderCheck(ours);
    // The same folder gives the same table however the program was started.
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::weakly_canonical(workdir, error);
    packetFilter.SetFolder(error ? workdir : folder.string());
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
    // A lookup stuck in a slow reverse zone must not hold up the end of the program.
    resolver.Shutdown();
}

void MonitorApp::StartUp(const std::function<void(std::string_view)>& message)
{
    LoadSettings(profile, settings);
    players.SetResolveNames(settings.resolveName != 0);

    if (std::optional<LocalAddressTable> local = LocalAddresses())
        localAddresses = *local;
    else
        WriteErrorLog("Cannot get local IP address");

    std::error_code error;
    const std::filesystem::path log = std::filesystem::path(workdir) / "Log";
    if (!std::filesystem::exists(log, error) && !std::filesystem::create_directory(log, error))
        message("Logフォルダを作成できません");

    LoadPackIndex();
    if (std::optional<int> error = server.StartSchedule())
        WriteErrorLog("Cannot begin watching time thread. Error number=" + std::to_string(*error));
    IpFilterFile(true);
    ReportDenyFile();
    InstallIpFilters();
}

void MonitorApp::LoadPackIndex()
{
    const std::string path = settings.packFile.empty() || settings.packFile.front() == '/'
                                 ? settings.packFile
                                 : workdir + "/" + settings.packFile;
    FileReport("read", path, packIndex.Load(path));
}

void MonitorApp::StartCapture(PacketCapture::Handler handler)
{
    const PacketCapture::Code code =
        capture.Start(settings.interfaceNumber, settings.port, std::move(handler));
    if (code == PacketCapture::Running)
        capturing = true;
    else
        WriteErrorLog(PacketCapture::Message(code));
}

void MonitorApp::StopCapture()
{
    if (capturing) {
        capture.Stop();
        capturing = false;
    }
}

uint32_t MonitorApp::FilterAddress() const
{
    const std::vector<uint32_t> table = InterfaceAddresses();
    const int n = settings.interfaceNumber;
    if (n < 0 || static_cast<size_t>(n) >= table.size() || IsLoopback(table[static_cast<size_t>(n)]))
        return 0;
    return table[static_cast<size_t>(n)];
}

bool MonitorApp::DeniedSource(uint32_t source, uint32_t destination) const
{
    return packetFilter.InForce().Drops(source, destination) && !localAddresses.Contains(source);
}

bool MonitorApp::IpFilterFile(bool load)
{
    const std::string path = workdir + "/ipfilter.txt";
    if (load)
        return FileReport("read", path, deny_file::Load(path, denyList));
    return WorkFolderUnchanged() && FileReport("write", path, deny_file::Save(path, denyList, &SyncToDisk));
}

bool MonitorApp::FileReport(std::string_view action, const std::string& path, FileResult result)
{
    // A missing file says nothing: it is the usual state before the first save.
    if (const std::string problem = FileProblem(action, path, result); !problem.empty())
        WriteErrorLog(problem);
    return result.status == FileStatus::Ok;
}

namespace {

std::string EntryText(const DenyEntry& e)
{
    return Escaped(e.address + " " + e.mask + (e.comment.empty() ? "" : " " + e.comment));
}

// Which rules the kernel holds, for the error log after a change that failed.
std::string InForceLine(const PacketFilter& filter)
{
    const DenyRuleset& held = filter.InForce();
    if (filter.Leftover())
        return "Deny rules in force: those an earlier monitor of this folder left";
    if (held.Table().empty())
        return "Deny rules in force: none";
    return "Deny rules in force: the previous list (" + std::to_string(held.Blocks().size()) + " blocks, " +
           std::to_string(held.Rules().size()) + " masked rules)";
}

}  // namespace

void MonitorApp::ReportDenyFile()
{
    for (const DenyEntry& e : denyList) {
        const DenyMatch m = MatchOf(e);
        if (m.kind == DenyMatch::BadAddress)
            WriteErrorLog("Deny entry not enforced, address is not a dotted quad: " + EntryText(e));
        else if (m.kind == DenyMatch::BadMask)
            WriteErrorLog("Deny entry not enforced, mask is not a dotted quad: " + EntryText(e));
        else if (m.Wide())
            WriteErrorLog("Deny entry drops the wide block " + m.Text() + ": " + EntryText(e));
    }
}

void MonitorApp::InstallIpFilters()
{
    const uint32_t filter = FilterAddress();
    if (filter == 0 && !denyList.empty())
        WriteErrorLog("Interface number " + std::to_string(settings.interfaceNumber) +
                      " gives no IPv4 address but loopback: deny rules guard every local address");
    // One transaction for the whole list: when it fails, the rules held before stay.
    if (!packetFilter.Install(filter, denyList)) {
        for (size_t i = 0; i < denyList.size(); ++i)
            WriteErrorLog("Cannnot add filter");
        WriteErrorLog(InForceLine(packetFilter));
    }
    filterMissing = false;
}

void MonitorApp::CheckIpFilters()
{
    switch (packetFilter.Verify()) {
    case PacketFilter::Check::Present:
        return;
    case PacketFilter::Check::Restored:
        if (!filterMissing)
            WriteErrorLog("Deny rules were gone from nftables and have been put back");
        filterMissing = false;
        return;
    case PacketFilter::Check::Missing:
        if (!filterMissing)
            WriteErrorLog("Deny rules are gone from nftables and cannot be put back: " +
                          Escaped(packetFilter.LastError()));
        filterMissing = true;
        return;
    }
}

void MonitorApp::RemoveIpFilters()
{
    packetFilter.Remove();
    denyList.clear();
}

bool MonitorApp::DenyAddress(const std::string& address, const std::string& comment)
{
    DenyEntry entry{address, "255.255.255.255", comment};
    const DenyMatch m = MatchOf(entry);
    CheckIpFilters();
    if (m.kind != DenyMatch::Enforced || !packetFilter.Add(entry)) {
        WriteErrorLog("Cannnot add filter");
        return false;
    }
    denyList.push_back(std::move(entry));
    // As the connection list's delete command: no log-off line, the record just goes.
    for (int i = 0; i < PlayerTable::kSlots; ++i) {
        PlayerRecord& r = players.Slot(i);
        if (r.address != 0 && DeniedSource(r.address, 0))
            players.Clear(r);
    }
    return true;
}

void MonitorApp::DenyAccess(const std::string& address, const std::string& comment)
{
    const bool banned = DenyAddress(address, comment);
    IpFilterFile(false);
    actionLog.Write("window", banned ? "deny" : "deny failed", address, comment);
}

void MonitorApp::RebuildIpFilters(DenyList list)
{
    denyList = std::move(list);
    InstallIpFilters();
    IpFilterFile(false);
}

}  // namespace zpmoni
