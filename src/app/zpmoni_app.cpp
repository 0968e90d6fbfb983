// SPDX-License-Identifier: MIT
#include "app/zpmoni_app.h"

#include "access/deny_file.h"
#include "base/text_escape.h"
#include "platform/address_table.h"
#include "platform/file_sync.h"
#include "platform/instance_lock.h"
#include "platform/regular_file.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace {

// The console server's tmux socket: a plain name, so that tmux keeps it in its own folder.
std::string ConsoleSocketName()
{
    const char* name = std::getenv("ZPMONI_TMUX_SOCKET");
    std::string_view s = name ? name : "";
    const bool plain = !s.empty() && s.size() <= 64 && s.find_first_not_of(
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-") == s.npos;
    return plain ? std::string(s) : "zpmoni";
}

// The folder as the lock found it; a folder used without a lock (tests), as it is now.
std::optional<FileIdentity> LockedOrCurrent(const std::string& folder)
{
    std::optional<FileIdentity> locked = InstanceLock::LockedFolder(folder);
    return locked ? locked : IdentityOf(folder);
}

}  // namespace

CZpmoniApp::CZpmoniApp(std::string dir, const Clock& clock)
    : workdir(std::move(dir)),
      workdirIdentity(LockedOrCurrent(workdir)),
      clock(clock), profile(workdir + "/Zpmoni.ini"),
      dailyLog(workdir, clock), errorLog(workdir, clock), players(clock, &resolver),
      consoleSocket(ConsoleSocketName()), windows(MakeWindowSystem(consoleSocket)),
      timeWatch(std::make_unique<TimeWatchThread>(settings, server, *windows, dailyLog, clock))
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
}

bool CZpmoniApp::WorkFolderUnchanged()
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

CZpmoniApp::~CZpmoniApp()
{
    timeWatch->Stop();
    // A lookup stuck in a slow reverse zone must not hold up the end of the program.
    resolver.Shutdown();
}

void CZpmoniApp::StartUp(const std::function<void(std::string_view)>& message)
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
    if (std::optional<int> error = timeWatch->Start())
        WriteErrorLog("Cannot begin watching time thread. Error number=" + std::to_string(*error));
    IpFilterFile(true);
    InstallIpFilters();
}

void CZpmoniApp::LoadPackIndex()
{
    const std::string path = settings.packFile.empty() || settings.packFile.front() == '/'
                                 ? settings.packFile
                                 : workdir + "/" + settings.packFile;
    const FileResult read = packIndex.Load(path);
    if (read.status != FileStatus::Missing && read.status != FileStatus::Ok)
        WriteErrorLog(FileProblem("read", path, read));
}

void CZpmoniApp::StartCapture(CPacketcap::Handler handler)
{
    const CPacketcap::Code code =
        capture.Start(settings.interfaceNumber, settings.port, std::move(handler));
    if (code == CPacketcap::Running)
        capturing = true;
    else
        WriteErrorLog(CPacketcap::Message(code));
}

void CZpmoniApp::StopCapture()
{
    if (capturing) {
        capture.Stop();
        capturing = false;
    }
}

uint32_t CZpmoniApp::FilterAddress() const
{
    const int n = settings.interfaceNumber;
    return n >= 0 && n < LocalAddressTable::kEntries ? localAddresses.entries[static_cast<size_t>(n)] : 0;
}

bool CZpmoniApp::IpFilterFile(bool load)
{
    const std::string path = workdir + "/ipfilter.txt";
    if (load) {
        const FileResult read = deny_file::Load(path, denyList);
        if (read.status != FileStatus::Missing && read.status != FileStatus::Ok)
            WriteErrorLog(FileProblem("read", path, read));
        return read.status == FileStatus::Ok;
    }
    if (!WorkFolderUnchanged())
        return false;
    const FileResult saved = deny_file::Save(path, denyList, &SyncToDisk);
    if (saved.status != FileStatus::Ok)
        WriteErrorLog(FileProblem("write", path, saved));
    return saved.status == FileStatus::Ok;
}

void CZpmoniApp::InstallIpFilters()
{
    // One transaction for the whole list: when it fails, no entry is in force.
    if (!packetFilter.Install(FilterAddress(), denyList)) {
        for (size_t i = 0; i < denyList.size(); ++i)
            WriteErrorLog("Cannnot add filter");
    }
}

void CZpmoniApp::RemoveIpFilters()
{
    packetFilter.Remove();
    denyList.clear();
}

void CZpmoniApp::DenyAddress(const std::string& address, const std::string& comment)
{
    DenyEntry entry{address, "255.255.255.255", comment};
    if (packetFilter.Add(entry))
        denyList.push_back(std::move(entry));
    else
        WriteErrorLog("Cannnot add filter");
}

void CZpmoniApp::DenyAccess(const std::string& address, const std::string& comment)
{
    DenyAddress(address, comment);
    IpFilterFile(false);
}

void CZpmoniApp::RebuildIpFilters(DenyList list)
{
    denyList = std::move(list);
    InstallIpFilters();
    IpFilterFile(false);
}
