// SPDX-License-Identifier: MIT
#include "app/sheet_steps.h"

#include "app/monitor_controller.h"
#include "server/server_supervisor.h"
#include "app/monitor_app.h"

namespace zpmoni {

SheetValues SheetSteps::Current()
{
    GLimitClient& client = *controller.Client();
    const GLimiter& limiter = client.Limiter();
    const GlimitValues glimit{controller.glimit, limiter.NegativeLimit(), limiter.PositiveLimit(),
                              limiter.Interval(), client.version};
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
    GLimitClient& client = *controller.Client();
    controller.glimit = glimit.enable;
    client.Limiter().ApplyLimits(glimit.negative, glimit.positive);
    client.Limiter().ApplyDamage(glimit.interval, 1);
    client.chatLogFlag = chatLog;
    controller.ApplySettings();  // the chat relay follows the log flag and the limiter switch
    client.Limiter().SaveSettings(app.profile);
    client.version = glimit.version;
}

void SheetSteps::ResolveNames(bool on)
{
    app.capture.SetResolveNames(on);
}

void SheetSteps::Reconnect(bool logOn, uint16_t port)
{
    GLimitClient& client = *controller.Client();
    client.Disconnect();
    if (logOn)
        client.ConnectWithLimitName(Ipv4Address::Loopback().HostOrder(), port);
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
