// SPDX-License-Identifier: MIT
#include "app/headless.h"

#include "app/monitor_controller.h"
#include "app/monitor_app.h"
#include "base/text_escape.h"
#include "platform/service_notify.h"
#include "platform/termination_signals.h"
#include "platform/system_clock.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cstdio>

namespace zpmoni {

namespace {

// Under the journal every line goes to stdout with its priority, so that `journalctl -p err`
// shows the errors in their order among the events; on a terminal errors go to stderr.
void Print(LineKind kind, std::string_view text)
{
    static const bool journal = StdoutIsJournal();
    FILE* to = kind == LineKind::Error && !journal ? stderr : stdout;
    std::fputs(TerminalLine(kind, text, journal).c_str(), to);
    std::fflush(to);
}

struct TerminalChat final : ChatView {
    void AppendChatLine(std::string_view text) override
    {
        // Straight from the network: no control byte may reach the terminal.
        Print(LineKind::Event, "CHAT\t" + Escaped(text));
    }
};

}  // namespace

int RunHeadless(int argc, char** argv, const std::string& workdir)
{
    QCoreApplication qapp(argc, argv);

    if (!QuitOnTerminationSignals()) {
        std::perror("zpmoni: pipe");
        return 1;
    }

    SystemClock clock;
    MonitorApp app(workdir, clock);
    app.dailyLog.SetObserver([](std::string_view line) { Print(LineKind::Event, line); });
    app.errorLog.SetObserver([](std::string_view line) { Print(LineKind::Error, line); });
    app.StartUp([](std::string_view message) { Print(LineKind::Error, "zpmoni: " + std::string(message)); });

    TerminalChat chat;
    {
        MonitorController controller(app, chat);
        // The journal gets no status line: it changes every second, and the service manager
        // shows it (STATUS=).
        const bool journal = StdoutIsJournal();
        QObject::connect(&controller, &MonitorController::statusLineChanged, [journal](const QString& text) {
            const QByteArray utf8 = text.toUtf8();
            if (!journal) {
                std::printf("STATUS\t%s\n", utf8.constData());
                std::fflush(stdout);
            }
            ServiceNotify::Status(utf8.toStdString());
        });
        controller.Initialize();
        // Capture, filter and logs are up (or have reported why not).
        ServiceNotify::Ready();
        // Pinged from the event loop itself: a loop that hangs misses the ping and is restarted.
        QTimer watchdog;
        if (const auto period = ServiceNotify::WatchdogPeriod(); period.count() > 0) {
            QObject::connect(&watchdog, &QTimer::timeout, [] { ServiceNotify::Watchdog(); });
            watchdog.start(static_cast<int>(std::clamp<long long>(period.count() / 1000, 1, INT_MAX)));
        }
        qapp.exec();
        ServiceNotify::Stopping();
        controller.Shutdown();
    }
    app.server.StopSchedule();
    (void)app.access.RemoveAll();
    return 0;
}

}  // namespace zpmoni
