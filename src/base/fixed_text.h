// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace zpmoni {

// A NUL-terminated character field of fixed size, as the tables keep their texts: assigning
// cuts at N-1 characters, never allocates.
template <size_t N>
struct FixedText {
    std::array<char, N> data{};

    FixedText() = default;
    FixedText(std::string_view text) { Assign(text); }

    void Assign(std::string_view text)
    {
        size_t n = std::min(text.size(), N - 1);
        if (n > 0)
            std::memcpy(data.data(), text.data(), n);
        data[n] = '\0';
    }
    // Takes up to N-1 bytes, stopping early at a NUL or at the end of the source.
    void AssignBounded(const unsigned char* src, size_t available)
    {
        size_t limit = std::min(available, N - 1);
        size_t n = 0;
        while (n < limit && src[n] != 0) {
            data[n] = static_cast<char>(src[n]);
            ++n;
        }
        data[n] = '\0';
    }
    std::string_view View() const { return std::string_view(data.data()); }
    const char* CStr() const { return data.data(); }
    bool Empty() const { return data[0] == '\0'; }
    char First() const { return data[0]; }
    FixedText& operator=(std::string_view text)
    {
        Assign(text);
        return *this;
    }
};

}  // namespace zpmoni
