// SPDX-License-Identifier: MIT
#include "client/client_protocol.h"

#include <cstring>

bool ClientProtocol::SendPacket(uint32_t type, std::span<const uint8_t> body)
{
    // A packet longer than the send buffer (an oversized echo request, say) is not sent.
    if (!BuildPacket(type, body, out))
        return false;
    return Transmit(out.bytes.data(), out.size);
}

bool ClientProtocol::SendAck(int32_t code, uint32_t value)
{
    uint8_t body[8];
    WriteLe32(body, static_cast<uint32_t>(code));
    WriteLe32(body + 4, value);
    return SendPacket(packet::kAck, body);
}

bool ClientProtocol::SendChat(std::string_view text, std::string_view sender)
{
    std::string line;
    if (!sender.empty()) {
        line.reserve(sender.size() + text.size() + 2);
        line.append("(").append(sender).append(")");
    }
    line.append(text);
    std::string body(8, '\0');
    body.append(line).push_back('\0');
    return SendPacket(packet::kChat, {reinterpret_cast<const uint8_t*>(body.data()), body.size()});
}

bool ClientProtocol::SendLogon(std::string_view userName, uint32_t version)
{
    uint8_t body[20] = {};
    std::memcpy(body, userName.data(), std::min<size_t>(userName.size(), 15));
    WriteLe32(body + 16, version);
    return SendPacket(packet::kLogon, body);
}

bool ClientProtocol::OnReceive(const uint8_t* data, size_t count)
{
    return cutter.Feed(data, count, [this](const uint8_t* p, size_t size) { OnPacket(p, size); }) ==
           StreamCutter::Result::Ok;
}

void ClientProtocol::OnPacket(const uint8_t* p, size_t size)
{
    const uint32_t type = ReadLe32(p + 4);
    const uint8_t* body = p + 8;
    const size_t length = size - 8;
    const std::span<const uint8_t> bodySpan(body, length);
    switch (type) {
    case packet::kHandshake:
        SendAck(9, 0);
        SendAck(10, 0);
        SendAck(11, 0);
        SendPacket(packet::kHandshake, bodySpan);
        SendPacket(packet::kType33, {});
        break;
    case packet::kAddObject:
        // A body too short for the kind and id is acknowledged with zeros in their place.
        SendAck(length >= 2 ? static_cast<int16_t>(ReadLe16(body)) : 0,
                length >= 8 ? ReadLe32(body + 4) : 0);
        OnAddObject(body, length);
        break;
    case packet::kAirState:
        OnAirState(body, length);
        break;
    case packet::kRemoveObject:
        OnRemoveObject(body, length);
        break;
    case packet::kType16:
        SendAck(7, 0);
        break;
    case packet::kDamage:
        OnIncomingDamage(body, length);
        break;
    case packet::kChat:
        OnChat(body, length);
        break;
    case packet::kType33:
        SendAck(4, 0);
        break;
    case packet::kType37:
        OnPacket37(body, length);
        break;
    case packet::kEcho43:
    case packet::kEcho44:
        SendPacket(type, bodySpan);
        break;
    default:
        break;
    }
}
