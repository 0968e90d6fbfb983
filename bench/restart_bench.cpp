// SPDX-License-Identifier: MIT
// Time from the death of the supervised server to the start of its successor: the server is
// killed, the monitor sees the exit through its pidfd and starts a new process (CheckRunning).
#include "app/server_supervisor.h"
#include "app/zpmoni_app.h"
#include "platform/system_clock.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

void BM_RestartAfterKill(benchmark::State& state)
{
    unsetenv("DISPLAY");  // a server without a window is brought back by its exit alone
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("zpmoni-restart-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::filesystem::path exe = dir / "zemain.exe";
    std::ofstream(exe) << "#!/bin/sh\nexec sleep 600\n";
    std::filesystem::permissions(exe, std::filesystem::perms::owner_all);

    SystemClock clock;
    CZpmoniApp app(dir.string(), clock);
    app.settings.folderPath = dir.string();
    app.settings.exeType = 1;
    app.settings.checkRunning = 1;
    ServerSupervisor supervisor(app);
    supervisor.Logic().StartServer();

    for (auto _ : state) {
        const uint32_t pid = app.server.serverProcessId;
        const auto killed = std::chrono::steady_clock::now();
        kill(static_cast<pid_t>(pid), SIGKILL);
        while (app.server.serverProcessId == pid)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - killed).count());
    }

    app.settings.checkRunning = 0;
    const uint32_t last = app.server.serverProcessId;
    kill(static_cast<pid_t>(last), SIGKILL);
    while (app.server.serverRunning)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_RestartAfterKill)
    ->Iterations(1)
    ->Repetitions(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("max", [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); })
    ->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication qapp(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
