// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>

namespace zpmoni {

// The host's own addresses (network byte order); the first 0 entry ends the list.
struct LocalAddressTable {
    static constexpr int kEntries = 4;
    std::array<uint32_t, kEntries> entries{};

    bool Contains(uint32_t address) const
    {
        for (uint32_t e : entries) {
            if (e == 0)
                return false;
            if (e == address)
                return true;
        }
        return false;
    }
};

}  // namespace zpmoni
