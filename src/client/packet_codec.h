// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// Framing of the server's packets: u32 length of what follows (4 + body), u32 type, body; all
// little-endian.
struct PacketHeader {
    uint32_t length;
    uint32_t type;
};

namespace packet {
constexpr uint32_t kLogon = 1;
constexpr uint32_t kHandshake = 4;
constexpr uint32_t kAddObject = 5;
constexpr uint32_t kAck = 6;
constexpr uint32_t kJoin = 8;
constexpr uint32_t kAirState = 11;
constexpr uint32_t kUnjoin = 12;
constexpr uint32_t kRemoveObject = 13;
constexpr uint32_t kType16 = 16;
constexpr uint32_t kKeepAlive = 17;
constexpr uint32_t kDamage = 22;
constexpr uint32_t kChat = 32;
constexpr uint32_t kType33 = 33;
constexpr uint32_t kType37 = 37;
constexpr uint32_t kEcho43 = 43;
constexpr uint32_t kEcho44 = 44;

constexpr size_t kMaxBody = 7996;        // send buffer: one packet of at most 8004 bytes
constexpr size_t kStreamBuffer = 8192;   // reassembly buffer
constexpr uint32_t kMaxLength = 8188;    // the largest length field that fits the buffer
}  // namespace packet

inline uint32_t ReadLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline void WriteLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void WriteLe16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// One packet ready to send, in a fixed buffer.
struct OutPacket {
    std::array<uint8_t, 8 + packet::kMaxBody> bytes;
    size_t size = 0;
};

// Builds a packet; false (and nothing built) when the body does not fit the send buffer.
bool BuildPacket(uint32_t type, std::span<const uint8_t> body, OutPacket& out);

// Cuts complete packets out of a TCP byte stream. Holds the unfinished tail between reads in
// a fixed buffer; a length field that can never complete in it, or names no type, makes the
// stream unusable.
class StreamCutter {
public:
    enum class Result { Ok, BadLength };

    // Calls onPacket(packet, length + 4) for every complete packet, in order. A zero count is
    // the peer's orderly close: the partial packet is dropped.
    template <typename OnPacket>
    Result Feed(const uint8_t* data, size_t count, OnPacket&& onPacket);

    void Reset() { buffered = 0; }

private:
    std::array<uint8_t, packet::kStreamBuffer> buffer;
    size_t buffered = 0;
};

template <typename OnPacket>
StreamCutter::Result StreamCutter::Feed(const uint8_t* data, size_t count, OnPacket&& onPacket)
{
    if (count == 0) {
        buffered = 0;
        return Result::Ok;
    }
    while (count > 0) {
        // Packets that lie whole in the new bytes are dispatched in place; only a tail is copied.
        const uint8_t* p = data;
        size_t total = count;
        size_t taken = count;
        if (buffered > 0) {
            taken = std::min(count, buffer.size() - buffered);
            std::copy(data, data + taken, buffer.begin() + buffered);
            p = buffer.data();
            total = buffered + taken;
        }
        while (total >= 4) {
            const uint32_t length = ReadLe32(p);
            if (length < 4 || length > packet::kMaxLength) {
                buffered = 0;
                return Result::BadLength;
            }
            const size_t need = static_cast<size_t>(length) + 4;
            if (total < need)
                break;
            onPacket(p, need);
            p += need;
            total -= need;
        }
        // The tail moves to the front; inside the buffer it moves forward, which copy allows.
        if (p != buffer.data())
            std::copy(p, p + total, buffer.begin());
        buffered = total;
        data += taken;
        count -= taken;
    }
    return Result::Ok;
}
