// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace zpmoni {

// Appends a text that came from the network (a user name, an aircraft, a start position, chat)
// so that it cannot forge a line or drive a terminal: every byte 0x00-0x1F and 0x7F becomes
// "\x" and two lowercase hex digits; all other bytes, Shift_JIS and UTF-8 included, stay.
inline void AppendEscaped(std::string& out, std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) {
            const char escaped[4] = {'\\', 'x', kHex[b >> 4], kHex[b & 0x0F]};
            out.append(escaped, 4);
        } else {
            out.push_back(c);
        }
    }
}

inline std::string Escaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    AppendEscaped(out, text);
    return out;
}

}  // namespace zpmoni
