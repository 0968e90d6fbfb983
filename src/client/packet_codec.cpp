// SPDX-License-Identifier: MIT
#include "client/packet_codec.h"

#include "base/byte_writer.h"

namespace zpmoni {

bool BuildPacket(uint32_t type, std::span<const uint8_t> body, OutPacket& out)
{
    if (body.size() > OutPacket::kMaxBody)
        return false;
    ByteWriter writer(out.bytes);
    writer.Le32(wire::frame::kLength, static_cast<uint32_t>(body.size() + wire::frame::kMinLength));
    writer.Le32(wire::frame::kType, type);
    writer.Bytes(wire::frame::kBody, body);
    out.size = wire::frame::kBody + body.size();
    return true;
}

}  // namespace zpmoni
