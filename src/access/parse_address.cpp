// SPDX-License-Identifier: MIT
#include "access/parse_address.h"

#include "base/ascii.h"

#include <array>
#include <bit>

namespace {

// The number at the start of `text`; saturates, so a long run of digits stays out of range
// instead of wrapping into it.
long long LeadingNumber(std::string_view text)
{
    const bool negative = TakeSpaceAndSign(text);
    long long value = 0;
    for (size_t i = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < 1000)
            value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

}  // namespace

uint32_t ParseAddress(std::string_view text)
{
    std::array<uint8_t, 4> parts{};
    for (size_t k = 0; k < parts.size(); ++k) {
        const long long value = LeadingNumber(text);
        if (value < 0 || value > 255)
            return 0;
        parts[k] = static_cast<uint8_t>(value);
        if (k == parts.size() - 1)
            break;
        const size_t dot = text.find('.');
        if (dot == std::string_view::npos)
            return 0xFFFFFFFFu;
        text.remove_prefix(dot + 1);
    }
    return std::bit_cast<uint32_t>(parts);
}

uint32_t HostOrder(uint32_t networkOrder)
{
    const auto parts = std::bit_cast<std::array<uint8_t, 4>>(networkOrder);
    return uint32_t{parts[0]} << 24 | uint32_t{parts[1]} << 16 | uint32_t{parts[2]} << 8 | parts[3];
}
