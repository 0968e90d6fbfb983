// SPDX-License-Identifier: MIT
#include "app/zpmoni_app.h"

#include "platform/address_table.h"
#include "platform/file_sync.h"

#include <filesystem>
#include <system_error>

CZpmoniApp::CZpmoniApp(std::string dir, const Clock& clock)
    : workdir(std::move(dir)), clock(clock), profile(workdir + "/Zpmoni.ini"),
      dailyLog(workdir, clock), errorLog(workdir, clock), players(clock, &resolver)
{
    profile.SetSync(&SyncToDisk);
    auto toErrorLog = [this](std::string_view message) { errorLog.Write(message); };
    profile.SetFailureReport(toErrorLog);
    dailyLog.SetFailureReport(toErrorLog);
}

CZpmoniApp::~CZpmoniApp()
{
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

    packIndex.Load(settings.packFile.empty() || settings.packFile.front() == '/'
                       ? settings.packFile
                       : workdir + "/" + settings.packFile);
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
