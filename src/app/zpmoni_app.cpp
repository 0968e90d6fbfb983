// SPDX-License-Identifier: MIT
#include "app/zpmoni_app.h"

#include "platform/address_table.h"
#include "platform/name_resolver.h"

#include <filesystem>
#include <system_error>

CZpmoniApp::CZpmoniApp(std::string dir, const Clock& clock)
    : workdir(std::move(dir)), clock(clock), profile(workdir + "/Zpmoni.ini"),
      dailyLog(workdir, clock), errorLog(workdir, clock), players(clock, &ResolveHostName)
{
}

CZpmoniApp::~CZpmoniApp()
{
    players.WaitForResolvers();
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
}

void CZpmoniApp::LoadPackIndex()
{
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
