// SPDX-License-Identifier: MIT
#include "access/parse_address.h"

#include "base/ipv4_text.h"

#include <array>
#include <bit>

namespace zpmoni {

std::optional<uint32_t> ParseDenyQuad(std::string_view text)
{
    return ParseDottedQuad(text, true);
}

uint32_t HostOrder(uint32_t networkOrder)
{
    const auto parts = std::bit_cast<std::array<uint8_t, 4>>(networkOrder);
    return uint32_t{parts[0]} << 24 | uint32_t{parts[1]} << 16 | uint32_t{parts[2]} << 8 | parts[3];
}

}  // namespace zpmoni
