// SPDX-License-Identifier: MIT
#include "server/server_service.h"

#include <cstdlib>

namespace zpmoni {

namespace {

// The console server's tmux socket: a plain name, so that tmux keeps it in its own folder.
std::string ConsoleSocketName()
{
    const char* name = std::getenv("ZPMONI_TMUX_SOCKET");
    std::string_view s = name ? name : "";
    const bool plain = !s.empty() && s.size() <= 64 && s.find_first_not_of(
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-") == s.npos;
    return plain ? std::string(s) : "zpmoni";
}

}  // namespace

ServerService::ServerService(MonitorSettings& settings, const SharedSettings& published, LineWriter& events,
                             const Clock& clock)
    : consoleSocket(ConsoleSocketName()), settings(settings), events(events), clock(clock),
      windows(MakeWindowAccess(MakeWindowSystem(consoleSocket))),
      schedule(published, state, *windows, events, clock)
{
}

ServerService::~ServerService()
{
    EndSupervision();
    schedule.Stop();
}

ServerSupervisor& ServerService::Supervise(std::function<void()> onServerStopped,
                                           std::function<void(std::string_view)> onError)
{
    supervisor = std::make_unique<ServerSupervisor>(settings, state, *windows, consoleSocket, events, clock);
    supervisor->Logic().onServerStopped = std::move(onServerStopped);
    supervisor->Logic().onError = [this, onError = std::move(onError)](std::string_view text) {
        if (onError)
            onError(text);
        Log(text);
    };
    supervisor->Logic().onChange = [this](ServerChange change, std::string_view text) {
        // A server that went down is started again under CheckRunning.
        if (change == ServerChange::Down && settings.checkRunning)
            CountRestart(RestartCause::Crash);
        if (onChange)
            onChange(change, text);
        Log(text);
    };
    // A scheduled restart: terminate, then start 3 s later.
    schedule.onTerminate = [this] {
        CountRestart(RestartCause::Schedule);
        Log("Server restart by the schedule");
        if (onChange)
            onChange(ServerChange::ScheduledRestart, "Server restart by the schedule");
        supervisor->Logic().TerminateServer();
    };
    schedule.onStart = [this] { supervisor->Logic().StartServer(); };
    return *supervisor;
}

void ServerService::EndSupervision()
{
    // The server keeps running; the schedule's queued calls find no supervisor any more.
    schedule.onTerminate = nullptr;
    schedule.onStart = nullptr;
    supervisor.reset();
}

Result<Supervisor*> ServerService::Logic()
{
    if (!supervisor)
        return Failure{"the server is not supervised now"};
    return &supervisor->Logic();
}

Status ServerService::Start()
{
    const Result<zpmoni::Supervisor*> logic = Logic();
    if (!logic)
        return Failure{logic.error()};
    const bool running = !(*logic)->CanTakeControl();
    // Told in the status line too, when a server runs.
    (*logic)->StartServer();
    if (running)
        return Failure{"the server is already running"};
    return {};
}

Status ServerService::Stop()
{
    const Result<zpmoni::Supervisor*> logic = Logic();
    if (!logic)
        return Failure{logic.error()};
    const bool running = state.serverRunning != 0;
    // Also ends a start still waiting.
    (*logic)->TerminateServer();
    if (!running)
        return Failure{"no server is running"};
    return {};
}

void ServerService::CountRestart(RestartCause cause)
{
    ++restarts.byCause[static_cast<size_t>(cause)];
    restarts.last = clock.Now();
    restarts.lastCause = cause;
}

Status ServerService::Restart(RestartCause cause)
{
    const Result<zpmoni::Supervisor*> logic = Logic();
    if (!logic)
        return Failure{logic.error()};
    CountRestart(cause);
    (*logic)->TerminateServer();
    (*logic)->StartServer();
    return {};
}

Status ServerService::TakeOver(const WindowInfo& window)
{
    const Result<zpmoni::Supervisor*> logic = Logic();
    if (!logic)
        return Failure{logic.error()};
    if (!(*logic)->CanTakeControl())
        return Failure{"a server is already under control"};
    if (window.id == 0)
        return Failure{"no window was given"};
    (*logic)->TakeControl(window);
    return {};
}

void ServerService::SearchWindow(std::function<void(std::optional<WindowInfo>)> found)
{
    windows->Ask<std::optional<WindowInfo>>(
        [](WindowSystem& w) { return Supervisor::ServerWindowAmong(w.TopLevelWindows()); }, std::move(found));
}

void ServerService::ShowWindow(WindowId window)
{
    windows->Post([window](WindowSystem& w) { w.ShowAndRaise(window); });
}

ServerStatus ServerService::CurrentStatus() const
{
    return {supervisor != nullptr, state.serverRunning != 0, state.serverProcessId, state.serverWindow,
            state.lastRestart};
}

}  // namespace zpmoni
