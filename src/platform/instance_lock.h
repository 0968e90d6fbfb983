// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <sys/types.h>

// Keeps a second monitor off a working folder: an advisory lock (flock) on "Zpmoni.lock" in
// it, holding the holder's process id. The system releases it when the holder ends, however
// it ends; the descriptor is not inherited by the programs the monitor starts.
class InstanceLock {
public:
    enum class Result { Acquired, Held, Unavailable };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Held: another process has it, and Holder() tells which. Unavailable: the file cannot be
    // made (a read-only folder, say), so nothing can be told either way.
    Result Acquire(const std::string& folder);
    // The holder's process id as it wrote it, 0 when unknown.
    pid_t Holder() const { return holder; }

private:
    int fd = -1;
    pid_t holder = 0;
};
