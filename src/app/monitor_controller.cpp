// SPDX-License-Identifier: MIT
#include "app/monitor_controller.h"

#include "server/schedule.h"

namespace zpmoni {

namespace {
constexpr uint32_t kLoopback = 0x7F000001;  // 127.0.0.1, host byte order
constexpr std::string_view kDialogSection = "ZpmoniDlg";
}  // namespace

MonitorController::MonitorController(MonitorApp& app, ChatView& chatView, QObject* parent)
    : QObject(parent), app(app), decoder(app.players, app.packIndex, app.clock),
      eventLog(app.dailyLog, app.clock),
      client(chatView, app.workdir, app.clock, [&app](std::string_view message) { app.WriteErrorLog(message); }, this)
{
    decoder.SetEvents(this);
    decoder.SetSourceFilter([&app](uint32_t source, uint32_t destination) { return app.DeniedSource(source, destination); });
    statusTimer.setParent(this);
    statusTimer.setTimerType(Qt::PreciseTimer);  // once a second, not up to 5 % early
    statusTimer.setInterval(1000);
    connect(&statusTimer, &QTimer::timeout, this, &MonitorController::UpdateStatus);
    filterCheckTimer.setInterval(60 * 1000);
    connect(&filterCheckTimer, &QTimer::timeout, this, [&app] { app.CheckIpFilters(); });
}

MonitorController::~MonitorController()
{
    Shutdown();
}

void MonitorController::ApplySettings()
{
    decoder.SetPort(app.settings.port);
    decoder.SetChecksum(app.settings.checksum != 0);
    decoder.SetLocalAddresses(app.localAddresses);
    client.SetChatOptions(glimit != 0, app.settings.chatLog != 0);
}

void MonitorController::Initialize()
{
    if (initialized)
        return;
    initialized = true;
    ProfileStore& ini = app.profile;
    // What the event list page holds; read when the page is created. Each default is the
    // member's own initial value.
    auto read = [&](std::string_view section, std::string_view key, int& value) {
        value = ini.GetInt(section, key, value);
    };
    read(kProgramDataSection, "DisplayLogin", eventLog.displayLogin);
    read(kProgramDataSection, "DisplayJoin", eventLog.displayJoin);
    read(kProgramDataSection, "CreateLogfile", eventLog.createLogfile);
    listLine = LoadListLine(ini);
    read(kDialogSection, "CloseInterval", closeInterval);
    closeInterval = ClampCloseInterval(closeInterval);
    read(kDialogSection, "WindowTextInterval", windowTextInterval);
    read(kDialogSection, "CheckRunningInterval", checkRunningInterval);
    read(kDialogSection, "Glimit", glimit);
    read(kDialogSection, "HangSeconds", hangSeconds);
    ApplySettings();

    statusTimer.start();
    filterCheckTimer.start();

    supervisor = std::make_unique<ServerSupervisor>(app);
    supervisor->Logic().closeInterval = closeInterval;
    connect(supervisor.get(), &ServerSupervisor::notice, this, [this](const QString& text) {
        notice = text;
        noticeTicks = 5;
        UpdateStatus();
    });
    app.timeWatch->onTerminate = [this] { supervisor->Logic().TerminateServer(); };
    app.timeWatch->onStart = [this] { supervisor->Logic().StartServer(); };
    app.timeWatch->onWarning = [this](int minutes) {
        // A warning that cannot be sent is lost; the connection tells a failed send itself.
        if (client.State().connected && !app.settings.restartWarningText.empty())
            (void)client.SendChat(RestartWarningLine(app.settings.restartWarningText, minutes));
    };
    if (app.settings.startUp)
        supervisor->Logic().StartServer();

    client.Start(ini, {glimit != 0, app.settings.chatLog != 0, kLoopback, app.settings.port, hangSeconds},
                 [this](int seconds) { OnServerHung(seconds); });

    // Last, so that everything the datagrams reach exists.
    StartCapture();
}

void MonitorController::StartCapture()
{
    ApplySettings();
    app.StartCapture([this](const uint8_t* data, size_t length, ChecksumStatus status) {
        decoder.HandleDatagram(data, length, status);
    });
}

void MonitorController::Shutdown(const std::function<void()>& closePages)
{
    if (!initialized)
        return;
    initialized = false;
    statusTimer.stop();
    filterCheckTimer.stop();
    ProfileStore& ini = app.profile;
    // Everything written from here to the end of the client goes to the file at once.
    ProfileStore::Batch batch(ini);
    ini.WriteInt(kDialogSection, "CloseInterval", closeInterval);
    ini.WriteInt(kDialogSection, "WindowTextInterval", windowTextInterval);
    ini.WriteInt(kDialogSection, "CheckRunningInterval", checkRunningInterval);
    ini.WriteInt(kDialogSection, "Glimit", glimit);
    ini.WriteInt(kDialogSection, "HangSeconds", hangSeconds);

    app.StopCapture();

    if (closePages)
        closePages();
    else
        SaveEventLogSettings();

    // The server keeps running; the schedule's queued calls find no supervisor any more.
    app.timeWatch->onTerminate = nullptr;
    app.timeWatch->onStart = nullptr;
    app.timeWatch->onWarning = nullptr;
    supervisor.reset();

    // The client writes its protocol version as it goes.
    client.Stop();
}

void MonitorController::OnServerHung(int seconds)
{
    // Only a server under this monitor's control is restarted.
    if (!supervisor || !app.server.serverRunning)
        return;
    const std::string line = "server hung for " + std::to_string(seconds) + " s";
    if (!app.settings.checkRunning) {
        app.WriteErrorLog(line);
        return;
    }
    app.WriteErrorLog(line + ", restarting");
    supervisor->Logic().TerminateServer();
    supervisor->Logic().StartServer();
}

void MonitorController::SaveEventLogSettings()
{
    ProfileStore& ini = app.profile;
    ini.WriteInt(kProgramDataSection, "DisplayLogin", eventLog.displayLogin);
    ini.WriteInt(kProgramDataSection, "DisplayJoin", eventLog.displayJoin);
    ini.WriteInt(kProgramDataSection, "CreateLogfile", eventLog.createLogfile);
    ini.WriteInt(kProgramDataSection, "ListLine", listLine);
}

void MonitorController::OnLogonFlood(uint32_t address)
{
    app.WriteErrorLog("Too many log-ons from " + std::string(DottedAddress(address).View()) +
                      " within a minute; further ones are refused");
}

void MonitorController::UpdateStatus()
{
    // Not only when a datagram arrives: on a quiet server an idle record would never leave.
    app.players.IdleSweep(app.clock.Now());
    QString text = QString::fromStdString(FormatStatusText(app.players.ComputeStatus()));
    if (noticeTicks > 0 && noticeTicks--)
        text += QStringLiteral("  ") + notice;
    if (text != statusLine) {
        statusLine = text;
        emit statusLineChanged(statusLine);
    }
    emit statusTicked(statusLine);
}

}  // namespace zpmoni
