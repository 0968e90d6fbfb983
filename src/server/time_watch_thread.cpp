// SPDX-License-Identifier: MIT
#include "server/time_watch_thread.h"

#include "server/schedule.h"

#include <QMetaObject>

#include <system_error>

namespace zpmoni {

TimeWatchThread::TimeWatchThread(const SharedSettings& settings, ServerState& state,
                                 WindowSystem& windows, LineWriter& log, const Clock& clock)
    : settings(settings), state(state), windows(windows), log(log), clock(clock)
{
}

TimeWatchThread::~TimeWatchThread()
{
    Stop();
}

std::optional<int> TimeWatchThread::Start()
{
    if (thread.joinable())
        return std::nullopt;
    stopFlag = 0;
    try {
        thread = std::thread([this] { Run(); });
    } catch (const std::system_error& e) {
        return e.code().value();
    }
    return std::nullopt;
}

void TimeWatchThread::Stop()
{
    {
        std::lock_guard guard(lock);
        stopFlag = 1;
    }
    wake.notify_all();
    if (thread.joinable())
        thread.join();
}

bool TimeWatchThread::Sleep(int ms)
{
    std::unique_lock guard(lock);
    wake.wait_for(guard, std::chrono::milliseconds(ms), [this] { return stopFlag != 0; });
    return stopFlag == 0;
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

void TimeWatchThread::Run()
{
    ScheduleMarks marks;
    while (stopFlag == 0) {
        const std::shared_ptr<const MonitorSettings> s = settings.Snapshot();
        const ScheduleDecision d = SchedulePass(*s, state, marks, ReadScheduleClock(clock));
        if (d.restart) {
            OnMain(&onTerminate);
            if (!Sleep(3000))
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
            for (char key : d.keys)
                windows.PostKey(window, kind, static_cast<uint8_t>(key));
        }
        if (!Sleep(1000))
            return;
    }
}

}  // namespace zpmoni
