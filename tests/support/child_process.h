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
#include <vector>


extern char** environ;

// Polls a condition until it holds or the time is up.
template <typename Condition>
bool WaitFor(Condition&& condition, std::chrono::milliseconds limit)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    for (; !condition(); std::this_thread::sleep_for(std::chrono::milliseconds(20)))
        if (std::chrono::steady_clock::now() >= until)
            return false;
    return true;
}

// Whether a wait status is an ordinary exit with this code.
inline bool ExitedWith(int status, int code) { return WIFEXITED(status) && WEXITSTATUS(status) == code; }

class ChildProcess {
public:
    // stdout and stderr are appended to outputFile; stdin reads nothing.
    ChildProcess(const std::vector<std::string>& argv, const std::string& outputFile)
    {
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (argv.empty() || posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() { Stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Running()
    {
        if (pid > 0 && waitpid(pid, &exitStatus, WNOHANG) == pid)
            pid = -1;
        return pid > 0;
    }
    // Waits for the end by itself; false when it did not come within the time.
    bool Wait(std::chrono::milliseconds limit) { return WaitFor([&] { return !Running(); }, limit); }
    // Sends the signal, waits up to `grace` for the end, then kills. The wait status.
    int Stop(int signal = SIGTERM, std::chrono::milliseconds grace = std::chrono::seconds(10))
    {
        if (pid > 0 && (kill(pid, signal) != 0 || !Wait(grace))) {
            kill(pid, SIGKILL);
            waitpid(pid, &exitStatus, 0);
            pid = -1;
        }
        return exitStatus;
    }

    pid_t Pid() const { return pid; }
    int ExitStatus() const { return exitStatus; }

private:
    pid_t pid = -1;
    int exitStatus = -1;
};

// Runs a command to its end (killed after 30 s), output appended to `output`; true on exit 0.
inline bool RunCommand(const std::vector<std::string>& argv, const std::string& output = "/dev/null")
{
    ChildProcess child(argv, output);
    return ExitedWith(child.Wait(std::chrono::seconds(30)) ? child.ExitStatus() : child.Stop(SIGKILL), 0);
}
