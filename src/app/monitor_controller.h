// SPDX-License-Identifier: MIT
#pragma once

#include "server/server_supervisor.h"
#include "app/console_backend.h"
#include "app/monitor_app.h"
#include "capture/capture_service.h"
#include "capture/event_log.h"
#include "client/client_service.h"
#include "web/web_console.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace zpmoni {

// The duties of the main window that need no window: the datagram handler, the status line,
// the event log, the chat relay and the client connection. The main window drives it; the
// headless run drives the same object.
class MonitorController final : public QObject, private DecoderEvents {
    Q_OBJECT
public:
    MonitorController(MonitorApp& app, ChatView& chatView, QObject* parent = nullptr);
    ~MonitorController() override;

    // The window's initialisation steps that need no window, in their order.
    void Initialize();
    // The window's destruction steps: ZpmoniDlg written, capture stopped, then `closePages`
    // (each page writes its own settings; without it the event-log settings are written), then
    // the client destroyed.
    void Shutdown(const std::function<void()>& closePages = {});
    // The event-log page's four settings, to ProgramData.
    void SaveEventLogSettings();

    // One tick of the status timer: computes the status line.
    void UpdateStatus();
    const QString& StatusLine() const { return statusLine; }

    EventLog& Events() { return eventLog; }
    // The server supervisor; exists from Initialize to Shutdown.
    ServerSupervisor* Supervisor() { return supervisor; }
    ClientService& Client() { return client; }
    // G-limit damage packets sent in this run.
    uint64_t DamageSentTotal() const { return damageSentTotal; }
    // The operator console's view of the monitor, while [Web] Enable=1 (from Initialize to
    // Shutdown), and the console itself while it listens.
    MonitorConsoleBackend* Backend() { return consoleBackend.get(); }
    WebConsole* Console() { return console.get(); }
    // The settings the decoder, the chat relay and the capture work with, taken over again.
    void ApplySettings();
    // Starts the capture on the settings' interface, handing its datagrams to the decoder.
    void StartCapture();

    // Section ZpmoniDlg, read at initialisation and written at shut-down.
    int closeInterval = 800;
    int windowTextInterval = 1000;
    int checkRunningInterval = 3000;
    int glimit = 0;
    // Seconds without an answer from the server after which it counts as hung; 0 is off.
    int hangSeconds = 120;
    // Event list length (ProgramData, ListLine), kept with the other event-log settings.
    int listLine = 200;

signals:
    void statusLineChanged(const QString& text);
    // Every tick, changed or not.
    void statusTicked(const QString& text);

private:
    void OnLogon(int64_t t, const PlayerRecord& r) override
    {
        eventLog.LogonEntry(t, r);
        app.history.OnLogon(t, r);
        app.history.PruneDaily(t, app.settings.historyKeepDays);
    }
    void OnLogoff(int64_t t, const PlayerRecord& r) override
    {
        eventLog.LogoffEntry(t, r);
        app.history.OnLogoff(t, r, TakeDamageSent(r.userName.View()));
    }
    void OnJoin(int64_t t, const PlayerRecord& r) override { eventLog.JoinEntry(t, r), app.history.OnJoin(t, r); }
    void OnCapturedChat(std::string_view text) override { client.OnCapturedChat(text); }
    void OnLogonFlood(uint32_t address) override;
    // The client connection found the server hung: restarted when CheckRunning is on.
    void OnServerHung(int seconds);
    // The G-limit damage sent to a pilot since the last log-off of that name, taken for the
    // session that ends now.
    uint32_t TakeDamageSent(std::string_view pilot)
    {
        const auto counted = damageSent.find(std::string(pilot));
        if (counted == damageSent.end())
            return 0;
        const uint32_t n = counted->second;
        damageSent.erase(counted);
        return n;
    }

    // Starts the operator console as [Web] says; a refusal is in the error log.
    void StartConsole();
    void StopConsole();

    // The chat view, and the console's chat lines beside it.
    struct ChatTee final : ChatView {
        ChatTee(ChatView& view, MonitorController& owner) : view(view), owner(owner) {}
        void AppendChatLine(std::string_view text) override
        {
            view.AppendChatLine(text);
            if (owner.consoleBackend)
                owner.consoleBackend->OnChat(text);
        }
        ChatView& view;
        MonitorController& owner;
    };

    MonitorApp& app;
    EventLog eventLog;
    ChatTee chatTee;
    ClientService client;
    ServerSupervisor* supervisor = nullptr;  // the server service's
    QTimer statusTimer;
    QTimer filterCheckTimer;  // the deny rules, once a minute
    QString statusLine;
    // A word of the supervisor's, shown after the status for a few ticks.
    QString notice;
    int noticeTicks = 0;
    bool initialized = false;
    // Damage packets per pilot's user name, until that name logs off; names of the server's
    // announcements, so bounded against a hostile server.
    static constexpr size_t kMaxDamaged = 1024;
    std::unordered_map<std::string, uint32_t> damageSent;
    uint64_t damageSentTotal = 0;
    std::unique_ptr<MonitorConsoleBackend> consoleBackend;
    std::unique_ptr<WebConsole> console;
};

}  // namespace zpmoni
