// SPDX-License-Identifier: MIT
#pragma once

#include "base/byte_reader.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace zpmoni {

// The wire formats the monitor reads and writes: the server's framed packets, which it reads
// off the captured traffic and speaks as a client, and the IPv4 and TCP headers around them in
// the capture. Offsets of packet fields count from the start of the body unless they say
// otherwise; every integer of a packet is little-endian, of IP and TCP headers big-endian.

// Framing, both directions: u32 length of what follows the length field (4 + body length),
// u32 type, then the body. A packet takes length + 4 bytes of the stream.
struct PacketHeader {
    uint32_t length;
    uint32_t type;
};

enum PacketType : uint32_t {
    PKT_LOGON = 1,            // to server: user name and protocol version
    PKT_HANDSHAKE = 4,        // to client: answered by three acknowledgements, itself, then
                              // PKT_HANDSHAKE_DONE
    PKT_ADD_OBJECT = 5,       // to client: an object enters the game; acknowledged
    PKT_ACK = 6,              // to server: a code and a value
    PKT_JOIN = 8,             // to server: a player takes an aircraft
    PKT_AIR_STATE = 11,       // both: an aircraft's state with its G load
    PKT_UNJOIN = 12,          // to server: a player leaves the flight
    PKT_REMOVE_OBJECT = 13,   // to client: an object leaves the game
    PKT_ACK_REQUEST = 16,     // to client: answered by one acknowledgement
    PKT_KEEPALIVE = 17,       // to server: empty, every 30 s
    PKT_DAMAGE = 22,          // to server (the server also relays it to clients)
    PKT_CHAT = 32,            // both: one chat line
    PKT_HANDSHAKE_DONE = 33,  // both: ends the handshake; received, it is acknowledged
    PKT_NOTICE = 37,          // to client: nothing in the monitor has a use for it
    PKT_ECHO = 43,            // to client: sent back unchanged
    PKT_ECHO_ALT = 44,        // to client: sent back unchanged
};

namespace wire {

namespace frame {
inline constexpr size_t kLength = 0;       // u32, counts the bytes after this field
inline constexpr size_t kType = 4;         // u32
inline constexpr size_t kBody = 8;         // the body follows the header
inline constexpr size_t kLengthField = 4;  // bytes of the stream not counted by the length
inline constexpr uint32_t kMinLength = 4;  // a type and an empty body
}  // namespace frame

namespace logon {
inline constexpr size_t kUserName = 0;  // char[16], NUL-padded, byte 15 always 0
inline constexpr size_t kUserNameField = 16;
inline constexpr size_t kUserNameChars = 15;
inline constexpr size_t kVersion = 16;  // u32 protocol version
inline constexpr size_t kBodySize = 20;
inline constexpr uint32_t kDefaultVersion = 20080220;
}  // namespace logon

namespace add_object {
inline constexpr size_t kKind = 0;        // u16, kAircraft for an aircraft
inline constexpr size_t kNameMarker = 2;  // u16, 0 on the announcement the capture takes a name from
inline constexpr size_t kObjectId = 4;    // u32
inline constexpr size_t kUserName = 124;  // char[16]
inline constexpr size_t kUserNameChars = 15;
inline constexpr uint16_t kAircraft = 0;
}  // namespace add_object

namespace ack {
inline constexpr size_t kCode = 0;   // i32
inline constexpr size_t kValue = 4;  // u32
inline constexpr size_t kBodySize = 8;
// The codes that answer PKT_HANDSHAKE, in their order; PKT_ACK_REQUEST; PKT_HANDSHAKE_DONE.
inline constexpr std::array<int32_t, 3> kHandshakeCodes = {9, 10, 11};
inline constexpr int32_t kAckRequestCode = 7;
inline constexpr int32_t kHandshakeDoneCode = 4;
}  // namespace ack

namespace join {
inline constexpr size_t kIff = 0;             // u32, counted from 0
inline constexpr size_t kAircraft = 4;        // char[32]
inline constexpr size_t kStartPosition = 36;  // char[32]
inline constexpr size_t kTextChars = 31;
}  // namespace join

namespace air_state {
inline constexpr size_t kAircraftId = 4;  // u32
inline constexpr size_t kFormat = 8;      // u16
inline constexpr size_t kGHundredths = 42;  // i16, formats 0 to kLastHundredthsFormat
inline constexpr size_t kGTenths = 62;      // i8, formats up to kLastTenthsFormat
inline constexpr uint16_t kLastHundredthsFormat = 3;
inline constexpr uint16_t kLastTenthsFormat = 5;
}  // namespace air_state

namespace remove_object {
inline constexpr size_t kObjectId = 0;  // u32
}

namespace damage {
// u32 1, u32 target id, u32 1, u16 1, u16 1, u16 amount, u16 11: the constant fields are the
// server's and are sent as they are.
inline constexpr size_t kTarget = 4;
inline constexpr size_t kAmount = 16;
inline constexpr size_t kBodySize = 20;
}  // namespace damage

namespace chat {
inline constexpr size_t kText = 8;  // after two u32 0; NUL-terminated
}

namespace ipv4 {
inline constexpr size_t kVersionAndLength = 0;  // version in the high 4 bits, header words low
inline constexpr size_t kTotalLength = 2;       // u16
inline constexpr size_t kFragment = 6;          // u16: flags and fragment offset
inline constexpr size_t kProtocol = 9;
inline constexpr size_t kSource = 12;
inline constexpr size_t kDestination = 16;
inline constexpr size_t kMinHeader = 20;
inline constexpr uint8_t kVersion = 4;
inline constexpr uint16_t kMoreFragments = 0x2000;
inline constexpr uint16_t kFragmentOffset = 0x1FFF;
inline constexpr uint8_t kProtocolTcp = 6;
}  // namespace ipv4

namespace tcp {
inline constexpr size_t kSourcePort = 0;
inline constexpr size_t kDestinationPort = 2;
inline constexpr size_t kDataOffset = 12;  // header words in the high 4 bits
inline constexpr size_t kFlags = 13;
inline constexpr size_t kMinHeader = 20;
inline constexpr uint8_t kFin = 0x01;
inline constexpr uint8_t kRst = 0x04;
}  // namespace tcp

}  // namespace wire

// The bodies the client builds.
std::array<uint8_t, wire::logon::kBodySize> LogonBody(std::string_view userName, uint32_t version);
std::array<uint8_t, wire::ack::kBodySize> AckBody(int32_t code, uint32_t value);
std::array<uint8_t, wire::damage::kBodySize> DamageBody(uint32_t aircraftId, uint16_t amount);

// The line of a PKT_CHAT body, up to its NUL or the end of the body.
std::string_view ChatText(ByteReader body);
// The G load of a PKT_AIR_STATE body; none for a format that carries none or a body that ends
// before the field.
std::optional<double> AirStateG(ByteReader body);

}  // namespace zpmoni
