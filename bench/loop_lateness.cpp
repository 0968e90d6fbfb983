// SPDX-License-Identifier: MIT
// The headless monitor with a watch on its event loop: a 1 ms timer notes how late each of its
// wakes comes, so the worst lateness is the longest the loop was kept from its events.
#include "app/headless.h"
#include "platform/server_process.h"

#include <sys/prctl.h>

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

using Clock = std::chrono::steady_clock;

struct LatenessWatch {
    Clock::time_point last{};
    double worstMs = 0;
    long over5 = 0, over20 = 0, over100 = 0, samples = 0;

    void Wake()
    {
        const Clock::time_point now = Clock::now();
        // The first wake comes when the loop starts: the start-up before it is not counted.
        if (last != Clock::time_point{}) {
            const double late = std::chrono::duration<double, std::milli>(now - last).count() - 1.0;
            worstMs = std::max(worstMs, late);
            over5 += late > 5;
            over20 += late > 20;
            over100 += late > 100;
            ++samples;
        }
        last = now;
    }

    void Print() const
    {
        std::fprintf(stderr, "loop-lateness: worst=%.1fms over=5ms:%ld 20ms:%ld 100ms:%ld samples=%ld\n",
                     worstMs, over5, over20, over100, samples);
        std::fflush(stderr);
    }
};

// Runs when the monitor makes its QCoreApplication: nothing of the monitor itself changes.
void InstallWatch()
{
    QCoreApplication* app = QCoreApplication::instance();
    auto* watch = new LatenessWatch;
    auto* tick = new QTimer(app);
    tick->setTimerType(Qt::PreciseTimer);
    QObject::connect(tick, &QTimer::timeout, [watch] { watch->Wake(); });
    tick->start(1);
    auto* report = new QTimer(app);
    QObject::connect(report, &QTimer::timeout, [watch] { watch->Print(); });
    report->start(60000);
    QObject::connect(app, &QCoreApplication::aboutToQuit, [watch] { watch->Print(); });
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallWatch)

int main(int argc, char** argv)
{
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    // The console server's tmux pane runs the monitor's own executable for its exec step.
    if (argc == 3 && std::string(argv[1]) == "--exec-pane")
        return zpmoni::RunPaneExec(argv[2]);
    if (argc != 4 || std::string(argv[1]) != "--headless" || std::string(argv[2]) != "--workdir") {
        std::fputs("usage: loop_lateness --headless --workdir DIR\n", stderr);
        return 2;
    }
    std::error_code error;
    std::filesystem::current_path(argv[3], error);
    if (error) {
        std::fprintf(stderr, "loop_lateness: cannot use %s: %s\n", argv[3], error.message().c_str());
        return 2;
    }
    return zpmoni::RunHeadless(argc, argv, std::filesystem::current_path(error).string());
}
