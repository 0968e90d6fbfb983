// SPDX-License-Identifier: MIT
#include "app/supervisor.h"

#include "base/ascii.h"

#include <cstdio>

namespace {

constexpr std::array<ExecutableKind, 4> kExecutables{{
    {"zemaino.exe", "OpenGL", KeyKind::KeyDown},
    {"zemain.exe", "CPU", KeyKind::KeyDown},
    {"zemaindx.exe", "Direct3D", KeyKind::KeyDown},
    {"zemainsvr.exe", "zemainsvr.exe", KeyKind::Char},
}};
// The order in which a found window's title decides the executable type.
constexpr std::array<int32_t, 4> kKeywordOrder{1, 0, 2, 3};

constexpr std::string_view kMenuClass = "#32768";
constexpr uint8_t kEscape = 27;
// Spacing of the stop sequence: Escape three times, then the close request.
constexpr std::array<int, 3> kEscapeAt{0, 100, 200};
constexpr int kCloseAt = 700;
// A stopped process still alive this long after the close request is ended by signals.
constexpr int kSignalAfter = 2000;
// A server that dies as soon as it starts is started again at most this often.
constexpr uint32_t kRestartSpacing = 1000;

}  // namespace

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
           " -netport " + std::to_string(s.port.load());
}

std::optional<LaunchSpec> ServerLaunch(const MonitorSettings& s)
{
    const std::optional<ExecutableKind> exe = Executable(s.exeType);
    if (!exe)
        return std::nullopt;
    LaunchSpec spec;
    spec.argv = {s.folderPath + "/" + std::string(exe->file), "-server", s.handleName, "-netport",
                 std::to_string(s.port.load())};
    spec.workdir = s.folderPath;
    spec.console = exe->keys == KeyKind::Char;
    return spec;
}

Supervisor::Supervisor(MonitorSettings& settings, ServerState& state, WindowSystem& windows,
                       ServerProcesses& processes, SupervisorTimers& timers, LineWriter& events,
                       const Clock& clock)
    : settings(settings), state(state), windows(windows), processes(processes), timers(timers),
      events(events), clock(clock)
{
}

bool Supervisor::LaunchServerProcess()
{
    if (state.serverRunning)
        return true;
    const std::optional<LaunchSpec> spec = ServerLaunch(settings);
    const uint32_t pid = spec ? processes.Start(*spec) : 0;
    state.serverRunning = pid != 0;
    state.serverProcessId = pid;
    controlledPid = pid;
    takenOver = false;
    startedTick = clock.TickMs();
    const int64_t now = clock.Now();
    state.lastRestart = now;
    state.lastReset = now;
    state.serverWindow = 0;
    return pid != 0;
}

void Supervisor::StartServer()
{
    // Never two servers at once: a stopped process that still lives is waited for.
    if (!state.serverRunning && processes.Alive(stoppedPid)) {
        startPending = true;
        return;
    }
    startPending = false;
    LaunchServerProcess();
    if (!state.serverRunning)
        return;
    if (onStartEnabled)
        onStartEnabled(false);
    timers.Arm(SupervisorTimers::ErrorDialog, closeInterval);
    timers.Arm(SupervisorTimers::DownCheck, 1000);
    timers.Arm(SupervisorTimers::WindowSearch, 1000);
    timers.Arm(SupervisorTimers::Minimize, 1000);
    events.WriteLine("Start server");
}

void Supervisor::StopServerProcess()
{
    if (state.serverRunning) {
        const WindowId window = state.serverWindow;
        const std::optional<ExecutableKind> exe = Executable(settings.exeType);
        const KeyKind kind = exe ? exe->keys : KeyKind::KeyDown;
        for (int at : kEscapeAt) {
            if (at == 0)
                windows.PostKey(window, kind, kEscape);
            else
                timers.After(at, [this, window, kind] { windows.PostKey(window, kind, kEscape); });
        }
        timers.After(kCloseAt, [this, window] { windows.PostClose(window); });
        const uint32_t pid = controlledPid;
        stoppedPid = pid;
        timers.After(kCloseAt + kSignalAfter, [this, pid] { EscalateStop(pid, false); });
        timers.After(kCloseAt + 2 * kSignalAfter, [this, pid] { EscalateStop(pid, true); });
        state.serverRunning = 0;
        controlledPid = 0;
        takenOver = false;
    }
    state.lastReset = kNoMark;
    state.lastRestart = kNoMark;
    if (onServerStopped)
        onServerStopped();
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
    const std::optional<WindowInfo> popup = windows.EnabledPopup(window);
    if (!popup)
        return;
    // Menus stay open; message boxes and dialogs are closed.
    if (std::string_view(popup->className).substr(0, 16) != kMenuClass)
        windows.PostClose(popup->id);
}

void Supervisor::ServerDown()
{
    TerminateServer();
    if (!settings.checkRunning)
        return;
    const uint32_t lived = clock.TickMs() - startedTick;
    if (lived >= kRestartSpacing) {
        StartServer();
        return;
    }
    timers.After(static_cast<int>(kRestartSpacing - lived), [this] {
        if (!state.serverRunning && settings.checkRunning)
            StartServer();
    });
}

void Supervisor::DownCheck()
{
    if (!state.serverRunning || takenOver)
        return;
    const WindowId window = state.serverWindow;
    const bool windowGone = window != 0 && !windows.IsWindow(window);
    if (windowGone || !processes.Alive(controlledPid))
        ServerDown();
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
    const WindowId window = FindProcessWindow(state.serverProcessId);
    state.serverWindow = window;
    if (window != 0)
        timers.Stop(SupervisorTimers::WindowSearch);
}

void Supervisor::MinimizeWindow()
{
    const WindowId window = state.serverWindow;
    if (!settings.minimizeZP || window == 0)
        return;
    if (windows.IsIconic(window))
        timers.Stop(SupervisorTimers::Minimize);
    else
        windows.PostMinimize(window);
}

void Supervisor::SettingsConfirmed(int newCloseInterval)
{
    closeInterval = newCloseInterval;
    if (state.serverRunning && settings.closeErrorDialog)
        timers.Arm(SupervisorTimers::ErrorDialog, closeInterval);
}

WindowId Supervisor::FindProcessWindow(uint32_t pid)
{
    if (pid == 0)
        return 0;
    for (const WindowInfo& w : windows.TopLevelWindows()) {
        if (!w.hasOwner && w.pid == pid)
            return w.id;
    }
    return 0;
}

std::optional<WindowInfo> Supervisor::SearchServerWindow()
{
    for (const WindowInfo& w : windows.TopLevelWindows()) {
        bool match = w.className == "ZEPHRINEWINDOW" ||
                     (w.className == "ConsoleWindowClass" &&
                      w.title.find("zemainsvr.exe") != std::string::npos);
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
    if (state.serverRunning || found.id == 0)
        return;
    state.serverWindow = found.id;
    state.serverRunning = 1;
    for (int32_t type : kKeywordOrder) {
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
    timers.Arm(SupervisorTimers::ErrorDialog, closeInterval);
}
