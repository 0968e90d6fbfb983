// SPDX-License-Identifier: MIT
#include "platform/command_runner_queue.h"
#include "platform/window_system.h"

namespace zpmoni {

namespace {

class QueuedWindows final : public WindowAccess {
public:
    explicit QueuedWindows(std::unique_ptr<WindowSystem> windows) : windows(std::move(windows)) {}

    void Post(std::function<void(WindowSystem&)> work, std::function<void()> answer) override
    {
        queue.Post([this, work = std::move(work)] { work(*windows); }, std::move(answer));
    }
    void Drain() override { queue.Drain(); }

private:
    std::unique_ptr<WindowSystem> windows;
    JobQueue queue;  // after the windows: stopped before they go
};

}  // namespace

std::unique_ptr<WindowAccess> MakeWindowAccess(std::unique_ptr<WindowSystem> windows)
{
    return std::make_unique<QueuedWindows>(std::move(windows));
}

}  // namespace zpmoni
