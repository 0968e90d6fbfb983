// SPDX-License-Identifier: MIT
#include "client/client_protocol.h"

#include <algorithm>
#include <string>

namespace zpmoni {

using namespace wire;

Status ClientProtocol::SendPacket(uint32_t type, std::span<const uint8_t> body)
{
    // A packet longer than the send buffer (an oversized echo request, say) is not sent.
    if (Status built = BuildPacket(type, body, out); !built)
        return built;
    return Transmit(out.bytes.data(), out.size);
}

Status ClientProtocol::SendAck(int32_t code, uint32_t value)
{
    return SendPacket(PKT_ACK, AckBody(code, value));
}

Status ClientProtocol::SendLogon(std::string_view userName, uint32_t version)
{
    return SendPacket(PKT_LOGON, LogonBody(userName, version));
}

Status ClientProtocol::SendChat(std::string_view text, std::string_view sender)
{
    std::array<uint8_t, OutPacket::kMaxBody> body{};  // two zero words, the line, its NUL
    const std::string line = sender.empty() ? std::string(text) : "(" + std::string(sender) + ")" + std::string(text);
    const size_t length = std::min(line.size(), body.size() - chat::kText - 1);
    std::copy_n(line.begin(), length, body.begin() + chat::kText);
    return SendPacket(PKT_CHAT, std::span<const uint8_t>(body.data(), chat::kText + length + 1));
}

Status ClientProtocol::OnReceive(const uint8_t* data, size_t count)
{
    return cutter.Feed(data, count, [this](const uint8_t* p, size_t size) { OnPacket(p, size); });
}

void ClientProtocol::OnPacket(const uint8_t* p, size_t size)
{
    const ByteReader packet(p, size);
    const uint32_t type = packet.Le32(frame::kType);
    const uint8_t* body = p + frame::kBody;
    const size_t length = size - frame::kBody;
    const std::span<const uint8_t> bodySpan(body, length);
    const ByteReader fields(bodySpan);
    // Replies whose result is not looked at: the transport reports its own failures, and an echo
    // too long for the send buffer is refused on purpose.
    switch (type) {
    case PKT_HANDSHAKE:
        for (int32_t code : ack::kHandshakeCodes)
            (void)SendAck(code, 0);
        (void)SendPacket(PKT_HANDSHAKE, bodySpan);
        (void)SendPacket(PKT_HANDSHAKE_DONE, {});
        break;
    case PKT_ADD_OBJECT:
        // A body too short for the kind and id is acknowledged with zeros in their place.
        (void)SendAck(static_cast<int16_t>(fields.Le16(add_object::kKind)), fields.Le32(add_object::kObjectId));
        OnAddObject(body, length);
        break;
    case PKT_AIR_STATE:
        OnAirState(body, length);
        break;
    case PKT_REMOVE_OBJECT:
        OnRemoveObject(body, length);
        break;
    case PKT_ACK_REQUEST:
        (void)SendAck(ack::kAckRequestCode, 0);
        break;
    case PKT_CHAT:
        OnChat(body, length);
        break;
    case PKT_HANDSHAKE_DONE:
        (void)SendAck(ack::kHandshakeDoneCode, 0);
        break;
    case PKT_ECHO:
    case PKT_ECHO_ALT:
        (void)SendPacket(type, bodySpan);
        break;
    default:
        // PKT_DAMAGE relayed to us, PKT_NOTICE and every other type are passed over.
        break;
    }
}

}  // namespace zpmoni
