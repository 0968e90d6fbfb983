// SPDX-License-Identifier: MIT
#pragma once

// Starts and stops the programs a test runs beside it: only by their own process ids.

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const std::vector<std::string>& argv, const std::string& outputFile,
                 const std::string& workdir = {})
    {
        Start(argv, outputFile, workdir);
    }
    ~ChildProcess() { Stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // stdout and stderr go to outputFile; stdin reads nothing.
    bool Start(const std::vector<std::string>& argv, const std::string& outputFile,
               const std::string& workdir = {})
    {
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (!workdir.empty())
            posix_spawn_file_actions_addchdir_np(&actions, workdir.c_str());
        int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            pid = -1;
        return pid > 0;
    }

    bool Running()
    {
        if (pid <= 0)
            return false;
        int status;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            exitStatus = status;
            pid = -1;
            return false;
        }
        return true;
    }

    // Sends the signal and waits up to `grace` for the end; then kills. The wait status.
    int Stop(int signal = SIGTERM, std::chrono::milliseconds grace = std::chrono::seconds(10))
    {
        if (pid <= 0)
            return exitStatus;
        kill(pid, signal);
        auto until = std::chrono::steady_clock::now() + grace;
        while (Running() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &exitStatus, 0);
            pid = -1;
        }
        return exitStatus;
    }

    // Waits for the child to end by itself; false when it did not within the time.
    bool Wait(std::chrono::milliseconds limit)
    {
        auto until = std::chrono::steady_clock::now() + limit;
        while (Running()) {
            if (std::chrono::steady_clock::now() >= until)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    pid_t Pid() const { return pid; }
    int ExitStatus() const { return exitStatus; }

private:
    pid_t pid = -1;
    int exitStatus = -1;
};

// Polls a condition until it holds or the time is up.
template <typename Condition>
bool WaitFor(Condition&& condition, std::chrono::milliseconds limit)
{
    auto until = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}
