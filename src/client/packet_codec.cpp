// SPDX-License-Identifier: MIT
#include "client/packet_codec.h"

#include "base/byte_writer.h"

namespace zpmoni {

Status BuildPacket(uint32_t type, std::span<const uint8_t> body, OutPacket& out)
{
    if (body.size() > OutPacket::kMaxBody)
        return Failure{"a packet body of " + std::to_string(body.size()) + " bytes exceeds the send buffer of " +
                       std::to_string(OutPacket::kMaxBody)};
    ByteWriter writer(out.bytes);
    writer.Le32(wire::frame::kLength, static_cast<uint32_t>(body.size() + wire::frame::kMinLength));
    writer.Le32(wire::frame::kType, type);
    writer.Bytes(wire::frame::kBody, body);
    out.size = wire::frame::kBody + body.size();
    return {};
}

}  // namespace zpmoni
