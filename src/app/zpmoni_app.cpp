// SPDX-License-Identifier: MIT
#include "app/zpmoni_app.h"

#include "platform/address_table.h"
#include "platform/name_resolver.h"

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

}  // namespace

CZpmoniApp::CZpmoniApp(std::string dir, const Clock& clock)
    : workdir(std::move(dir)), clock(clock), profile(workdir + "/Zpmoni.ini"),
      dailyLog(workdir, clock), errorLog(workdir, clock), players(clock, &ResolveHostName),
      consoleSocket(ConsoleSocketName()), windows(MakeWindowSystem(consoleSocket)),
      timeWatch(std::make_unique<TimeWatchThread>(settings, server, *windows, dailyLog, clock))
{
}

CZpmoniApp::~CZpmoniApp()
{
    timeWatch->Stop();
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

    packIndex.Load(settings.packFile.empty() || settings.packFile.front() == '/'
                       ? settings.packFile
                       : workdir + "/" + settings.packFile);

    if (std::optional<int> error = timeWatch->Start())
        WriteErrorLog("Cannot begin watching time thread. Error number=" + std::to_string(*error));
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
