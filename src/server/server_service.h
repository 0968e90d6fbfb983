// SPDX-License-Identifier: MIT
#pragma once

#include "base/clock.h"
#include "base/log_files.h"
#include "base/monitor_settings.h"
#include "base/settings_snapshot.h"
#include "base/result.h"
#include "base/server_state.h"
#include "platform/window_system.h"
#include "server/server_supervisor.h"
#include "server/time_watch_thread.h"

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zpmoni {

// How the server stands, for whoever asks (the window, an operator's console).
struct ServerStatus {
    bool supervised = false;  // the supervisor runs: operations are taken
    bool running = false;     // a server is under control
    uint32_t pid = 0;         // its process, 0 when not known
    WindowId window = 0;      // its window, 0 while none is known
    int64_t lastRestart = kNoMark;
};

// Why the server was stopped and started again.
enum class RestartCause : uint8_t { Operator, Schedule, Crash, Hang };
inline constexpr std::array<std::string_view, 4> kRestartCauseNames{"operator", "schedule", "crash", "hang"};

// The run's restarts: how many of each cause, and the latest.
struct RestartCounts {
    std::array<uint64_t, 4> byCause{};
    int64_t last = kNoMark;
    std::optional<RestartCause> lastCause;
};

// The server feature: the simulator's windows, the supervisor that starts, watches and stops the
// server, and the schedule thread. The operator's operations are plain methods with results;
// they run on the main thread and their effects (a start, a stop) follow on the event loop.
class ServerService {
public:
    // The console server's tmux socket is $ZPMONI_TMUX_SOCKET when it is a plain name, or "zpmoni".
    // The supervisor works with the main thread's settings, the schedule thread with `published`.
    ServerService(MonitorSettings& settings, const SharedSettings& published, LineWriter& events,
                  const Clock& clock);
    ~ServerService();
    ServerService(const ServerService&) = delete;
    ServerService& operator=(const ServerService&) = delete;

    const std::string consoleSocket;
    // Written on the main thread, read by the schedule thread.
    ServerState state;

    // The schedule thread: started once the settings are read; a failure names the error
    // number. Stopped before the monitor's end (the main window closed).
    Status StartSchedule() { return schedule.Start(); }
    void StopSchedule() { schedule.Stop(); }
    TimeWatchThread& Schedule() { return schedule; }
    WindowAccess& Windows() { return *windows; }

    // Supervision lasts from the main window's (or headless run's) start to its end; the hooks
    // reset the players when the server stops and write the error log.
    ServerSupervisor& Supervise(std::function<void()> onServerStopped,
                                std::function<void(std::string_view)> onError);
    // What became of the server (down, up, a crash loop, a scheduled restart), for the alerts.
    std::function<void(ServerChange, std::string_view)> onChange;
    // Ends supervision; a stop under way is finished up to the polite signal, the server left up.
    void EndSupervision();
    ServerSupervisor* Supervisor() { return supervisor.get(); }

    // The operator's operations.
    Status Start();
    Status Stop();
    // A stop, then a start once the stopped process has ended; counted under its cause.
    Status Restart(RestartCause cause = RestartCause::Operator);
    const RestartCounts& Restarts() const { return restarts; }
    // The supervisor's words as they come (what became of the server, its error-log lines).
    std::function<void(std::string_view)> onLog;
    // Whether TakeOver is open: supervised, and no server under control or being started.
    bool CanTakeOver() { return supervisor && supervisor->Logic().CanTakeControl(); }
    // Puts a running server's window (from SearchWindow) under control.
    Status TakeOver(const WindowInfo& window);
    // The first simulator window, handed to `found` on the main thread.
    void SearchWindow(std::function<void(std::optional<WindowInfo>)> found);
    void ShowWindow(WindowId window);
    ServerStatus CurrentStatus() const;

private:
    Result<zpmoni::Supervisor*> Logic();
    void CountRestart(RestartCause cause);
    void Log(std::string_view text)
    {
        if (onLog)
            onLog(text);
    }

    MonitorSettings& settings;
    LineWriter& events;
    const Clock& clock;
    std::unique_ptr<WindowAccess> windows;
    TimeWatchThread schedule;
    std::unique_ptr<ServerSupervisor> supervisor;
    RestartCounts restarts;
};

}  // namespace zpmoni
