// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace zpmoni {

// Reads fields of bytes that came from outside (a datagram, a packet body, a settings block).
// No read goes past the end: a field that does not lie whole inside the bytes reads as zero and
// a text as far as it lies inside.
class ByteReader {
public:
    constexpr ByteReader() = default;
    constexpr ByteReader(const uint8_t* data, size_t size) : data(data), size(size) {}
    constexpr ByteReader(std::span<const uint8_t> bytes) : ByteReader(bytes.data(), bytes.size()) {}

    constexpr const uint8_t* Data() const { return data; }
    constexpr size_t Size() const { return size; }
    // Whether `count` bytes from `at` lie inside.
    constexpr bool Holds(size_t at, size_t count) const { return at <= size && count <= size - at; }

    uint8_t U8(size_t at) const { return at < size ? data[at] : 0; }
    uint16_t Le16(size_t at) const { return Holds(at, 2) ? static_cast<uint16_t>(data[at] | data[at + 1] << 8) : 0; }
    uint32_t Le32(size_t at) const
    {
        if (!Holds(at, 4))
            return 0;
        return static_cast<uint32_t>(data[at]) | static_cast<uint32_t>(data[at + 1]) << 8 |
               static_cast<uint32_t>(data[at + 2]) << 16 | static_cast<uint32_t>(data[at + 3]) << 24;
    }
    uint16_t Be16(size_t at) const { return Holds(at, 2) ? static_cast<uint16_t>(data[at] << 8 | data[at + 1]) : 0; }
    // Four bytes as they lie in memory: an IPv4 address kept in network byte order.
    uint32_t Raw32(size_t at) const
    {
        uint32_t v = 0;
        if (Holds(at, 4))
            std::memcpy(&v, data + at, 4);
        return v;
    }
    // The text at `at` up to its NUL, at most `limit` bytes and never past the end.
    std::string_view Text(size_t at, size_t limit) const
    {
        if (at >= size)
            return {};
        const size_t room = size - at < limit ? size - at : limit;
        const char* begin = reinterpret_cast<const char*>(data + at);
        const void* nul = std::memchr(begin, 0, room);
        return {begin, nul ? static_cast<size_t>(static_cast<const char*>(nul) - begin) : room};
    }
    // The bytes from `at` on, at most `count` of them.
    ByteReader Sub(size_t at, size_t count) const
    {
        if (at >= size)
            return {};
        return {data + at, size - at < count ? size - at : count};
    }

private:
    const uint8_t* data = nullptr;
    size_t size = 0;
};

}  // namespace zpmoni
