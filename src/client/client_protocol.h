// SPDX-License-Identifier: MIT
#pragma once

#include "client/packet_codec.h"

#include <cstdint>
#include <string_view>

namespace zpmoni {

// The client side of the server's protocol, without the socket: cuts received bytes into
// packets, answers the handshake and hands the rest to hooks. The transport is below
// Transmit, so tests and the real connection share every decision.
class ClientProtocol {
public:
    virtual ~ClientProtocol() = default;

    // Sends one packet; fails when it could not be sent (too big, or the transport refused).
    Status SendPacket(uint32_t type, std::span<const uint8_t> body);
    // The log-on: the name in a 16-byte field (15 characters at most), then the version.
    Status SendLogon(std::string_view userName, uint32_t version);
    // A chat line as the server takes it: "(sender)text", or the text alone without a sender;
    // a text too long for one packet is cut.
    Status SendChat(std::string_view text, std::string_view sender = {});

    // Received bytes; a zero count is the peer's orderly close. Fails when the stream carries a
    // length that can never be served: the caller drops the connection.
    Status OnReceive(const uint8_t* data, size_t count);
    void ResetStream() { cutter.Reset(); }

protected:
    // Hands the bytes of one packet to the transport.
    virtual Status Transmit(const uint8_t* data, size_t size) = 0;

    virtual void OnPacket(const uint8_t* packet, size_t size);
    virtual void OnAirState(const uint8_t* /*body*/, size_t /*length*/) {}
    virtual void OnAddObject(const uint8_t* /*body*/, size_t /*length*/) {}
    virtual void OnRemoveObject(const uint8_t* /*body*/, size_t /*length*/) {}
    virtual void OnChat(const uint8_t* /*body*/, size_t /*length*/) {}

private:
    Status SendAck(int32_t code, uint32_t value);

    StreamCutter cutter;
    OutPacket out;
};

}  // namespace zpmoni
