// SPDX-License-Identifier: MIT
#pragma once

#include "base/byte_reader.h"
#include "base/protocol.h"
#include "base/result.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace zpmoni {

// One packet ready to send, in a fixed buffer.
struct OutPacket {
    static constexpr size_t kMaxBody = 7996;  // one packet of at most 8004 bytes
    std::array<uint8_t, wire::frame::kBody + kMaxBody> bytes;
    size_t size = 0;
};

// Builds a packet; nothing is built when the body does not fit the send buffer.
Status BuildPacket(uint32_t type, std::span<const uint8_t> body, OutPacket& out);

// Cuts complete packets out of a TCP byte stream. Holds the unfinished tail between reads in
// a fixed buffer; a length field that can never complete in it, or names no type, makes the
// stream unusable.
class StreamCutter {
public:
    static constexpr size_t kBufferSize = 8192;
    // The largest length field whose packet fits the buffer.
    static constexpr uint32_t kMaxLength = kBufferSize - wire::frame::kLengthField;

    // Calls onPacket(packet, length + 4) for every complete packet, in order. A zero count is
    // the peer's orderly close: the partial packet is dropped. Fails on a length that makes the
    // stream unusable.
    template <typename OnPacket>
    Status Feed(const uint8_t* data, size_t count, OnPacket&& onPacket);

    void Reset() { buffered = 0; }

private:
    std::array<uint8_t, kBufferSize> buffer;
    size_t buffered = 0;
};

template <typename OnPacket>
Status StreamCutter::Feed(const uint8_t* data, size_t count, OnPacket&& onPacket)
{
    if (count == 0) {
        buffered = 0;
        return {};
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
            const uint32_t length = ByteReader(p, total).Le32(wire::frame::kLength);
            if (length < wire::frame::kMinLength || length > kMaxLength) {
                buffered = 0;
                return Failure{"a packet length of " + std::to_string(length) + " bytes, outside 4 to " +
                               std::to_string(kMaxLength)};
            }
            const size_t need = static_cast<size_t>(length) + wire::frame::kLengthField;
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
    return {};
}

}  // namespace zpmoni
