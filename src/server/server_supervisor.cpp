// SPDX-License-Identifier: MIT
#include "server/server_supervisor.h"

namespace zpmoni {

ServerSupervisor::ServerSupervisor(MonitorSettings& settings, ServerState& state, WindowAccess& windows,
                                   const std::string& consoleSocket, LineWriter& events,
                                   const Clock& clock, QObject* parent)
    : QObject(parent), processes(MakeServerProcesses(consoleSocket)),
      logic(settings, state, windows, *processes, *this, events, clock)
{
    UseConsoleUser(settings.serverUser);
    processes->onExit = [this](uint32_t pid) { logic.OnProcessExited(pid); };
    logic.onStartEnabled = [this](bool enabled) {
        startEnabled = enabled;
        emit startEnabledChanged(enabled);
    };
    logic.onNotice = [this](std::string_view text) {
        emit notice(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    };
    connect(&timers[ErrorDialog], &QTimer::timeout, this, [this] { logic.CloseErrorDialogs(); });
    connect(&timers[DownCheck], &QTimer::timeout, this, [this] { logic.DownCheck(); });
    connect(&timers[WindowSearch], &QTimer::timeout, this, [this] { logic.WindowSearch(); });
    connect(&timers[Minimize], &QTimer::timeout, this, [this] { logic.MinimizeWindow(); });
}

ServerSupervisor::~ServerSupervisor()
{
    // The server is left running, unless a stop was under way: what it still had to do is done
    // now, or a terminate just before the exit would leave the server up.
    processes->onExit = nullptr;
    logic.FinishPendingStop();
}

void ServerSupervisor::Arm(Id id, int ms)
{
    timers[id].start(ms);
}

void ServerSupervisor::Stop(Id id)
{
    timers[id].stop();
}

void ServerSupervisor::After(int ms, std::function<void()> step)
{
    QTimer::singleShot(ms, Qt::PreciseTimer, this, std::move(step));
}

}  // namespace zpmoni
