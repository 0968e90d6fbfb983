// SPDX-License-Identifier: MIT
#include "app/sheet_steps.h"

#include "app/monitor_controller.h"
#include "server/server_supervisor.h"
#include "app/monitor_app.h"

namespace zpmoni {

SheetValues SheetSteps::Current()
{
    GlimitValues glimit = controller.Client().Glimit();
    glimit.enable = controller.glimit;
    const EventLog& events = controller.Events();
    return SheetValuesFrom(app.settings, {events.displayLogin, events.displayJoin, events.createLogfile},
                           controller.closeInterval, app.access.List(), glimit);
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
void SheetSteps::StopCapture() { app.capture.Stop(); }
void SheetSteps::ReplaceDenyList(const DenyList& list) { app.access.SetList(list); }
void SheetSteps::StartCapture() { controller.StartCapture(); }
// Every setting has its new value by now: the file gets them, and so does the schedule thread.
void SheetSteps::SaveSettings()
{
    zpmoni::SaveSettings(app.profile, app.settings);
    app.publishedSettings.Publish(app.settings);
}

void SheetSteps::ApplyGlimit(const GlimitValues& glimit, bool chatLog)
{
    controller.glimit = glimit.enable;
    controller.Client().ApplyGlimit(glimit, chatLog);
    controller.ApplySettings();  // the chat relay follows the log flag and the limiter switch
}

void SheetSteps::ResolveNames(bool on)
{
    app.capture.SetResolveNames(on);
}

void SheetSteps::Reconnect(bool logOn, uint16_t port)
{
    // A failed attempt is in the error log already, and the retry timer tries again.
    (void)controller.Client().Reconnect(logOn, Ipv4Address::Loopback().HostOrder(), port);
}

// Swaps the whole table for the new list on the new filter address in one transaction: the old
// rules stay in force up to that moment, so there is no moment without rules.
void SheetSteps::InstallIpFilters()
{
    (void)app.access.Install();  // a refusal is in the error log
    app.actionLog.Write("window", "deny list set", std::to_string(app.access.List().size()) + " entries", {});
}
void SheetSteps::WriteDenyFile() { (void)app.access.Save(); }  // told in the error log
bool SheetSteps::ServerRunning() { return app.server.state.serverRunning != 0; }

void SheetSteps::SetErrorDialogTimer(int32_t ms)
{
    if (ServerSupervisor* supervisor = controller.Supervisor())
        supervisor->Logic().SettingsConfirmed(ms);
}

}  // namespace zpmoni
