// SPDX-License-Identifier: MIT
#include "capture/decoder.h"

#include <cstring>

using namespace wire;

namespace {

// The counters stand for bytes on the wire: each datagram adds an Ethernet header's length.
constexpr uint32_t kLinkHeader = 14;

// A text field up to its NUL, cut at its length and at the end of the packet.
template <size_t N>
void TakeText(FixedText<N>& field, ByteReader body, size_t at, size_t chars)
{
    field.Assign(body.Text(at, chars));
}

// Each segment is read on its own: a packet that runs past the end of the segment ends the
// scan, and the next segment is read as if a packet began at its first byte. The length field
// is taken as signed, so a huge one ends the scan instead of wrapping.
template <typename Act>
void ScanPackets(ByteReader payload, Act&& act)
{
    size_t at = 0;
    while (payload.Size() - at >= frame::kLengthField) {
        const int64_t length =
            int64_t{static_cast<int32_t>(payload.Le32(at + frame::kLength))} + int64_t{frame::kLengthField};
        if (length < static_cast<int64_t>(frame::kBody) || length > static_cast<int64_t>(payload.Size() - at))
            return;
        const ByteReader packet = payload.Sub(at, static_cast<size_t>(length));
        act(packet.Le32(frame::kType), packet);
        at += static_cast<size_t>(length);
    }
}

bool PassesChecksums(const uint8_t* ip, size_t h, size_t n)
{
    if (ChecksumFinish(ChecksumAdd(ip, h)) != 0)
        return false;
    // Pseudo header: both addresses, a zero byte, the protocol byte, the TCP length.
    const uint16_t tcpLength = static_cast<uint16_t>(n - h);
    uint8_t pseudo[12];
    std::memcpy(pseudo, ip + ipv4::kSource, 8);
    pseudo[8] = 0;
    pseudo[9] = ip[ipv4::kProtocol];
    pseudo[10] = static_cast<uint8_t>(tcpLength >> 8);
    pseudo[11] = static_cast<uint8_t>(tcpLength);
    uint64_t sum = ChecksumAdd(pseudo, sizeof pseudo);
    return ChecksumFinish(ChecksumAdd(ip + h, n - h, sum)) == 0;
}

}  // namespace

uint64_t ChecksumAdd(const uint8_t* data, size_t length, uint64_t sum)
{
    // 32-bit words summed into 64 bits fold to the same one's-complement sum as 16-bit words,
    // and the words are taken as they lie in memory, so the verdict is the same in either
    // byte order.
    while (length >= 4) {
        uint32_t w;
        std::memcpy(&w, data, 4);
        sum += w;
        data += 4;
        length -= 4;
    }
    if (length >= 2) {
        uint16_t w;
        std::memcpy(&w, data, 2);
        sum += w;
        data += 2;
        length -= 2;
    }
    if (length == 1) {
        uint8_t last[2] = {data[0], 0};
        uint16_t w;
        std::memcpy(&w, last, 2);
        sum += w;
    }
    return sum;
}

uint16_t ChecksumFinish(uint64_t sum)
{
    while (sum >> 16)
        sum = (sum >> 16) + (sum & 0xFFFF);
    return static_cast<uint16_t>(~sum);
}

Decoder::Decoder(PlayerTable& table, PackIndex& packs, const Clock& clock)
    : table(table), packs(packs), clock(clock)
{
}

