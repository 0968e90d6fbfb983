// SPDX-License-Identifier: MIT
#pragma once

#include "base/clock.h"
#include "base/monitor_settings.h"
#include "base/server_state.h"
#include "base/log_files.h"
#include "platform/server_process.h"
#include "platform/window_system.h"

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zpmoni {

// What happened to the server, for the operator's alerts.
enum class ServerChange : uint8_t { Down, Up, CrashLoop, ScheduledRestart };

// The main window's timers of the supervisor, and one-shot steps on the same loop.
class SupervisorTimers {
public:
    enum Id { ErrorDialog = 0, DownCheck, WindowSearch, Minimize, kCount };
    virtual ~SupervisorTimers() = default;
    // (Re)starts the timer's period.
    virtual void Arm(Id id, int ms) = 0;
    virtual void Stop(Id id) = 0;
    // Runs step once, ms from now, on the main thread.
    virtual void After(int ms, std::function<void()> step) = 0;
};

// The error-dialog period from the file: at least 10 ms, so that no value keeps a core busy.
int ClampCloseInterval(int ms);

// The start of the name of every console session the monitor opens for the console server.
inline constexpr std::string_view kConsoleSessionPrefix = "zemainsvr-";

// The executable of an ExeType, and the word its window title carries; nothing out of 0-3.
struct ExecutableKind {
    std::string_view file;
    std::string_view titleKeyword;
    KeyKind keys;
};
std::optional<ExecutableKind> Executable(int32_t exeType);

// "FolderPath/exe -server HandleName -netport Port", the text the logs show for a start.
std::string ServerCommandLine(const MonitorSettings& s);
// The same start as argv, run in FolderPath.
std::optional<LaunchSpec> ServerLaunch(const MonitorSettings& s);

// Starts the simulator, finds and minimises its window, closes its error dialogs, notices when
// it has gone, restarts it, stops it, and takes a running one under control. It decides on the
// main thread; the windows and the starts answer later (posted jobs, their answers on the main
// thread), so a start or a window's answer may meet a state that moved on meanwhile. The timers
// and the platform are injected.
class Supervisor {
public:
    Supervisor(MonitorSettings& settings, ServerState& state, WindowAccess& windows,
               ServerProcesses& processes, SupervisorTimers& timers, LineWriter& events,
               const Clock& clock);

    // Told when the start command becomes enabled (true) or greyed (false).
    std::function<void(bool)> onStartEnabled;
    // Resets the player records when the server stops.
    std::function<void()> onServerStopped;
    // Writes one line to the error log.
    std::function<void(std::string_view)> onError;
    // Tells the operator something in the status line.
    std::function<void(std::string_view)> onNotice;
    // Tells the operator's alerts what became of the server, in words.
    std::function<void(ServerChange, std::string_view)> onChange;
    // Period of the error-dialog timer, ms.
    int closeInterval = 800;

    void StartServer();
    void StopServerProcess();
    void TerminateServer();

    // The timers' duties.
    void CloseErrorDialogs();
    void DownCheck();
    void WindowSearch();
    void MinimizeWindow();
    // A watched process has ended.
    void OnProcessExited(uint32_t pid);
    // The settings sheet was confirmed: the error-dialog timer follows the new values.
    void SettingsConfirmed(int newCloseInterval);

    // The window finder's choice: the first simulator window, graphical or console.
    static std::optional<WindowInfo> ServerWindowAmong(const std::vector<WindowInfo>& windows);
    // Take control may be offered only while no server is under control or being started.
    bool CanTakeControl() const { return state.serverRunning == 0 && !starting; }
    // The window finder was confirmed with `found`.
    void TakeControl(const WindowInfo& found);

    // Waits for the end of a stopped process before starting a new one.
    bool StartPending() const { return startPending; }
    // The monitor ends: the steps of a stop still waiting run now, up to the polite signal.
    void FinishPendingStop();

private:
    static WindowId FindWindowOf(uint32_t pid, const std::vector<WindowInfo>& candidates);
    // Asks the windows for a timer's duty; the next tick of that timer asks nothing while the
    // answer is still out (a tmux that hangs gets one question at a time).
    template <class R>
    void Ask(SupervisorTimers::Id duty, std::function<R(WindowSystem&)> work,
             std::function<void(R)> answer);
    // Starts a process, or takes up the one found in `found` (the first start's windows).
    void Launch(uint32_t generation);
    void Launched(uint32_t generation, Result<uint32_t> pid);
    void ServerDown();
    // The next start after a back-off step, its cause (`what`: "exited") in the error log.
    void StartLater(const char* what);
    // The server a previous monitor left running, under control again; false when none runs.
    bool AdoptRunningServer(const std::vector<WindowInfo>& found);
    void EscalateStop(uint32_t pid, bool kill);
    // Runs the current stop's steps up to and including `last`, unless `generation` is over.
    void RunStopSteps(uint32_t generation, size_t last);
    void CancelStop();
    void Notice(std::string_view text);

    MonitorSettings& settings;
    ServerState& state;
    WindowAccess& windows;
    ServerProcesses& processes;
    SupervisorTimers& timers;
    LineWriter& events;
    const Clock& clock;
    // The process under control (started or taken over), for the final signals after a stop;
    // and the one stopped last, which a new start waits for.
    uint32_t controlledPid = 0;
    uint32_t stoppedPid = 0;
    bool startPending = false;
    // A start asked of the platform (or the first start's look for a running server) that has
    // not answered yet.
    bool starting = false;
    std::array<bool, SupervisorTimers::kCount> asking{};
    bool takenOver = false;
    // Found running at this monitor's first start: watched and restarted like a started one,
    // but, its pid told by a window, only asked to close.
    bool adopted = false;
    bool everStarted = false;
    uint32_t startedTick = 0;
    // Deaths within a minute of the start, in a row, and when the first of them was.
    uint32_t quickExits = 0;
    uint32_t firstQuickExit = 0;
    // A terminate ends every start still waiting (for the stopped process, or the delayed
    // restart): each carries the generation it was made in.
    uint32_t startGeneration = 0;
    // The stop in progress: its window, key kind and process, its next step; a new generation
    // ends it.
    struct PendingStop {
        WindowId window = 0;
        KeyKind keys = KeyKind::KeyDown;
        uint32_t pid = 0;
        size_t next = 0;
        bool active = false;
        bool takenOver = false;
    } stop;
    uint32_t stopGeneration = 0;
};

}  // namespace zpmoni
