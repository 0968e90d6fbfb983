// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

namespace zpmoni {

// One entry of the deny list, its three texts held exactly as entered or read.
struct DenyEntry {
    std::string address;  // dotted IPv4 address
    std::string mask;     // dotted mask; "255.255.255.255" for one host
    std::string comment;  // free text, for the deny-access command the player's user name

    bool operator==(const DenyEntry&) const = default;
};

// In file order, then entries appended later; duplicates allowed.
using DenyList = std::vector<DenyEntry>;

}  // namespace zpmoni
