// SPDX-License-Identifier: MIT
#include "app/monitor_controller.h"

#include "server/schedule.h"
#include "ui/network_text.h"

namespace zpmoni {

MonitorController::MonitorController(MonitorApp& app, ChatView& chatView, QObject* parent)
    : QObject(parent), app(app), eventLog(app.dailyLog, app.clock), chatTee(chatView, *this),
      client(chatTee, app.workdir, app.clock, [&app](std::string_view message) { app.WriteErrorLog(message); }, this)
{
    app.capture.SetEvents(this);
    app.capture.SetSourceFilter([&app](uint32_t source, uint32_t destination) {
        return app.access.Denied(Ipv4Address::FromNetworkOrder(source), Ipv4Address::FromNetworkOrder(destination));
    });
    statusTimer.setParent(this);
    statusTimer.setTimerType(Qt::PreciseTimer);  // once a second, not up to 5 % early
    statusTimer.setInterval(1000);
    connect(&statusTimer, &QTimer::timeout, this, &MonitorController::UpdateStatus);
    filterCheckTimer.setInterval(60 * 1000);
    connect(&filterCheckTimer, &QTimer::timeout, this, [&app] { (void)app.access.CheckMinute(); });
}

MonitorController::~MonitorController()
{
    Shutdown();
    app.capture.SetEvents(nullptr);
}

void MonitorController::ApplySettings()
{
    app.capture.Configure(app.settings.port, app.settings.checksum != 0);
    client.SetChatOptions(glimit != 0, app.settings.chatLog != 0);
}

void MonitorController::Initialize()
{
    if (initialized)
        return;
    initialized = true;
    ProfileStore& ini = app.profile;
    // What the event list page holds and the window's own values, read at start-up with the rest.
    const MonitorSettings& s = app.settings;
    eventLog.displayLogin = s.displayLogin;
    eventLog.displayJoin = s.displayJoin;
    eventLog.createLogfile = s.createLogfile;
    listLine = HeldListLine(s);
    closeInterval = ClampCloseInterval(s.closeInterval);
    windowTextInterval = s.windowTextInterval;
    checkRunningInterval = s.checkRunningInterval;
    glimit = s.glimit;
    hangSeconds = s.hangSeconds;
    ApplySettings();

    statusTimer.start();
    filterCheckTimer.start();
    // Before the server starts, so that the console's lines begin with its start.
    StartConsole();

    supervisor = &app.server.Supervise([this] { app.capture.Table().ClearAll(); },
                                       [this](std::string_view text) { app.WriteErrorLog(text); });
    supervisor->Logic().closeInterval = closeInterval;
    connect(supervisor, &ServerSupervisor::notice, this, [this](const QString& text) {
        if (consoleBackend)
            consoleBackend->OnServerLine(text.toStdString());
        notice = text;
        noticeTicks = 5;
        UpdateStatus();
    });
    app.server.Schedule().onWarning = [this](int minutes) {
        // A warning that cannot be sent is lost; the connection tells a failed send itself.
        if (client.State().connected && !app.settings.restartWarningText.empty())
            (void)client.SendChat(RestartWarningLine(app.settings.restartWarningText, minutes));
    };
    if (app.settings.startUp)
        supervisor->Logic().StartServer();

    client.onDamage = [this](uint32_t aircraft, std::string_view pilot, uint16_t amount) {
        // Counted for the pilot's session in the history; the map holds online pilots only.
        ++damageSentTotal;
        if (!pilot.empty() && (damageSent.size() < kMaxDamaged || damageSent.contains(std::string(pilot))))
            ++damageSent[std::string(pilot)];
        app.alerts.Raise(AlertKind::GlimitDamage,
                         "G-limit damage " + std::to_string(amount) + " sent to aircraft " + std::to_string(aircraft) +
                             (pilot.empty() ? "" : " (" + NetworkText(pilot).toStdString() + ")"));
    };
    client.Start(ini,
                 {glimit != 0, app.settings.chatLog != 0, Ipv4Address::Loopback().HostOrder(), app.settings.port,
                  hangSeconds},
                 [this](int seconds) { OnServerHung(seconds); });

    // Last, so that everything the datagrams reach exists.
    StartCapture();
}

void MonitorController::StartCapture()
{
    ApplySettings();
    // Off until the next start (the settings sheet's OK or the next program start).
    if (const Status started = app.capture.Start(app.settings.interfaceNumber); !started)
        app.WriteErrorLog(started.error());
}

void MonitorController::Shutdown(const std::function<void()>& closePages)
{
    if (!initialized)
        return;
    initialized = false;
    statusTimer.stop();
    filterCheckTimer.stop();
    // The console goes before the services it reaches.
    StopConsole();
    ProfileStore& ini = app.profile;
    // Everything written from here to the end of the client goes to the file at once.
    ProfileStore::Batch batch(ini);
    MonitorSettings& s = app.settings;
    s.closeInterval = closeInterval;
    s.windowTextInterval = windowTextInterval;
    s.checkRunningInterval = checkRunningInterval;
    s.glimit = glimit;
    s.hangSeconds = hangSeconds;
    SaveSettings(ini, s, SavedBy::Window);

    app.capture.Stop();

    if (closePages)
        closePages();
    else
        SaveEventLogSettings();

    // The server keeps running; the schedule's queued calls find no supervisor any more.
    app.server.Schedule().onWarning = nullptr;
    supervisor = nullptr;
    app.server.EndSupervision();

    // The client writes its protocol version as it goes.
    client.Stop();
}

void MonitorController::StartConsole()
{
    const WebOptions options = WebOptionsOf(app.settings);
    if (!options.enable)
        return;
    consoleBackend = std::make_unique<MonitorConsoleBackend>(app, *this);
    app.server.onLog = [this](std::string_view text) { consoleBackend->OnServerLine(text); };
    WebConsole::Links links;
    links.errorLog = [this](std::string_view line) { app.WriteErrorLog(line); };
    links.actionLog = [this](std::string_view who, std::string_view action, std::string_view target,
                             std::string_view comment) { app.actionLog.Write(who, action, target, comment); };
    links.now = [this] { return app.clock.Now(); };
    console = std::make_unique<WebConsole>(*consoleBackend, app.workdir, std::move(links));
    // The console tells its own refusal in the error log; the monitor runs on without it.
    if (!console->Start(options)) {
        console.reset();
        return;
    }
    consoleBackend->publish = [this](const QJsonObject& message) { console->Publish(message); };
    consoleBackend->listening = [this] { return console->LiveClients() > 0; };
}

void MonitorController::StopConsole()
{
    if (consoleBackend)
        consoleBackend->publish = nullptr, consoleBackend->listening = nullptr;
    if (console)
        console->Stop();
    console.reset();
    app.server.onLog = nullptr;
    consoleBackend.reset();
}

void MonitorController::OnServerHung(int seconds)
{
    // Only a server under this monitor's control is restarted.
    if (!supervisor || !app.server.state.serverRunning)
        return;
    const std::string line = "server hung for " + std::to_string(seconds) + " s";
    app.alerts.Raise(AlertKind::ServerHung, "Server hung: no answer for " + std::to_string(seconds) + " s" +
                                                (app.settings.checkRunning ? "; restarting it" : ""));
    if (!app.settings.checkRunning) {
        app.WriteErrorLog(line);
        return;
    }
    app.WriteErrorLog(line + ", restarting");
    (void)app.server.Restart(RestartCause::Hang);
}

void MonitorController::SaveEventLogSettings()
{
    MonitorSettings& s = app.settings;
    s.displayLogin = eventLog.displayLogin;
    s.displayJoin = eventLog.displayJoin;
    s.createLogfile = eventLog.createLogfile;
    s.listLine = listLine;
    SaveSettings(app.profile, s, SavedBy::EventList);
}

void MonitorController::OnLogonFlood(uint32_t address)
{
    app.WriteErrorLog("Too many log-ons from " + Ipv4Address::FromNetworkOrder(address).ToString() +
                      " within a minute; further ones are refused");
}

void MonitorController::UpdateStatus()
{
    const StatusFigures figures = app.capture.Tick(app.clock.Now());
    QString text = QString::fromStdString(FormatStatusText(figures));
    if (noticeTicks > 0 && noticeTicks--)
        text += QStringLiteral("  ") + notice;
    if (text != statusLine) {
        statusLine = text;
        emit statusLineChanged(statusLine);
    }
    emit statusTicked(statusLine);
    if (consoleBackend)
        consoleBackend->OnTick(figures);
}

}  // namespace zpmoni
