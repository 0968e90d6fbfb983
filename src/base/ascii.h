// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace zpmoni {

// Letter case folded for A-Z only: names on the wire and in files are bytes in any code page,
// and only ASCII letters may be treated as equal across case.
constexpr char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// <0, 0 or >0 as a sorts before, with or after b; bytes compare unsigned.
constexpr int AsciiCompareNoCase(std::string_view a, std::string_view b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const int ca = static_cast<unsigned char>(AsciiLower(a[i]));
        const int cb = static_cast<unsigned char>(AsciiLower(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

constexpr bool AsciiEqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && AsciiCompareNoCase(a, b) == 0;
}

// C's isspace in the "C" locale.
constexpr bool AsciiSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Takes from the front of `text` what C's number readers skip before the digits: white space,
// then one optional sign. True when the sign was a minus.
constexpr bool TakeSpaceAndSign(std::string_view& text)
{
    while (!text.empty() && AsciiSpace(text.front()))
        text.remove_prefix(1);
    const bool negative = !text.empty() && text.front() == '-';
    if (!text.empty() && (negative || text.front() == '+'))
        text.remove_prefix(1);
    return negative;
}

}  // namespace zpmoni
