// SPDX-License-Identifier: MIT
#include "server/time_watch_thread.h"

#include "server/schedule.h"

#include <QMetaObject>

#include <system_error>

namespace zpmoni {

TimeWatchThread::TimeWatchThread(const SharedSettings& settings, ServerState& state,
                                 WindowAccess& windows, LineWriter& log, const Clock& clock)
    : settings(settings), state(state), windows(windows), log(log), clock(clock)
{
}

TimeWatchThread::~TimeWatchThread()
{
    Stop();
}

Status TimeWatchThread::Start()
{
    if (thread.joinable())
        return {};
    try {
        thread = std::jthread([this](std::stop_token stop) { Run(stop); });
    } catch (const std::system_error& e) {
        return Failure{"Cannot begin watching time thread. Error number=" + std::to_string(e.code().value())};
    }
    return {};
}

void TimeWatchThread::Stop()
{
    thread.request_stop();
    if (thread.joinable())
        thread.join();
}

bool TimeWatchThread::Sleep(const std::stop_token& stop, int ms)
{
    // Nothing but a stop ends the wait early.
    std::unique_lock guard(lock);
    wake.wait_for(guard, stop, std::chrono::milliseconds(ms), [] { return false; });
    return !stop.stop_requested();
}

void TimeWatchThread::OnMain(std::function<void()>* hook)
{
    QMetaObject::invokeMethod(
        &mainThread,
        [hook] {
            if (*hook)
                (*hook)();
        },
        Qt::QueuedConnection);
}

std::vector<ScheduledAction> TimeWatchThread::NextActions() const
{
    std::lock_guard guard(nextLock);
    return next;
}

void TimeWatchThread::Run(std::stop_token stop)
{
    ScheduleMarks marks;
    while (!stop.stop_requested()) {
        const std::shared_ptr<const MonitorSettings> s = settings.Snapshot();
        const ScheduleNow now = ReadScheduleClock(clock);
        const ScheduleDecision d = SchedulePass(*s, state, marks, now);
        {
            std::vector<ScheduledAction> coming = ScheduleNext(*s, state, marks, now);
            std::lock_guard guard(nextLock);
            next = std::move(coming);
        }
        if (d.restart) {
            OnMain(&onTerminate);
            if (!Sleep(stop, 3000))
                return;
            OnMain(&onStart);
        }
        if (d.warnMinutes > 0) {
            QMetaObject::invokeMethod(
                &mainThread,
                [this, minutes = d.warnMinutes] {
                    if (onWarning)
                        onWarning(minutes);
                },
                Qt::QueuedConnection);
        }
        if (d.revived)
            log.WriteLine("Ground obj reconstruct");
        const WindowId window = state.serverWindow;
        if (window != 0 && !d.keys.empty()) {
            const KeyKind kind = s->exeType == 3 ? KeyKind::Char : KeyKind::KeyDown;
            windows.Post([window, kind, keys = d.keys](WindowSystem& w) {
                for (char key : keys)
                    w.PostKey(window, kind, static_cast<uint8_t>(key));
            });
        }
        if (!Sleep(stop, 1000))
            return;
    }
}

}  // namespace zpmoni
