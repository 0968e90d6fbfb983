// SPDX-License-Identifier: MIT
#include "platform/command_runner_queue.h"

#include <QMetaObject>

namespace zpmoni {

JobQueue::JobQueue() : thread([this](std::stop_token stop) { Run(stop); }) {}

JobQueue::~JobQueue()
{
    thread.request_stop();
    if (thread.joinable())
        thread.join();
}

void JobQueue::Post(std::function<void()> work, std::function<void()> answer)
{
    {
        std::lock_guard guard(lock);
        jobs.push_back({std::move(work), std::move(answer)});
    }
    wake.notify_one();
}

void JobQueue::Run(std::stop_token stop)
{
    for (;;) {
        Job job;
        {
            std::unique_lock guard(lock);
            if (!wake.wait(guard, stop, [this] { return !jobs.empty(); }))
                return;
            job = std::move(jobs.front());
            jobs.pop_front();
            busy = true;
        }
        if (job.work)
            job.work();
        bool first = false;
        {
            std::lock_guard guard(lock);
            busy = false;
            if (job.answer) {
                first = answers.empty();
                answers.push_back(std::move(job.answer));
            }
        }
        idle.notify_all();
        // One queued call carries every answer gathered until it runs.
        if (first)
            QMetaObject::invokeMethod(&owner, [this] { Deliver(); }, Qt::QueuedConnection);
    }
}

void JobQueue::Deliver()
{
    std::vector<std::function<void()>> ready;
    {
        std::lock_guard guard(lock);
        ready.swap(answers);
    }
    for (std::function<void()>& answer : ready)
        answer();
}

void JobQueue::Drain()
{
    for (;;) {
        {
            std::unique_lock guard(lock);
            idle.wait(guard, [this] { return jobs.empty() && !busy; });
            if (answers.empty())
                return;
        }
        Deliver();
    }
}

}  // namespace zpmoni
