// SPDX-License-Identifier: MIT
#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

InstanceLock::~InstanceLock()
{
    if (fd >= 0)
        ::close(fd);
}

InstanceLock::Result InstanceLock::Acquire(const std::string& folder)
{
    const std::string path = folder + "/Zpmoni.lock";
    const int f = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (f < 0)
        return Result::Unavailable;
    if (::flock(f, LOCK_EX | LOCK_NB) == 0) {
        const std::string pid = std::to_string(::getpid()) + "\n";
        // Only the id to be read depends on these; the lock holds all the same.
        [[maybe_unused]] const int cut = ::ftruncate(f, 0);
        [[maybe_unused]] const ssize_t put = ::pwrite(f, pid.data(), pid.size(), 0);
        if (fd >= 0)
            ::close(fd);
        fd = f;
        return Result::Acquired;
    }
    if (errno != EWOULDBLOCK) {
        ::close(f);
        return Result::Unavailable;
    }
    // The holder writes its id just after it took the lock: give it a moment.
    char text[32] = {};
    for (int attempt = 0; attempt < 20; ++attempt) {
        const ssize_t n = ::pread(f, text, sizeof text - 1, 0);
        if (n > 0) {
            text[n] = '\0';
            holder = static_cast<pid_t>(std::atol(text));
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::close(f);
    return Result::Held;
}
