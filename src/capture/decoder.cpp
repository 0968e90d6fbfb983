// SPDX-License-Identifier: MIT
#include "capture/decoder.h"

#include <cstring>

namespace {

constexpr uint8_t kFin = 0x01;
constexpr uint8_t kRst = 0x04;

// Reads of header fields stay inside the bytes received; what lies beyond reads as zero.
struct Bytes {
    const uint8_t* data;
    size_t size;

    uint8_t U8(size_t i) const { return i < size ? data[i] : 0; }
    uint16_t Be16(size_t i) const { return static_cast<uint16_t>(U8(i) << 8 | U8(i + 1)); }
    uint32_t Raw32(size_t i) const
    {
        uint32_t v = 0;
        if (i + 4 <= size)
            std::memcpy(&v, data + i, 4);
        return v;
    }
};

// Little-endian fields of a framed packet of `length` bytes.
uint32_t Le32(const uint8_t* p, int64_t length, int64_t offset)
{
    if (offset + 4 > length)
        return 0;
    return static_cast<uint32_t>(p[offset]) | static_cast<uint32_t>(p[offset + 1]) << 8 |
           static_cast<uint32_t>(p[offset + 2]) << 16 | static_cast<uint32_t>(p[offset + 3]) << 24;
}

uint16_t Le16(const uint8_t* p, int64_t length, int64_t offset)
{
    if (offset + 2 > length)
        return 0;
    return static_cast<uint16_t>(p[offset] | p[offset + 1] << 8);
}

template <size_t N>
void TakeText(FixedText<N>& field, const uint8_t* p, int64_t length, int64_t offset)
{
    if (offset >= length)
        field.Assign({});
    else
        field.AssignBounded(p + offset, static_cast<size_t>(length - offset));
}

bool PassesChecksums(const Bytes& ip, size_t h, size_t n)
{
    if (h < 20 || h + 20 > n)
        return false;
    if (ChecksumFinish(ChecksumAdd(ip.data, h)) != 0)
        return false;
    uint16_t tcpLength = static_cast<uint16_t>(n - h);
    uint8_t pseudo[12];
    std::memcpy(pseudo, ip.data + 12, 8);
    pseudo[8] = 0;
    pseudo[9] = ip.data[9];
    pseudo[10] = static_cast<uint8_t>(tcpLength >> 8);
    pseudo[11] = static_cast<uint8_t>(tcpLength);
    uint64_t sum = ChecksumAdd(pseudo, sizeof pseudo);
    return ChecksumFinish(ChecksumAdd(ip.data + h, n - h, sum)) == 0;
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
    const Bytes ip{data, received};
    const size_t h = static_cast<size_t>(ip.U8(0) & 0x0F) * 4;
    const size_t t = static_cast<size_t>(ip.U8(h + 12) >> 4) * 4;
    const size_t n = ip.Be16(2);
    if (received < n)
        return 1;
    const int64_t payloadLength = static_cast<int64_t>(n) - static_cast<int64_t>(h + t);
    // A malformed datagram's payload may start beyond its end: point nowhere past it.
    const uint8_t* payload = payloadLength > 0 ? data + h + t : data;

    const uint16_t sourcePort = ip.Be16(h);
    const uint16_t destinationPort = ip.Be16(h + 2);
    const uint32_t source = ip.Raw32(12);
    const uint32_t destination = ip.Raw32(16);
    const uint8_t tcpFlags = ip.U8(h + 13);

    if (destinationPort == port) {
        if (!local.Contains(destination))
            return 0;
        table.inboundBytes += static_cast<uint32_t>(received + 14);
        if (checksum && status == ChecksumStatus::Unknown && !PassesChecksums(ip, h, n))
            return 1;
        const int64_t now = clock.Now();
        if (tcpFlags & (kFin | kRst)) {
            EndConnection(source, sourcePort, now);
        } else if (payloadLength != 0) {
            if (PlayerRecord* record = table.Find(source, sourcePort, true)) {
                record->lastActivity = now;
                ScanFromClient(*record, payload, payloadLength, now);
            }
        }
        table.IdleSweep(now);
        return 0;
    }

    if (sourcePort == port) {
        if (!local.Contains(source))
            return 0;
        table.outboundBytes += static_cast<uint32_t>(received + 14);
        const int64_t now = clock.Now();
        if (tcpFlags & (kFin | kRst)) {
            EndConnection(destination, destinationPort, now);
        } else if (PlayerRecord* record = table.Find(destination, destinationPort, false)) {
            record->lastActivity = now;
            ScanFromServer(*record, payload, payloadLength);
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

// Each segment is read on its own: a packet that runs past the end of the segment ends the
// scan, and the next segment is read as if a packet began at its first byte.
void Decoder::ScanFromClient(PlayerRecord& record, const uint8_t* p, int64_t remaining, int64_t now)
{
    while (remaining >= 4) {
        const int64_t length = static_cast<int64_t>(static_cast<int32_t>(Le32(p, 4, 0))) + 4;
        if (length < 8 || length > remaining)
            return;
        switch (Le32(p, length, 4)) {
        case PKT_LOGON:
            TakeText(record.userName, p, length, 8);
            if (events)
                events->OnLogon(now, record);
            break;
        case PKT_JOIN: {
            record.iff = Le32(p, length, 8) + 1;
            TakeText(record.aircraftName, p, length, 12);
            TakeText(record.startPosition, p, length, 44);
            record.packName = packs.Lookup(record.aircraftName.View());
            if (events)
                events->OnJoin(now, record);
            break;
        }
        case PKT_AIR_STATE:
            record.flags |= PlayerRecord::kOnline | PlayerRecord::kFlying;
            break;
        case PKT_UNJOIN:
            record.flags &= static_cast<uint8_t>(~PlayerRecord::kFlying);
            break;
        case PKT_CHAT: {
            std::string_view text;
            if (length > 16) {
                const auto* begin = p + 16;
                const void* nul = std::memchr(begin, 0, static_cast<size_t>(length - 16));
                // Text that is not closed inside its packet reads as empty.
                if (nul)
                    text = std::string_view(reinterpret_cast<const char*>(begin),
                                            static_cast<const uint8_t*>(nul) - begin);
            }
            if (events)
                events->OnCapturedChat(text);
            break;
        }
        default:
            break;
        }
        p += length;
        remaining -= length;
    }
}

void Decoder::ScanFromServer(PlayerRecord& record, const uint8_t* p, int64_t remaining)
{
    while (remaining >= 4) {
        const int64_t length = static_cast<int64_t>(static_cast<int32_t>(Le32(p, 4, 0))) + 4;
        if (length < 8 || length > remaining)
            return;
        if (Le32(p, length, 4) == PKT_ADD_OBJECT && Le16(p, length, 10) == 0 &&
            (record.userName.Empty() || record.userName.First() == 'u')) {
            TakeText(record.userName, p, length, 132);
        }
        p += length;
        remaining -= length;
    }
}
