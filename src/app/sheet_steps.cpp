// SPDX-License-Identifier: MIT
#include "app/sheet_steps.h"

#include "app/monitor_controller.h"
#include "app/zpmoni_app.h"

namespace {
constexpr uint32_t kLoopback = 0x7F000001;  // 127.0.0.1, host byte order
}  // namespace

SheetValues SheetSteps::Current()
{
    CZpkiller& client = *controller.Client();
    const GLimiter& limiter = client.Limiter();
    const GlimitValues glimit{controller.glimit, limiter.NegativeLimit(), limiter.PositiveLimit(),
                              limiter.Interval(), client.version};
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
}

void SheetSteps::LoadPackIndex() { app.LoadPackIndex(); }
void SheetSteps::StopCapture() { app.StopCapture(); }
void SheetSteps::ReplaceDenyList(const DenyList& list) { app.denyList = list; }
void SheetSteps::StartCapture() { controller.StartCapture(); }
void SheetSteps::SaveSettings() { ::SaveSettings(app.profile, app.settings); }

void SheetSteps::ApplyGlimit(const GlimitValues& glimit, bool chatLog)
{
    CZpkiller& client = *controller.Client();
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
    app.players.SetResolveNames(on);
    if (on)
        app.players.RestartResolvers();
}

void SheetSteps::Reconnect(bool logOn, uint16_t port)
{
    CZpkiller& client = *controller.Client();
    client.Disconnect();
    if (logOn)
        client.ConnectWithLimitName(kLoopback, port);
}

// Placeholders: the packet filter with the deny list's file, and the server supervisor with its
// error-dialog timer, are not part of this program yet. Their steps do nothing until they are.
void SheetSteps::RemoveIpFilters() {}
void SheetSteps::InstallIpFilters() {}
void SheetSteps::WriteDenyFile() {}
bool SheetSteps::ServerRunning() { return false; }
void SheetSteps::SetErrorDialogTimer(int32_t) {}
