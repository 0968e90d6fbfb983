// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace zpmoni {

// Puts what was written to a file, or the names held by a folder, on disk (fsync). False when
// it cannot be opened or synced.
bool SyncToDisk(const std::string& path);

}  // namespace zpmoni
