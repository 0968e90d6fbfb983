// SPDX-License-Identifier: MIT
#pragma once

#include "server/supervisor.h"

#include <QObject>
#include <QTimer>

#include <array>
#include <memory>

namespace zpmoni {

// The supervisor on the event loop: its timers as QTimers, the stop sequence's steps as single
// shots, process exits from the platform. The main window and the headless run both drive it.
class ServerSupervisor final : public QObject, private SupervisorTimers {
    Q_OBJECT
public:
    ServerSupervisor(MonitorSettings& settings, ServerState& state, WindowAccess& windows,
                     const std::string& consoleSocket, LineWriter& events, const Clock& clock,
                     QObject* parent = nullptr);
    ~ServerSupervisor() override;

    Supervisor& Logic() { return logic; }
    bool StartEnabled() const { return startEnabled; }
    bool Armed(Id id) const { return timers[id].isActive(); }

signals:
    void startEnabledChanged(bool enabled);
    // A short word for the status line.
    void notice(const QString& text);

private:
    void Arm(Id id, int ms) override;
    void Stop(Id id) override;
    void After(int ms, std::function<void()> step) override;

    std::unique_ptr<ServerProcesses> processes;
    Supervisor logic;
    std::array<QTimer, kCount> timers;
    bool startEnabled = true;
};

}  // namespace zpmoni
