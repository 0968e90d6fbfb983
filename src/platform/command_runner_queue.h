// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace zpmoni {

// A thread of its own that runs jobs one after the other, in the order they came, so that a
// program slow to answer (tmux, the X server) holds up this thread and never the event loop.
// A job's answer runs afterwards on the thread that made the queue, from its event loop.
class JobQueue {
public:
    JobQueue();
    // Waits for the job under way; the jobs still waiting and the answers not yet run are dropped.
    ~JobQueue();
    JobQueue(const JobQueue&) = delete;
    JobQueue& operator=(const JobQueue&) = delete;

    // Any thread. `answer` (may be empty) runs on the owner's thread once `work` is done.
    void Post(std::function<void()> work, std::function<void()> answer = {});
    // The owner's thread, when no event loop runs any more (the monitor's end): waits until every
    // job posted so far has run, and runs the answers, with whatever they post in turn.
    void Drain();

private:
    struct Job {
        std::function<void()> work, answer;
    };
    void Run(std::stop_token stop);
    void Deliver();

    std::mutex lock;
    std::condition_variable_any wake;
    std::condition_variable idle;
    std::deque<Job> jobs;
    std::vector<std::function<void()>> answers;
    bool busy = false;
    QObject owner;  // the answers are queued calls to it; with it go those not yet run
    // Last: stopped and joined before anything it uses goes.
    std::jthread thread;
};

}  // namespace zpmoni