int Decoder::HandleDatagram(const uint8_t* data, size_t received, ChecksumStatus status)
{
    const ByteReader ip(data, received);
    // Only a whole TCP segment is read as one: anything else to or from port P (a UDP datagram
    // made to look like a log-on, a fragment, another IP version) is no player's traffic and is
    // neither decoded nor counted.
    const uint8_t versionAndLength = ip.U8(ipv4::kVersionAndLength);
    const size_t h = static_cast<size_t>(versionAndLength & 0x0F) * 4;
    const size_t n = ip.Be16(ipv4::kTotalLength);
    if (received < ipv4::kMinHeader || versionAndLength >> 4 != ipv4::kVersion || h < ipv4::kMinHeader ||
        ip.U8(ipv4::kProtocol) != ipv4::kProtocolTcp ||
        (ip.Be16(ipv4::kFragment) & (ipv4::kMoreFragments | ipv4::kFragmentOffset)) != 0 ||
        n < h + tcp::kMinHeader)
        return 0;
    if (received < n)
        return 1;
    const size_t t = static_cast<size_t>(ip.U8(h + tcp::kDataOffset) >> 4) * 4;
    if (t < tcp::kMinHeader)
        return 0;
    const int64_t payloadLength = static_cast<int64_t>(n) - static_cast<int64_t>(h + t);
    const ByteReader payload = payloadLength > 0 ? ip.Sub(h + t, static_cast<size_t>(payloadLength)) : ByteReader();

    const uint16_t sourcePort = ip.Be16(h + tcp::kSourcePort);
    const uint16_t destinationPort = ip.Be16(h + tcp::kDestinationPort);
    const uint32_t source = ip.Raw32(ipv4::kSource);
    const uint32_t destination = ip.Raw32(ipv4::kDestination);
    const bool closing = (ip.U8(h + tcp::kFlags) & (tcp::kFin | tcp::kRst)) != 0;

    if (destinationPort == port) {
        if (!local.Contains(destination))
            return 0;
        table.inboundBytes += static_cast<uint32_t>(received + kLinkHeader);
        if (checksum && status == ChecksumStatus::Unknown && !PassesChecksums(data, h, n))
            return 1;
        const int64_t now = clock.Now();
        if (closing) {
            EndConnection(source, sourcePort, now);
        } else if (payloadLength > 0) {
            if (PlayerRecord* record = table.Find(source, sourcePort, true)) {
                record->lastActivity = now;
                ScanFromClient(*record, payload, now);
            }
        }
        table.IdleSweep(now);
        return 0;
    }

    if (sourcePort == port) {
        if (!local.Contains(source))
            return 0;
        table.outboundBytes += static_cast<uint32_t>(received + kLinkHeader);
        const int64_t now = clock.Now();
        if (closing) {
            EndConnection(destination, destinationPort, now);
        } else if (PlayerRecord* record = table.Find(destination, destinationPort, false)) {
            record->lastActivity = now;
            ScanFromServer(*record, payload);
        }
        return 0;
    }
    return 0;
}

void Decoder::EndConnection(uint32_t address, uint16_t clientPort, int64_t now)
{
    PlayerRecord* record = table.Find(address, clientPort, false);
    if (!record)
        return;
    if (events)
        events->OnLogoff(now, *record);
    table.Clear(*record);
}

void Decoder::ScanFromClient(PlayerRecord& record, ByteReader payload, int64_t now)
{
    ScanPackets(payload, [&](uint32_t type, ByteReader packet) {
        const ByteReader body = packet.Sub(frame::kBody, packet.Size());
        switch (type) {
        case PKT_LOGON:
            TakeText(record.userName, body, logon::kUserName, logon::kUserNameChars);
            if (events)
                events->OnLogon(now, record);
            break;
        case PKT_JOIN:
            record.iff = body.Le32(join::kIff) + 1;
            TakeText(record.aircraftName, body, join::kAircraft, join::kTextChars);
            TakeText(record.startPosition, body, join::kStartPosition, join::kTextChars);
            record.packName = packs.Lookup(record.aircraftName.View());
            if (events)
                events->OnJoin(now, record);
            break;
        case PKT_AIR_STATE:
            record.flags |= PlayerRecord::kOnline | PlayerRecord::kFlying;
            break;
        case PKT_UNJOIN:
            record.flags &= static_cast<uint8_t>(~PlayerRecord::kFlying);
            break;
        case PKT_CHAT:
            if (events)
                events->OnCapturedChat(ChatText(body));
            break;
        default:
            break;
        }
    });
}

void Decoder::ScanFromServer(PlayerRecord& record, ByteReader payload)
{
    ScanPackets(payload, [&](uint32_t type, ByteReader packet) {
        const ByteReader body = packet.Sub(frame::kBody, packet.Size());
        if (type == PKT_ADD_OBJECT && body.Le16(add_object::kNameMarker) == 0 &&
            (record.userName.Empty() || record.userName.First() == 'u'))
            TakeText(record.userName, body, add_object::kUserName, add_object::kUserNameChars);
    });
}
