// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace zpmoni {

// Writes little-endian fields into a fixed buffer. A field that would not fit whole is not
// written at all and the writer reports false, so a short buffer never overflows.
class ByteWriter {
public:
    constexpr ByteWriter(uint8_t* data, size_t size) : data(data), size(size) {}
    constexpr ByteWriter(std::span<uint8_t> bytes) : ByteWriter(bytes.data(), bytes.size()) {}

    bool Le16(size_t at, uint16_t value) { return Put(at, value, 2); }
    bool Le32(size_t at, uint32_t value) { return Put(at, value, 4); }
    bool Bytes(size_t at, std::span<const uint8_t> bytes)
    {
        if (!Holds(at, bytes.size()))
            return false;
        if (!bytes.empty())
            std::memcpy(data + at, bytes.data(), bytes.size());
        return true;
    }

private:
    constexpr bool Holds(size_t at, size_t count) const { return at <= size && count <= size - at; }
    bool Put(size_t at, uint32_t value, size_t width)
    {
        if (!Holds(at, width))
            return false;
        for (size_t i = 0; i < width; ++i)
            data[at + i] = static_cast<uint8_t>(value >> (8 * i));
        return true;
    }

    uint8_t* data;
    size_t size;
};

}  // namespace zpmoni
