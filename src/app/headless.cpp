// SPDX-License-Identifier: MIT
#include "app/headless.h"

#include "app/monitor_controller.h"
#include "app/zpmoni_app.h"
#include "base/text_escape.h"
#include "platform/termination_signals.h"
#include "platform/system_clock.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

struct TerminalChat final : ChatView {
    void AppendChatLine(std::string_view text) override
    {
        // Straight from the network: no control byte may reach the terminal.
        const std::string line = "CHAT\t" + Escaped(text) + "\n";
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
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
    CZpmoniApp app(workdir, clock);
    app.dailyLog.SetObserver([](std::string_view line) {
        std::printf("%.*s\n", static_cast<int>(line.size()), line.data());
        std::fflush(stdout);
    });
    app.errorLog.SetObserver([](std::string_view line) {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
    });
    app.StartUp([](std::string_view message) {
        std::fprintf(stderr, "zpmoni: %.*s\n", static_cast<int>(message.size()), message.data());
    });

    TerminalChat chat;
    {
        MonitorController controller(app, chat);
        QObject::connect(&controller, &MonitorController::statusLineChanged,
                         [](const QString& text) {
                             std::printf("STATUS\t%s\n", text.toUtf8().constData());
                             std::fflush(stdout);
                         });
        controller.Initialize();
        qapp.exec();
        controller.Shutdown();
    }
    app.StopTimeWatch();
    app.RemoveIpFilters();
    return 0;
}
