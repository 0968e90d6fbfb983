// SPDX-License-Identifier: MIT
// Time from the death of the supervised server to the start of its successor: the server is
// killed, the monitor sees the exit through its pidfd and starts a new process (CheckRunning).
#include "server/server_supervisor.h"
#include "app/monitor_app.h"
#include "platform/command_runner.h"
#include "platform/server_process.h"
#include "platform/system_clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>

#include <sys/wait.h>
#include <unistd.h>

using namespace zpmoni;

namespace {

// The system clock whose millisecond tick can be moved on: each killed server has then lived
// longer than a crash loop's minute, so what is measured is the restart, not the back-off.
class SteppedClock final : public Clock {
public:
    int64_t Now() const override { return system.Now(); }
    uint32_t TickMs() const override { return system.TickMs() + offset; }
    std::tm LocalTime(int64_t t) const override { return system.LocalTime(t); }
    int64_t MonotonicMs() const override { return system.MonotonicMs() + offset; }
    uint32_t offset = 0;

private:
    SystemClock system;
};

// Ends the bench's own tmux server and its sessions.
void KillTmuxServer(const std::string& socket)
{
    const pid_t tmux = fork();
    if (tmux == 0) {
        execl("/usr/bin/tmux", "tmux", "-L", socket.c_str(), "kill-server", nullptr);
        _exit(127);
    }
    waitpid(tmux, nullptr, 0);
}

// Argument 1: a graphical executable without a display (the process alone); 3: the console
// server in a tmux session of its own.
void BM_RestartAfterKill(benchmark::State& state)
{
    const int exeType = static_cast<int>(state.range(0));
    unsetenv("DISPLAY");  // a server without a window is brought back by its exit alone
    // Every repetition sets up anew: a tmux server of its own, not one still ending.
    static int run = 0;
    const std::string socket = "zpmoni-restart-bench-" + std::to_string(getpid()) + "-" + std::to_string(++run);
    setenv("ZPMONI_TMUX_SOCKET", socket.c_str(), 1);
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / socket;
    std::filesystem::create_directories(dir / "Log");
    const std::filesystem::path exe = dir / (exeType == 3 ? "zemainsvr.exe" : "zemain.exe");
    std::ofstream(exe) << "#!/bin/sh\nexec sleep 600\n";
    std::filesystem::permissions(exe, std::filesystem::perms::owner_all);

    SteppedClock clock;
    MonitorApp app(dir.string(), clock);
    app.settings.folderPath = dir.string();
    app.settings.exeType = exeType;
    app.settings.checkRunning = 1;
    app.settings.serverUser = "root";  // a root run must name it; elsewhere it is not used
    app.server.Supervise([] {}, [](std::string_view) {});
    static_cast<void>(app.server.Start());
    while (app.server.state.serverProcessId == 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);

    for (auto _ : state) {
        clock.offset += 61'000;
        const uint32_t pid = app.server.state.serverProcessId;
        const auto killed = std::chrono::steady_clock::now();
        kill(static_cast<pid_t>(pid), SIGKILL);
        while (app.server.state.serverProcessId == pid || app.server.state.serverProcessId == 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - killed).count());
    }

    app.settings.checkRunning = 0;
    const uint32_t last = app.server.state.serverProcessId;
    kill(static_cast<pid_t>(last), SIGKILL);
    while (app.server.state.serverRunning)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    if (exeType == 3)
        KillTmuxServer(socket);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_RestartAfterKill)
    ->Arg(1)
    ->Arg(3)
    ->Iterations(1)
    ->Repetitions(50)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("max", [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); })
    ->ReportAggregatesOnly(true);

// The event loop's worst lateness while the console server in tmux is supervised: a 1 ms timer's
// largest delay over 20 s of the down check, window search and minimise timers asking tmux.
// Argument 1: the tmux server is stopped (SIGSTOP) meanwhile, as a tmux that no longer answers.
void BM_EventLoopLatenessUnderSupervision(benchmark::State& state)
{
    const bool hung = state.range(0) != 0;
    unsetenv("DISPLAY");
    const std::string socket = "zpmoni-lateness-bench-" + std::to_string(getpid()) + "-" + std::to_string(hung);
    setenv("ZPMONI_TMUX_SOCKET", socket.c_str(), 1);
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / socket;
    std::filesystem::create_directories(dir / "Log");
    std::ofstream(dir / "zemainsvr.exe") << "#!/bin/sh\nexec sleep 600\n";
    std::filesystem::permissions(dir / "zemainsvr.exe", std::filesystem::perms::owner_all);
    SystemClock clock;
    MonitorApp app(dir.string(), clock);
    app.settings.folderPath = dir.string();
    app.settings.exeType = 3;
    app.settings.minimizeZP = 1;
    app.settings.serverUser = "root";
    app.server.Supervise([] {}, [](std::string_view) {});
    static_cast<void>(app.server.Start());
    while (app.server.state.serverProcessId == 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    const std::optional<std::string> tmuxPid = RunCapture(TmuxCommand(socket, {"display-message", "-p", "#{pid}"}));
    const pid_t tmuxServer = tmuxPid ? static_cast<pid_t>(std::atoi(tmuxPid->c_str())) : 0;
    if (hung && tmuxServer > 0)
        kill(tmuxServer, SIGSTOP);
    for (auto _ : state) {
        QElapsedTimer since;
        since.start();
        int64_t last = 0, worst = 0;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const int64_t now = since.nsecsElapsed();
            worst = std::max(worst, now - last - 1'000'000);
            last = now;
        });
        tick.start(1);
        while (since.elapsed() < 20'000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        state.SetIterationTime(static_cast<double>(worst) / 1e9);
    }
    app.server.EndSupervision();
    if (hung && tmuxServer > 0)
        kill(tmuxServer, SIGCONT);
    KillTmuxServer(socket);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_EventLoopLatenessUnderSupervision)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    // The console pane's exec step runs the starting program again, as it does the monitor.
    if (argc == 3 && std::string_view(argv[1]) == "--exec-pane")
        return RunPaneExec(argv[2]);
    QCoreApplication qapp(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
