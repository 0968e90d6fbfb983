// SPDX-License-Identifier: MIT
#include "capture/decoder.h"

#include <algorithm>
#include <cstring>

namespace zpmoni {

using namespace wire;

namespace {

// The counters stand for bytes on the wire: each datagram adds an Ethernet header's length.
constexpr uint32_t kLinkHeader = 14;
constexpr uint8_t kSyn = 0x02;

// A text field up to its NUL, cut at its length and at the end of the packet. Rare next to the
// scan over every packet, so it stays out of the scan loops, and it calls nothing, so the loops
// keep their registers across it.
template <size_t N>
[[gnu::noinline]] void TakeText(FixedText<N>& field, ByteReader body, size_t at, size_t chars)
{
    if (!body.Holds(at, 0))
        field.Assign({});
    else
        field.AssignBounded(body.Data() + at, std::min(chars, body.Size() - at));
}

// The bytes the framed packet at p takes, or 0 when the scan of the segment ends there. Each
// segment is read on its own: a packet that runs past the end of the segment ends the scan, and
// the next segment is read as if a packet began at its first byte. The length field is taken as
// signed, so a huge one ends the scan instead of wrapping.
size_t PacketSize(const uint8_t* p, int64_t remaining)
{
    if (remaining < static_cast<int64_t>(frame::kLengthField))
        return 0;
    const int64_t length = int64_t{static_cast<int32_t>(ByteReader(p, frame::kLengthField).Le32(frame::kLength))} +
                           static_cast<int64_t>(frame::kLengthField);
    return length < static_cast<int64_t>(frame::kBody) || length > remaining ? 0 : static_cast<size_t>(length);
}

// The body of a packet the scan handed over, which is at least a header long.
ByteReader Body(ByteReader packet)
{
    return ByteReader(packet.Data() + frame::kBody, packet.Size() - frame::kBody);
}

// The Internet checksum (RFC 1071) of a byte range, not yet complemented or folded to 16 bits.
uint64_t ChecksumAdd(const uint8_t* data, size_t length, uint64_t sum = 0)
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

// Folds a sum to 16 bits and complements it: 0 means the data carried a correct checksum.
uint16_t ChecksumFinish(uint64_t sum)
{
    while (sum >> 16)
        sum = (sum >> 16) + (sum & 0xFFFF);
    return static_cast<uint16_t>(~sum);
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

Decoder::Decoder(PlayerTable& table, PackIndex& packs, const Clock& clock)
    : table(table), packs(packs), clock(clock)
{
}

int Decoder::HandleDatagram(const uint8_t* data, size_t received, ChecksumStatus status)
{
    const ByteReader ip(data, received);
    const size_t n = ip.Be16(ipv4::kTotalLength);
    if (received < n)
        return 1;
    // Only a whole TCP segment is read as one: anything else (a UDP datagram made to look like
    // a log-on, a fragment, another IP version) is no player's traffic and is neither decoded
    // nor counted. The tests are a few comparisons, and every read below stays inside n.
    if (received < ipv4::kMinHeader)
        return 0;
    const uint8_t versionAndLength = data[ipv4::kVersionAndLength];
    const size_t h = static_cast<size_t>(versionAndLength & 0x0F) * 4;
    if (versionAndLength >> 4 != ipv4::kVersion || h < ipv4::kMinHeader ||
        data[ipv4::kProtocol] != ipv4::kProtocolTcp ||
        (ip.Be16(ipv4::kFragment) & (ipv4::kMoreFragments | ipv4::kFragmentOffset)) != 0 ||
        n < h + tcp::kMinHeader)
        return 0;
    // From here on every read lies inside the segment, which holds at least a TCP header.
    const ByteReader segment(data + h, n - h);
    const uint16_t sourcePort = segment.Be16(tcp::kSourcePort);
    const uint16_t destinationPort = segment.Be16(tcp::kDestinationPort);
    if (destinationPort != port && sourcePort != port)
        return 0;
    const size_t t = static_cast<size_t>(segment.U8(tcp::kDataOffset) >> 4) * 4;
    if (t < tcp::kMinHeader)
        return 0;
    // Negative for a header that claims more than the segment holds: such a segment carries
    // nothing to scan and makes no record.
    const int64_t payloadLength = static_cast<int64_t>(segment.Size()) - static_cast<int64_t>(t);
    const ByteReader payload = payloadLength > 0 ? ByteReader(segment.Data() + t, segment.Size() - t) : ByteReader();
    const uint32_t source = ip.Raw32(ipv4::kSource);
    const uint32_t destination = ip.Raw32(ipv4::kDestination);
    const uint8_t flags = segment.U8(tcp::kFlags);
    const bool closing = (flags & (tcp::kFin | tcp::kRst)) != 0;

    if (destinationPort == port) {
        if (!local.Contains(destination))
            return 0;
        table.inboundBytes += static_cast<uint32_t>(received + kLinkHeader);
        ++table.totals.datagramsIn;
        table.totals.bytesIn += received + kLinkHeader;
        if (droppedSource && droppedSource(source, destination))
            return 0;
        if (checksum && status == ChecksumStatus::Unknown && !PassesChecksums(data, h, n))
            return 1;
        const int64_t now = clock.Now();
        DropUnanswered(now);
        if (closing) {
            EndConnection(source, sourcePort, now);
        } else if (payloadLength > 0) {
            if (PlayerRecord* record = table.Find(source, sourcePort, true)) {
                record->lastActivity = now;
                record->bytesIn += received + kLinkHeader;
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
        ++table.totals.datagramsOut;
        table.totals.bytesOut += received + kLinkHeader;
        const int64_t now = clock.Now();
        DropUnanswered(now);
        PlayerRecord* record = table.Find(destination, destinationPort, false);
        if (record)  // counted before a closing segment ends the session
            record->bytesOut += received + kLinkHeader;
        // Any segment but a reset answers a held record, except a SYN-ACK: the server sends
        // that to a forged SYN too, and repeats it after the forged data.
        if (record && record->Held() && (flags & (tcp::kRst | kSyn)) == 0)
            Answered(*record);
        if (closing) {
            EndConnection(destination, destinationPort, now);
        } else if (record && record->InUse()) {  // not refused just now
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
    if (record->Held()) {  // reset by the server, or closed before it ever answered
        table.Refuse(*record);
        return;
    }
    if (events)
        events->OnLogoff(now, *record);
    table.Clear(*record);
}

void Decoder::ScanFromClient(PlayerRecord& record, ByteReader payload, int64_t now)
{
    const uint8_t* p = payload.Data();
    auto remaining = static_cast<int64_t>(payload.Size());
    for (size_t size; (size = PacketSize(p, remaining)) != 0; p += size, remaining -= static_cast<int64_t>(size)) {
        const ByteReader packet(p, size);
        const ByteReader body = Body(packet);
        switch (packet.Le32(frame::kType)) {
        case PKT_LOGON:
            TakeText(record.userName, body, logon::kUserName, logon::kUserNameChars);
            if (record.Held())
                Hold(record, false, now);
            else if (events)
                events->OnLogon(now, record);
            break;
        case PKT_JOIN:
            record.iff = body.Le32(join::kIff) + 1;
            TakeText(record.aircraftName, body, join::kAircraft, join::kTextChars);
            TakeText(record.startPosition, body, join::kStartPosition, join::kTextChars);
            record.packName = packs.Lookup(record.aircraftName.View());
            if (record.Held())
                Hold(record, true, now);
            else if (events)
                events->OnJoin(now, record);
            break;
        case PKT_AIR_STATE:
            record.flags |= PlayerRecord::kFlying;
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
    }
}

void Decoder::ScanFromServer(PlayerRecord& record, ByteReader payload)
{
    const uint8_t* p = payload.Data();
    auto remaining = static_cast<int64_t>(payload.Size());
    for (size_t size; (size = PacketSize(p, remaining)) != 0; p += size, remaining -= static_cast<int64_t>(size)) {
        const ByteReader packet(p, size);
        if (packet.Le32(frame::kType) != PKT_ADD_OBJECT)
            continue;
        const ByteReader body = Body(packet);
        if (body.Le16(add_object::kNameMarker) == 0 && (record.userName.Empty() || record.userName.First() == 'u'))
            TakeText(record.userName, body, add_object::kUserName, add_object::kUserNameChars);
    }
}

namespace {

PlayerRecord::HeldEvent Snapshot(const PlayerRecord& r, bool join, int64_t time)
{
    return {join, time, r.userName, r.iff, r.aircraftName, r.packName, r.startPosition};
}

void Show(PlayerRecord& r, const PlayerRecord::HeldEvent& e)
{
    r.userName = e.userName;
    r.iff = e.iff;
    r.aircraftName = e.aircraftName;
    r.packName = e.packName;
    r.startPosition = e.startPosition;
}

}  // namespace

void Decoder::Hold(PlayerRecord& r, bool join, int64_t now)
{
    // A real client waits for the server before it sends more; what does not fit is dropped.
    if (r.heldCount < r.held.size())
        r.held[r.heldCount++] = Snapshot(r, join, now);
}

void Decoder::Answered(PlayerRecord& r)
{
    if (!TakeLogon(r.address, clock.Now())) {
        table.Refuse(r);
        return;
    }
    // The held events are reported with the fields they had, which the record shows meanwhile.
    const PlayerRecord::HeldEvent current = Snapshot(r, false, 0);
    const size_t count = r.heldCount;
    table.Confirm(r);
    for (size_t i = 0; i < count && events; ++i) {
        const PlayerRecord::HeldEvent& e = r.held[i];
        Show(r, e);
        e.join ? events->OnJoin(e.time, r) : events->OnLogon(e.time, r);
    }
    Show(r, current);
}

bool Decoder::TakeLogon(uint32_t address, int64_t now)
{
    // The address's entry, else a free one, else the one whose minute began first.
    SourceRate* entry = &rates[0];
    for (SourceRate& r : rates) {
        if (r.count != 0 && r.address == address) {
            entry = &r;
            break;
        }
        if (r.since < entry->since)
            entry = &r;
    }
    if (entry->count == 0 || entry->address != address || now < entry->since || SecondsAfter(entry->since, now) >= 60)
        *entry = {address, now, 0, false};
    if (entry->count < kLogonsPerMinute) {
        ++entry->count;
        return true;
    }
    if (!entry->told && events)
        events->OnLogonFlood(address);
    entry->told = true;
    return false;
}

void Decoder::DropUnanswered(int64_t now)
{
    // Times are whole seconds: one look a second is enough.
    if (now == unansweredSweep)
        return;
    unansweredSweep = now;
    for (int i = 0; i < PlayerTable::kSlots; ++i) {
        PlayerRecord& r = table.Slot(i);
        if (r.Held() && (now < r.logonTime || SecondsAfter(r.logonTime, now) > kAnswerSeconds))
            table.Refuse(r);
    }
}

}  // namespace zpmoni
