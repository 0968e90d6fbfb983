// SPDX-License-Identifier: MIT
#include "platform/file_sync.h"

#include <fcntl.h>
#include <unistd.h>

namespace zpmoni {

bool SyncToDisk(const std::string& path)
{
    // Read-only is enough for fsync, and is what a folder can be opened with; a FIFO put in a
    // file's place must not hold the save up.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

}  // namespace zpmoni
