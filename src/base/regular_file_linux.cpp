// SPDX-License-Identifier: MIT
#include "base/regular_file.h"

#include "base/text_escape.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zpmoni {

namespace {

// Closes on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd(fd) {}
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(Descriptor&& other)
    {
        if (this != &other) {
            if (fd >= 0)
                ::close(fd);
            fd = other.release();
        }
        return *this;
    }
    int get() const { return fd; }
    int release() { const int f = fd; fd = -1; return f; }
    explicit operator bool() const { return fd >= 0; }

private:
    int fd;
};

bool WriteAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string RandomSuffix()
{
    unsigned char bytes[8] = {};
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        // Unpredictability is only a second line: O_EXCL refuses whatever stands there already.
        const uint64_t mix = static_cast<uint64_t>(::getpid()) * 0x9E3779B97F4A7C15u ^
                             static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&bytes));
        std::memcpy(bytes, &mix, sizeof bytes);
    }
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char b : bytes)
        text.append({digits[b >> 4], digits[b & 15]});
    return text;
}

struct Split {
    std::string folder;
    std::string name;
};

Split SplitPath(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

FileResult Failed(FileStatus status = FileStatus::Failed) { return {status, errno}; }

}  // namespace

FileContent ReadRegularFile(const std::string& path, size_t limit)
{
    FileContent result;
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
    struct stat st {};
    if (!fd) {
        result.error = errno;
        result.status = errno == ENOENT ? FileStatus::Missing
                        : errno == ELOOP ? FileStatus::NotRegular
                                         : FileStatus::Failed;
        return result;
    }
    if (::fstat(fd.get(), &st) != 0) {
        result.error = errno;
        return result;
    }
    result.owner = st.st_uid;
    result.mode = st.st_mode & 07777;
    if (!S_ISREG(st.st_mode)) {
        result.status = FileStatus::NotRegular;
        return result;
    }
    if (static_cast<uint64_t>(st.st_size) > limit) {
        result.status = FileStatus::TooLarge;
        return result;
    }
    // The size may have changed since fstat: read to the end, one byte past the limit at most.
    result.data.resize(static_cast<size_t>(st.st_size) + 1);
    size_t filled = 0;
    for (;;) {
        if (filled == result.data.size()) {
            if (filled > limit) {
                result.data.clear();
                result.status = FileStatus::TooLarge;
                return result;
            }
            result.data.resize(std::min(limit + 1, filled * 2 + 4096));
        }
        const ssize_t n = ::read(fd.get(), result.data.data() + filled, result.data.size() - filled);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result.error = errno;
            result.data.clear();
            return result;
        }
        if (n == 0)
            break;
        filled += static_cast<size_t>(n);
    }
    result.data.resize(filled);
    result.status = FileStatus::Ok;
    return result;
}

std::string FileProblem(std::string_view action, const std::string& path, FileResult result)
{
    std::string why;
    switch (result.status) {
    case FileStatus::Ok:
    case FileStatus::Missing:
        return {};
    case FileStatus::NotRegular:
        why = "not a regular file";
        break;
    case FileStatus::TooLarge:
        why = "too large";
        break;
    case FileStatus::Failed:
        why = result.error ? std::strerror(result.error) : "failed";
        break;
    }
    std::string line = "Cannot ";
    line.append(action).append(" ");
    AppendEscaped(line, path);
    return line.append(": ").append(why);
}

FileResult ReplaceRegularFile(const std::string& path, std::string_view data, const FileSync& sync)
{
    const Split at = SplitPath(path);
    if (at.name.empty() || at.name == "." || at.name == "..")
        return {FileStatus::NotRegular, 0};
    Descriptor folder(::open(at.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder)
        return Failed();

    // Looked at before anything is opened, so a FIFO or device in the file's place is never
    // opened; then opened for writing as the probe that the user left the file writable.
    struct stat old {};
    bool exists = ::fstatat(folder.get(), at.name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT)
        return Failed();
    if (exists) {
        if (!S_ISREG(old.st_mode))
            return {FileStatus::NotRegular, 0};
        Descriptor probe(::openat(folder.get(), at.name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        struct stat now {};
        if (!probe)
            return Failed(errno == ELOOP ? FileStatus::NotRegular : FileStatus::Failed);
        if (::fstat(probe.get(), &now) != 0)
            return Failed();
        if (!S_ISREG(now.st_mode) || now.st_ino != old.st_ino || now.st_dev != old.st_dev)
            return {FileStatus::NotRegular, 0};
        old = now;
    }

    std::string temp;
    Descriptor out;
    for (int attempt = 0; attempt < 16 && !out; ++attempt) {
        temp = at.name + ".tmp" + RandomSuffix();
        out = Descriptor(::openat(folder.get(), temp.c_str(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, exists ? 0600 : 0644));
        if (!out && errno != EEXIST)
            return Failed();
    }
    if (!out)
        return Failed();
    const std::string tempPath = at.folder + "/" + temp;
    auto abandon = [&] {
        const FileResult r = Failed();
        ::unlinkat(folder.get(), temp.c_str(), 0);
        return r;
    };
    if (!WriteAll(out.get(), data))
        return abandon();
    if (exists) {
        // Owner first: a change of owner clears set-id bits that the mode then puts back. A user
        // other than root may not give a file away and keeps the new file as the old one's
        // writer; only the mode follows then.
        if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
            ::fchown(out.get(), old.st_uid, old.st_gid) != 0 && errno != EPERM)
            return abandon();
        if (::fchmod(out.get(), old.st_mode & 07777) != 0)
            return abandon();
    }
    // On disk before it takes the old file's name: a crash then leaves the old file or the new
    // one, never an empty one.
    if (sync && !sync(tempPath))
        return abandon();
    if (::close(out.release()) != 0)
        return abandon();
    if (::renameat(folder.get(), temp.c_str(), folder.get(), at.name.c_str()) != 0)
        return abandon();
    // The rename itself lives in the folder.
    if (sync && !sync(at.folder))
        return Failed();
    return {FileStatus::Ok, 0};
}

FILE* OpenForAppend(const std::string& folder, std::string_view relative)
{
    Descriptor at(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!at)
        return nullptr;
    // Each folder below the working folder must be a folder of its own, not a link elsewhere.
    for (size_t slash; (slash = relative.find('/')) != std::string_view::npos;) {
        const std::string part(relative.substr(0, slash));
        relative.remove_prefix(slash + 1);
        if (part.empty() || part == ".")
            continue;
        at = Descriptor(::openat(at.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!at)
            return nullptr;
    }
    const std::string name(relative);
    Descriptor fd(::openat(at.get(), name.c_str(),
                           O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644));
    if (!fd)
        return nullptr;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return nullptr;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return nullptr;
    }
    FILE* file = ::fdopen(fd.get(), "ab");
    if (file)
        fd.release();
    return file;
}

std::optional<FileIdentity> IdentityOf(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

}  // namespace zpmoni
