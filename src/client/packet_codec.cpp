// SPDX-License-Identifier: MIT
#include "client/packet_codec.h"

#include <cstring>

bool BuildPacket(uint32_t type, std::span<const uint8_t> body, OutPacket& out)
{
    if (body.size() > packet::kMaxBody)
        return false;
    WriteLe32(out.bytes.data(), static_cast<uint32_t>(body.size() + 4));
    WriteLe32(out.bytes.data() + 4, type);
    if (!body.empty())
        std::memcpy(out.bytes.data() + 8, body.data(), body.size());
    out.size = body.size() + 8;
    return true;
}
