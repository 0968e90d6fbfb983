// SPDX-License-Identifier: MIT
#pragma once

#include "base/regular_file.h"

#include <optional>
#include <string>
#include <sys/types.h>

namespace zpmoni {

// Keeps a second monitor off a working folder: an advisory lock (flock) on "Zpmoni.lock" in
// it, holding the holder's process id. The system releases it when the holder ends, however
// it ends; the descriptor is not inherited by the programs the monitor starts.
//
// Run as root in a folder others can write to, the lock file may be anything they put there: a
// link is never followed, only a regular file is locked, and the id goes only into a file this
// monitor made or that already holds nothing but a process id of its owner's.
class InstanceLock {
public:
    enum class Result { Acquired, Held, Unavailable };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Held: another process has it, and Holder() tells which. Unavailable: the file cannot be
    // made or locked (a read-only folder, a link or folder in its place), and Problem() says why.
    Result Acquire(const std::string& folder);
    // The holder's process id as it wrote it, 0 when unknown.
    pid_t Holder() const { return holder; }
    const std::string& Problem() const { return problem; }

    // The folder as it was when this process's latest lock was taken in it (nothing when that
    // lock was taken elsewhere): a folder removed and made anew under its name is no longer it.
    static std::optional<FileIdentity> LockedFolder(const std::string& folder);

private:
    int fd = -1;
    pid_t holder = 0;
    std::string problem;
};

}  // namespace zpmoni
