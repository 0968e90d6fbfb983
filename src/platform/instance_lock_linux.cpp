// SPDX-License-Identifier: MIT
#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace zpmoni {

namespace {

constexpr const char* kName = "Zpmoni.lock";

std::mutex lockedFolderGuard;
std::string lockedPath;
std::optional<FileIdentity> lockedFolder;

// A lock file left by an earlier run of the same user: one link, a few bytes of digits. Anything
// else (a hard link to another file, say) is locked but never written.
bool LeftByUs(int f, const struct stat& st)
{
    if (st.st_uid != ::geteuid() || st.st_nlink != 1 || st.st_size > 32)
        return false;
    char text[33] = {};
    const ssize_t n = ::pread(f, text, sizeof text - 1, 0);
    return n >= 0 && std::strspn(text, "0123456789\n") == static_cast<size_t>(n);
}

}  // namespace

InstanceLock::~InstanceLock()
{
    if (fd >= 0)
        ::close(fd);
}

std::optional<FileIdentity> InstanceLock::LockedFolder(const std::string& folder)
{
    std::lock_guard guard(lockedFolderGuard);
    return folder == lockedPath ? lockedFolder : std::nullopt;
}

InstanceLock::Result InstanceLock::Acquire(const std::string& folder)
{
    problem.clear();
    auto unavailable = [this](std::string why) {
        problem = std::move(why);
        return Result::Unavailable;
    };
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return unavailable(std::strerror(errno));
    struct stat folderStat {};
    const bool folderKnown = ::fstat(dir, &folderStat) == 0;

    bool created = true;
    int f = ::openat(dir, kName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    struct stat st {};
    if (f < 0 && errno == EEXIST) {
        created = false;
        // Looked at before it is opened: a FIFO or device there is never opened at all.
        if (::fstatat(dir, kName, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            const int error = errno;
            ::close(dir);
            return unavailable(std::strerror(error));
        }
        if (!S_ISREG(st.st_mode)) {
            ::close(dir);
            return unavailable(std::string(kName) + " is not a regular file");
        }
        constexpr int flags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
        f = ::openat(dir, kName, O_RDWR | flags);
        // Another user's lock file can still be locked, just not written.
        if (f < 0 && errno == EACCES)
            f = ::openat(dir, kName, O_RDONLY | flags);
    }
    const int openError = errno;
    ::close(dir);
    if (f < 0)
        return unavailable(openError == ELOOP ? std::string(kName) + " is not a regular file"
                                              : std::strerror(openError));
    const struct stat before = st;
    if (::fstat(f, &st) != 0 || !S_ISREG(st.st_mode) ||
        (!created && (st.st_ino != before.st_ino || st.st_dev != before.st_dev))) {
        ::close(f);
        return unavailable(std::string(kName) + " is not a regular file");
    }

    if (::flock(f, LOCK_EX | LOCK_NB) == 0) {
        // Written only once the lock is held, so a holder's id is never cut by a monitor that
        // then finds the lock taken.
        if (created || LeftByUs(f, st)) {
            const std::string pid = std::to_string(::getpid()) + "\n";
            // Only the id to be read depends on these; the lock holds all the same.
            [[maybe_unused]] const int cut = ::ftruncate(f, 0);
            [[maybe_unused]] const ssize_t put = ::pwrite(f, pid.data(), pid.size(), 0);
        }
        if (fd >= 0)
            ::close(fd);
        fd = f;
        std::lock_guard guard(lockedFolderGuard);
        lockedFolder.reset();
        lockedPath = folder;
        if (folderKnown)
            lockedFolder = FileIdentity{static_cast<uint64_t>(folderStat.st_dev), static_cast<uint64_t>(folderStat.st_ino)};
        return Result::Acquired;
    }
    if (errno != EWOULDBLOCK) {
        const int error = errno;
        ::close(f);
        return unavailable(std::strerror(error));
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

}  // namespace zpmoni
