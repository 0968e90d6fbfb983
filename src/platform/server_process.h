// SPDX-License-Identifier: MIT
#pragma once

#include "base/result.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zpmoni {

// One start of the simulator.
struct LaunchSpec {
    std::vector<std::string> argv;  // argv[0] is the executable's path
    std::string workdir;
    bool console = false;           // the console server: in a detached console session
    // The user a root monitor starts it as: "" refuses the start, "root" keeps root. A monitor
    // that is not root starts it as itself.
    std::string user;
};

// Starting, watching and ending the simulator's processes. Main thread only.
class ServerProcesses {
public:
    virtual ~ServerProcesses() = default;
    // Starts the process in a session of its own, away from the event loop (a console session
    // waits for tmux); `done` gets its pid, watched from then on, or why it could not be started
    // (paths escaped), later, on the main thread. Starts are made in the order asked.
    virtual void Start(const LaunchSpec& spec, std::function<void(Result<uint32_t>)> done) = 0;
    // Watches a process that the monitor did not start (taken under control).
    virtual void Watch(uint32_t pid) = 0;
    // True while a watched process lives; false for any other pid.
    virtual bool Alive(uint32_t pid) = 0;
    // SIGTERM (or SIGKILL) to the watched process, and to its group when it leads one.
    virtual void Signal(uint32_t pid, bool kill) = 0;
    // Told on the main thread, at once, when a watched process has ended.
    std::function<void(uint32_t pid)> onExit;
};

// The system calls the Linux processes depend on for watching, replaceable to try their failures.
struct ProcessCalls {
    // pidfd_open(2): a descriptor that becomes readable when the process ends, or -1.
    std::function<int(int pid)> pidfdOpen;
};

// The console server's tmux is that of the user a root monitor starts the server as: set before
// any search, so that a server a previous monitor started is found there.
void UseConsoleUser(const std::string& user);

// The console pane's exec step: reads the start the monitor wrote to `startFile` (its
// arguments, folder and environment), removes the file and becomes the server. Returns only
// on failure, with the exit status.
int RunPaneExec(const std::string& startFile);

// The Linux processes: posix_spawn in a new session (a Windows executable through wine), the
// console server in a detached tmux session on the socket `consoleSocket`; exits are seen
// through pidfds on the running Qt event loop, or, where a pidfd cannot be had, by polling
// once a second.
std::unique_ptr<ServerProcesses> MakeServerProcesses(const std::string& consoleSocket,
                                                     ProcessCalls calls = {});

}  // namespace zpmoni
