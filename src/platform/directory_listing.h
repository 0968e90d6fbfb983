// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zpmoni {

// The names in a folder, for logic that has to find files by its own rules (letter case, name
// patterns) and is tested on folders of its own.
class DirectoryListing {
public:
    virtual ~DirectoryListing() = default;
    // Every name in the folder except "." and "..", in no particular order; nothing when the
    // folder cannot be read.
    virtual std::optional<std::vector<std::string>> Names(const std::string& folder) const = 0;
};

// The operating system's file system.
const DirectoryListing& SystemDirectoryListing();

}  // namespace zpmoni
