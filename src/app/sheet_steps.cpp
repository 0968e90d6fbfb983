// SPDX-License-Identifier: MIT
#include "app/sheet_steps.h"

#include "app/monitor_controller.h"
#include "server/server_supervisor.h"
#include "app/monitor_app.h"

namespace zpmoni {

namespace {
constexpr uint32_t kLoopback = 0x7F000001;  // 127.0.0.1, host byte order
}  // namespace

SheetValues SheetSteps::Current()
{
    GlimitValues glimit = controller.Client().Glimit();
    glimit.enable = controller.glimit;
    const EventLog& events = controller.Events();
    return SheetValuesFrom(app.settings, {events.displayLogin, events.displayJoin, events.createLogfile},
                           controller.closeInterval, app.denyList, glimit);
}

MonitorSettings& SheetSteps::Settings() { return app.settings; }

void SheetSteps::SetWindowValues(const EventLogFlags& flags, int32_t closeIntervalMs)
{
    EventLog& events = controller.Events();
    events.displayJoin = flags.displayJoin;
    events.displayLogin = flags.displayLogin;
    events.createLogfile = flags.createLogfile;
    controller.closeInterval = closeIntervalMs;
    if (ServerSupervisor* supervisor = controller.Supervisor())
        supervisor->Logic().closeInterval = closeIntervalMs;
}

void SheetSteps::LoadPackIndex() { app.LoadPackIndex(); }
void SheetSteps::StopCapture() { app.StopCapture(); }
void SheetSteps::ReplaceDenyList(const DenyList& list) { app.denyList = list; }
void SheetSteps::StartCapture() { controller.StartCapture(); }
void SheetSteps::SaveSettings() { zpmoni::SaveSettings(app.profile, app.settings); }

void SheetSteps::ApplyGlimit(const GlimitValues& glimit, bool chatLog)
{
    controller.glimit = glimit.enable;
    controller.Client().ApplyGlimit(glimit, chatLog);
    controller.ApplySettings();  // the chat relay follows the log flag and the limiter switch
}

void SheetSteps::ResolveNames(bool on)
{
    app.players.SetResolveNames(on);
    if (on)
        app.players.RestartResolvers();
}

void SheetSteps::Reconnect(bool logOn, uint16_t port)
{
    // A failed attempt is in the error log already, and the retry timer tries again.
    (void)controller.Client().Reconnect(logOn, kLoopback, port);
}

// The rules stay in force until InstallIpFilters swaps the whole table for the new list on the
// new filter address in one transaction: no moment without them.
void SheetSteps::RemoveIpFilters() {}
void SheetSteps::InstallIpFilters()
{
    app.InstallIpFilters();
    app.actionLog.Write("window", "deny list set", std::to_string(app.denyList.size()) + " entries", {});
}
void SheetSteps::WriteDenyFile() { app.IpFilterFile(false); }
bool SheetSteps::ServerRunning() { return app.server.serverRunning != 0; }

void SheetSteps::SetErrorDialogTimer(int32_t ms)
{
    if (ServerSupervisor* supervisor = controller.Supervisor())
        supervisor->Logic().SettingsConfirmed(ms);
}

}  // namespace zpmoni
