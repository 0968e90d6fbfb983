// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zpmoni {

// The monitor's own files (settings, deny list, pack list, logs) are opened without following a
// link in their place and without blocking, and used only when they are regular files: a link,
// FIFO, device or folder put where one of them belongs must not make a monitor running as root
// read, write or wait on anything else. Reads are bounded, and a file over its bound is not used
// rather than read in part.

enum class FileStatus { Ok, Missing, NotRegular, TooLarge, Failed };

struct FileResult {
    FileStatus status = FileStatus::Failed;
    int error = 0;  // the system's error number when Failed
};

struct FileContent {
    FileStatus status = FileStatus::Failed;
    std::string data;  // the whole file when Ok
    int error = 0;     // the system's error number when Failed
    uint32_t owner = 0;  // the file's user and permission bits, once it was opened
    uint32_t mode = 0;
};

// Largest settings or deny list file read; far above what either holds by hand.
constexpr size_t kSettingsFileLimit = size_t{4} << 20;
// Largest pack list read: one line per aircraft of every pack installed.
constexpr size_t kPackListLimit = size_t{16} << 20;

// The whole file when it is a regular file of at most `limit` bytes.
FileContent ReadRegularFile(const std::string& path, size_t limit);

// Why a file was not used, for the error log ("Cannot read X: not a regular file"); empty for
// Ok and Missing. `action` is "read" or "write".
std::string FileProblem(std::string_view action, const std::string& path, FileResult result);

// Flushes a file or a folder to the disk; false when that failed.
using FileSync = std::function<bool(const std::string& path)>;

// Replaces the file by writing a temporary file of an unpredictable name beside it and renaming
// it over the old one, so a failure at any point leaves the old file whole. The new file gets the
// old one's owner and mode. A link or any other file that is not a regular one in its place is
// left alone (NotRegular), and so is a file nobody may write to (Failed). With a sync, the
// temporary file is on disk before the rename and the folder after it.
FileResult ReplaceRegularFile(const std::string& path, std::string_view data, const FileSync& sync = {});

// `relative` below `folder` opened for appending (made 0644 when missing), close-on-exec; no
// link is followed below the folder. Nothing, with errno set, when it cannot be opened or is not
// a regular file (EINVAL).
FILE* OpenForAppend(const std::string& folder, std::string_view relative);

// Which file or folder a path names now; tells a folder removed and made anew from the old one.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> IdentityOf(const std::string& path);

}  // namespace zpmoni
