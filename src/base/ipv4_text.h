// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zpmoni {

// Strict dotted-quad form "a.b.c.d" (each 0-255, decimal, no sign, no leading zero unless
// allowed, then read as decimal), as inet_pton reads it; the address in host byte order.
constexpr std::optional<uint32_t> ParseDottedQuad(std::string_view text, bool leadingZeros = false)
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
        while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
            value = value * 10 + static_cast<uint32_t>(text[digits] - '0');
            if (++digits > 3 || value > 255)
                return std::nullopt;
        }
        if (digits == 0 || (!leadingZeros && digits > 1 && text.front() == '0'))
            return std::nullopt;
        text.remove_prefix(digits);
        address = address << 8 | value;
    }
    if (!text.empty())
        return std::nullopt;
    return address;
}

// "a.b.c.d" of an address in host byte order.
inline std::string FormatDottedQuad(uint32_t hostOrder)
{
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        text += std::to_string(hostOrder >> shift & 0xFF);
        if (shift)
            text += '.';
    }
    return text;
}

// A mask of leading one bits only (255.255.254.0, not 255.0.255.0), as a prefix length can say.
constexpr bool IsPrefixMask(uint32_t hostOrderMask)
{
    const uint32_t hosts = ~hostOrderMask;
    return (hosts & (hosts + 1)) == 0;
}

}  // namespace zpmoni
