// SPDX-License-Identifier: MIT
#pragma once

#include "base/fixed_text.h"
#include "base/regular_file.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zpmoni {

// Which aircraft pack holds an aircraft, read from the pack list file.
class PackIndex {
public:
    // Replaces the index with the file's contents: a regular file of at most kPackListLimit
    // bytes, else none of it (an empty path counts as Missing).
    FileResult Load(const std::string& path);
    // The same from the text of such a file; gives the number of aircraft entries.
    int Parse(std::string_view text);

    // The pack of the aircraft, compared in its first 31 characters without regard to case;
    // empty when unknown. A hit moves to the front, so the aircraft in use are found first.
    std::string_view Lookup(std::string_view aircraft);
    // As Lookup, but tells an unknown aircraft apart from one listed before any pack.
    std::optional<std::string_view> Find(std::string_view aircraft);

private:
    struct Aircraft {
        FixedText<32> name;
        int pack;  // index into packs, -1 before the first pack line
    };
    std::vector<FixedText<32>> packs;
    std::vector<Aircraft> aircraft;
};

}  // namespace zpmoni
