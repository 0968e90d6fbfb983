// SPDX-License-Identifier: MIT
#include "server/supervisor.h"

#include "base/ascii.h"

#include <algorithm>
#include <cstdio>

namespace zpmoni {

namespace {

constexpr std::array<ExecutableKind, 4> kExecutables{{
    {"zemaino.exe", "OpenGL", KeyKind::KeyDown},
    {"zemain.exe", "CPU", KeyKind::KeyDown},
    {"zemaindx.exe", "Direct3D", KeyKind::KeyDown},
    {"zemainsvr.exe", "zemainsvr.exe", KeyKind::Char},
}};
// The order in which a found window's title decides the executable type.
constexpr std::array<int32_t, 4> kKeywordOrder{1, 0, 2, 3};

constexpr uint8_t kEscape = 27;
// The stop sequence: Escape three times, then the close request; a stopped process still alive
// 2 s after the close request is ended by signals.
enum class StopStep { Escape, Close, Term, Kill };
constexpr std::array<std::pair<int, StopStep>, 6> kStopSteps{{{0, StopStep::Escape},
    {100, StopStep::Escape}, {200, StopStep::Escape}, {700, StopStep::Close},
    {2700, StopStep::Term}, {4700, StopStep::Kill}}};
constexpr size_t kTermStep = 4;
constexpr std::string_view kAlreadyRunning = "サーバーは既に起動しています";
constexpr std::string_view kCannotStart = "サーバーを起動できません: ";
// A server that dies within a minute of its start is in a crash loop: restarted after a pause
// that doubles from 1 s up to 5 minutes, until a run of 10 minutes ends the loop.
constexpr uint32_t kQuickExit = 60'000;
constexpr uint32_t kStableRun = 600'000;
constexpr uint32_t kFirstBackOff = 1000;
constexpr uint32_t kMaxBackOff = 300'000;

}  // namespace

int ClampCloseInterval(int ms)
{
    return std::max(ms, 10);
}

std::optional<ExecutableKind> Executable(int32_t exeType)
{
    if (exeType < 0 || exeType >= static_cast<int32_t>(kExecutables.size()))
        return std::nullopt;
    return kExecutables[static_cast<size_t>(exeType)];
}

std::string ServerCommandLine(const MonitorSettings& s)
{
    const std::optional<ExecutableKind> exe = Executable(s.exeType);
    return s.folderPath + "/" + std::string(exe ? exe->file : "") + " -server " + s.handleName +
           " -netport " + std::to_string(s.port);
}

std::optional<LaunchSpec> ServerLaunch(const MonitorSettings& s)
{
    const std::optional<ExecutableKind> exe = Executable(s.exeType);
    if (!exe)
        return std::nullopt;
    LaunchSpec spec;
    spec.argv = {s.folderPath + "/" + std::string(exe->file), "-server", s.handleName, "-netport",
                 std::to_string(s.port)};
    spec.workdir = s.folderPath;
    spec.console = exe->keys == KeyKind::Char;
    spec.user = s.serverUser;
    return spec;
}

Supervisor::Supervisor(MonitorSettings& settings, ServerState& state, WindowAccess& windows,
                       ServerProcesses& processes, SupervisorTimers& timers, LineWriter& events,
                       const Clock& clock)
    : settings(settings), state(state), windows(windows), processes(processes), timers(timers),
      events(events), clock(clock)
{
}

template <class R>
void Supervisor::Ask(SupervisorTimers::Id duty, std::function<R(WindowSystem&)> work,
                     std::function<void(R)> answer)
{
    if (asking[duty])
        return;
    asking[duty] = true;
    windows.Ask<R>(std::move(work), [this, duty, answer = std::move(answer)](R value) {
        asking[duty] = false;
        answer(std::move(value));
    });
}

void Supervisor::Launch(uint32_t generation)
{
    const std::optional<LaunchSpec> spec = ServerLaunch(settings);
    if (!spec) {
        Launched(generation, Failure{"ExeType " + std::to_string(settings.exeType) + " is not one of 0 to 3"});
        return;
    }
    processes.Start(*spec, [this, generation](Result<uint32_t> pid) { Launched(generation, std::move(pid)); });
}

void Supervisor::Launched(uint32_t generation, Result<uint32_t> started)
{
    starting = false;
    const uint32_t pid = started ? *started : 0;
    if (!started) {
        if (onError)
            onError("Cannot start server: " + started.error());
        Notice(std::string(kCannotStart) + started.error());
    }
    state.serverRunning = pid != 0;
    state.serverProcessId = pid;
    controlledPid = pid;
    takenOver = false;
    adopted = false;
    startedTick = clock.TickMs();
    const int64_t now = clock.Now();
    state.lastRestart = now;
    state.lastReset = now;
    state.serverWindow = 0;
    // A terminate that came while the process was being started ends it once it is known.
    const bool stopped = generation != startGeneration;
    if (!state.serverRunning) {
        // Under CheckRunning a start that failed (a tmux or disk hiccup) is tried again, spaced
        // like a crash loop, rather than leaving the server down for good.
        if (settings.checkRunning && !stopped)
            StartLater("failed to start");
        return;
    }
    if (onStartEnabled)
        onStartEnabled(false);
    timers.Arm(SupervisorTimers::ErrorDialog, ClampCloseInterval(closeInterval));
    timers.Arm(SupervisorTimers::DownCheck, 1000);
    timers.Arm(SupervisorTimers::WindowSearch, 1000);
    timers.Arm(SupervisorTimers::Minimize, 1000);
    events.WriteLine("Start server");
    if (onChange)
        onChange(ServerChange::Up, "Server up: process " + std::to_string(pid));
    if (stopped)
        TerminateServer();
}

void Supervisor::StartServer()
{
    // A second start would only lose the known window: it is refused, and said so.
    if (state.serverRunning || starting) {
        Notice(kAlreadyRunning);
        return;
    }
    // Never two servers at once: a stopped process that still lives is waited for.
    if (processes.Alive(stoppedPid)) {
        startPending = true;
        return;
    }
    startPending = false;
    // What is left of the last stop would reach the new server (a reused window id).
    CancelStop();
    // The server outlives the monitor: the first start of a monitor takes up the one its
    // predecessor left running, instead of a second one that could not have the port.
    const bool first = !everStarted;
    everStarted = true;
    starting = true;
    const uint32_t generation = startGeneration;
    const std::optional<ExecutableKind> exe = Executable(settings.exeType);
    if (!first || !exe) {
        Launch(generation);
        return;
    }
    const bool console = exe->keys == KeyKind::Char;
    windows.Ask<std::vector<WindowInfo>>(
        [console](WindowSystem& w) { return w.ServerWindows(console); },
        [this, generation](std::vector<WindowInfo> found) {
            if (generation != startGeneration)
                starting = false;  // terminated meanwhile: nothing was started
            else if (!AdoptRunningServer(found))
                Launch(generation);
        });
}

bool Supervisor::AdoptRunningServer(const std::vector<WindowInfo>& found)
{
    const std::optional<ExecutableKind> exe = Executable(settings.exeType);
    if (!exe)
        return false;
    const bool console = exe->keys == KeyKind::Char;
    for (const WindowInfo& w : found) {
        // A session this monitor's kind named on its own socket, or a simulator window whose
        // process the X server knows.
        const bool ours = console ? w.title.starts_with(kConsoleSessionPrefix)
                                  : w.kind == WindowKind::Main && (w.className == "ZEPHRINEWINDOW" || AsciiEqualNoCase(w.className, exe->file));
        if (!ours || w.pid == 0)
            continue;
        processes.Watch(w.pid);
        if (!processes.Alive(w.pid))
            continue;
        starting = false;
        state.serverRunning = 1;
        state.serverProcessId = w.pid;
        state.serverWindow = w.id;
        controlledPid = w.pid;
        takenOver = false;
        adopted = true;
        startedTick = clock.TickMs();
        state.lastRestart = state.lastReset = clock.Now();
        if (onStartEnabled)
            onStartEnabled(false);
        timers.Arm(SupervisorTimers::ErrorDialog, ClampCloseInterval(closeInterval));
        timers.Arm(SupervisorTimers::DownCheck, 1000);
        timers.Arm(SupervisorTimers::Minimize, 1000);
        events.WriteLine("Take control");
        return true;
    }
    return false;
}

void Supervisor::StopServerProcess()
{
    if (state.serverRunning) {
        const std::optional<ExecutableKind> exe = Executable(settings.exeType);
        const uint32_t pid = controlledPid;
        CancelStop();
        stoppedPid = pid;
        // A server already gone gets nothing: its window's id may name another window by now.
        if (pid == 0 || processes.Alive(pid)) {
            stop = {state.serverWindow, exe ? exe->keys : KeyKind::KeyDown, pid, 0, true, takenOver || adopted};
            const uint32_t generation = stopGeneration;
            RunStopSteps(generation, 0);
            for (size_t i = 1; i < kStopSteps.size(); ++i)
                timers.After(kStopSteps[i].first, [this, generation, i] { RunStopSteps(generation, i); });
        }
        state.serverRunning = 0;
        controlledPid = 0;
        takenOver = false;
        adopted = false;
    }
    state.lastReset = kNoMark;
    state.lastRestart = kNoMark;
    if (onServerStopped)
        onServerStopped();
}

void Supervisor::RunStopSteps(uint32_t generation, size_t last)
{
    for (; generation == stopGeneration && stop.active && stop.next <= last; ++stop.next) {
        const StopStep step = kStopSteps[stop.next].second;
        if (step == StopStep::Term || step == StopStep::Kill) {
            // A server taken under control is only asked to close: its pid came from a window.
            if (!stop.takenOver)
                EscalateStop(stop.pid, step == StopStep::Kill);
            continue;
        }
        if (stop.pid != 0 && !processes.Alive(stop.pid)) {
            stop.active = false;  // ended: nothing more to ask of it
            return;
        }
        windows.Post([window = stop.window, pid = stop.pid, keys = stop.keys, step](WindowSystem& w) {
            // Only while the window still belongs to the stopped process.
            if (pid != 0 && w.WindowPid(window) != pid)
                return;
            if (step == StopStep::Escape)
                w.PostKey(window, keys, kEscape);
            else
                w.PostClose(window);
        });
    }
}

void Supervisor::CancelStop()
{
    ++stopGeneration;
    stop.active = false;
}

void Supervisor::FinishPendingStop()
{
    RunStopSteps(stopGeneration, kTermStep);
    CancelStop();
    windows.Drain();
}

void Supervisor::Notice(std::string_view text)
{
    if (onNotice)
        onNotice(text);
}

void Supervisor::EscalateStop(uint32_t pid, bool kill)
{
    if (pid != 0 && pid != controlledPid && processes.Alive(pid))
        processes.Signal(pid, kill);
}

void Supervisor::TerminateServer()
{
    if (state.serverRunning)
        events.WriteLine("Terminate server");
    // No start still waiting survives the operator's (or the schedule's) stop.
    startPending = false;
    ++startGeneration;
    StopServerProcess();
    timers.Stop(SupervisorTimers::ErrorDialog);
    timers.Stop(SupervisorTimers::DownCheck);
    if (onStartEnabled)
        onStartEnabled(true);
}

void Supervisor::CloseErrorDialogs()
{
    const WindowId window = state.serverWindow;
    if (!state.serverRunning || !settings.closeErrorDialog || window == 0)
        return;
    Ask<bool>(SupervisorTimers::ErrorDialog, [window](WindowSystem& w) {
        const std::optional<WindowInfo> popup = w.EnabledPopup(window);
        // Menus stay open; message boxes and dialogs are closed.
        if (popup && popup->kind != WindowKind::Menu)
            w.PostClose(popup->id);
        return true;
    }, [](bool) {});
}

void Supervisor::ServerDown()
{
    if (onChange)
        onChange(ServerChange::Down, settings.checkRunning ? "Server down: its process ended; starting it again"
                                                           : "Server down: its process ended");
    TerminateServer();
    const uint32_t now = clock.TickMs();
    const uint32_t lived = now - startedTick;
    if (lived >= kStableRun)
        quickExits = 0;
    if (!settings.checkRunning)
        return;
    if (lived >= kQuickExit) {
        StartServer();
        return;
    }
    StartLater("exited");
}

void Supervisor::StartLater(const char* what)
{
    const uint32_t now = clock.TickMs();
    // A crash loop: 1, 2, 4, ... s up to 5 minutes between starts, each step in the error log.
    if (quickExits++ == 0)
        firstQuickExit = now;
    const uint32_t delay = std::min(kFirstBackOff << std::min(quickExits - 1, 16u), kMaxBackOff);
    const uint32_t minutes = std::max((now - firstQuickExit + 59999) / 60000, 1u);
    const std::string line = std::string("server ") + what + " " + std::to_string(quickExits) + " times in " +
                             std::to_string(minutes) + " minutes; next start in " + std::to_string(delay / 1000) + " s";
    if (onError)
        onError(line);
    if (onChange && quickExits > 1)
        onChange(ServerChange::CrashLoop, "Server crash loop: " + line);
    timers.After(static_cast<int>(delay), [this, g = startGeneration] {
        if (g == startGeneration && !state.serverRunning && !starting && settings.checkRunning)
            StartServer();
    });
}

void Supervisor::DownCheck()
{
    if (!state.serverRunning || takenOver)
        return;
    // The process this monitor started is alive while its pidfd says so; a window that went
    // (a lost display, a tmux that did not answer) is only looked for again.
    if (!processes.Alive(controlledPid)) {
        ServerDown();
        return;
    }
    const WindowId window = state.serverWindow;
    if (window == 0)
        return;
    Ask<bool>(SupervisorTimers::DownCheck, [window](WindowSystem& w) { return w.IsWindow(window); },
              [this, window](bool there) {
                  // Only about the window still known: a stop or a search may have come meanwhile.
                  if (there || !state.serverRunning || state.serverWindow != window)
                      return;
                  state.serverWindow = 0;
                  timers.Arm(SupervisorTimers::WindowSearch, 1000);
              });
}

void Supervisor::OnProcessExited(uint32_t pid)
{
    if (state.serverRunning && !takenOver && pid == controlledPid)
        ServerDown();
    else if (startPending && pid == stoppedPid)
        StartServer();
}

void Supervisor::WindowSearch()
{
    const std::optional<ExecutableKind> exe = Executable(settings.exeType);
    const bool console = exe && exe->keys == KeyKind::Char;
    const uint32_t pid = state.serverProcessId;
    Ask<std::vector<WindowInfo>>(SupervisorTimers::WindowSearch,
        [console](WindowSystem& w) { return w.ServerWindows(console); },
        [this, pid](std::vector<WindowInfo> found) {
            if (state.serverProcessId != pid)
                return;  // another server since: the next tick looks for its window
            const WindowId window = FindWindowOf(pid, found);
            state.serverWindow = window;
            if (window != 0)
                timers.Stop(SupervisorTimers::WindowSearch);
        });
}

void Supervisor::MinimizeWindow()
{
    const WindowId window = state.serverWindow;
    if (!settings.minimizeZP || window == 0)
        return;
    Ask<bool>(SupervisorTimers::Minimize, [window](WindowSystem& w) {
        const bool iconic = w.IsIconic(window);
        if (!iconic)
            w.PostMinimize(window);
        return iconic;
    }, [this, window](bool iconic) {
        if (iconic && state.serverWindow == window)
            timers.Stop(SupervisorTimers::Minimize);
    });
}

void Supervisor::SettingsConfirmed(int newCloseInterval)
{
    closeInterval = newCloseInterval;
    if (state.serverRunning && settings.closeErrorDialog)
        timers.Arm(SupervisorTimers::ErrorDialog, ClampCloseInterval(closeInterval));
}

WindowId Supervisor::FindWindowOf(uint32_t pid, const std::vector<WindowInfo>& candidates)
{
    if (pid == 0)
        return 0;
    for (const WindowInfo& w : candidates) {
        if (w.TopLevel() && w.pid == pid)
            return w.id;
    }
    return 0;
}

std::optional<WindowInfo> Supervisor::ServerWindowAmong(const std::vector<WindowInfo>& windows)
{
    for (const WindowInfo& w : windows) {
        bool match = w.className == "ZEPHRINEWINDOW" ||
                     (w.kind == WindowKind::Console && w.title.find("zemainsvr.exe") != std::string::npos);
        // Wine names a program's windows after its executable.
        for (const ExecutableKind& exe : kExecutables)
            match = match || AsciiEqualNoCase(w.className, exe.file);
        if (match)
            return w;
    }
    return std::nullopt;
}

void Supervisor::TakeControl(const WindowInfo& found)
{
    if (!CanTakeControl() || found.id == 0)
        return;
    state.serverWindow = found.id;
    state.serverRunning = 1;
    // A console window is the console server whatever its title says ("CPU" in a prompt, say).
    const bool console = found.kind == WindowKind::Console;
    if (console)
        settings.exeType = 3;
    for (int32_t type : kKeywordOrder) {
        if (console)
            break;
        if (found.title.find(kExecutables[static_cast<size_t>(type)].titleKeyword) !=
            std::string::npos) {
            settings.exeType = type;
            break;
        }
    }
    // The process behind the window, so that a later stop can make sure it ended.
    takenOver = true;
    controlledPid = found.pid;
    if (found.pid != 0)
        processes.Watch(found.pid);
    const int64_t now = clock.Now();
    state.lastRestart = now;
    state.lastReset = now;
    if (onStartEnabled)
        onStartEnabled(false);
    timers.Arm(SupervisorTimers::ErrorDialog, ClampCloseInterval(closeInterval));
}

}  // namespace zpmoni
