// SPDX-License-Identifier: MIT
#pragma once

#include "base/clock.h"
#include "base/settings_snapshot.h"
#include "base/server_state.h"
#include "base/log_files.h"
#include "base/result.h"
#include "platform/window_system.h"
#include "server/schedule.h"

#include <QObject>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

namespace zpmoni {

// The schedule's worker: one pass a second. It reaches the main thread only by queued calls
// (terminate, then start 3 s later, for a restart) and the simulator only by keys posted to the
// windows' queue; it writes "Ground obj reconstruct" to the daily log.
class TimeWatchThread {
public:
    TimeWatchThread(const SharedSettings& settings, ServerState& state, WindowAccess& windows,
                    LineWriter& log, const Clock& clock);
    ~TimeWatchThread();
    TimeWatchThread(const TimeWatchThread&) = delete;
    TimeWatchThread& operator=(const TimeWatchThread&) = delete;

    // Called on the main thread, queued, for a scheduled restart. Set on the main thread.
    std::function<void()> onTerminate;
    std::function<void()> onStart;
    // The players' warning of a coming restart, in minutes; on the main thread, queued.
    std::function<void(int)> onWarning;

    // What the schedule will do next, as its last pass saw it; callable from any thread.
    std::vector<ScheduledAction> NextActions() const;

    // Starts the thread; a failure names the error number.
    Status Start();
    // Asks the thread to stop and waits for its end.
    void Stop();

private:
    void Run(std::stop_token stop);
    // Sleeps up to ms; false when a stop was asked meanwhile.
    bool Sleep(const std::stop_token& stop, int ms);
    void OnMain(std::function<void()>* hook);

    const SharedSettings& settings;  // a snapshot per pass
    ServerState& state;
    WindowAccess& windows;
    LineWriter& log;
    const Clock& clock;
    std::mutex lock;
    std::condition_variable_any wake;
    mutable std::mutex nextLock;
    std::vector<ScheduledAction> next;
    QObject mainThread;  // queued calls land here; deleting it drops those not yet run
    // Last: stopped and joined before anything it uses goes.
    std::jthread thread;
};

}  // namespace zpmoni
