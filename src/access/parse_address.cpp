// SPDX-License-Identifier: MIT
#include "access/parse_address.h"

#include <array>
#include <bit>

std::optional<uint32_t> ParseDenyQuad(std::string_view text)
{
    uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (text.empty() || text.front() != '.')
                return std::nullopt;
            text.remove_prefix(1);
        }
        size_t digits = 0;
        uint32_t value = 0;
        for (; digits < text.size() && text[digits] >= '0' && text[digits] <= '9'; ++digits) {
            if (digits == 3)
                return std::nullopt;
            value = value * 10 + static_cast<uint32_t>(text[digits] - '0');
        }
        if (digits == 0 || value > 255)
            return std::nullopt;
        text.remove_prefix(digits);
        address = address << 8 | value;
    }
    if (!text.empty())
        return std::nullopt;
    return address;
}

uint32_t HostOrder(uint32_t networkOrder)
{
    const auto parts = std::bit_cast<std::array<uint8_t, 4>>(networkOrder);
    return uint32_t{parts[0]} << 24 | uint32_t{parts[1]} << 16 | uint32_t{parts[2]} << 8 | parts[3];
}
