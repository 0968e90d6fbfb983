// SPDX-License-Identifier: MIT
#pragma once

// Builds IPv4/TCP datagrams and the server's framed packets for tests and benchmarks.

#include "capture/decoder.h"

#include <arpa/inet.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace testing_datagrams {

using Bytes = std::vector<uint8_t>;

inline uint32_t Addr(const char* dotted)
{
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

inline void PutLe32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A framed packet: u32 length of what follows, u32 type, the body.
inline Bytes Frame(uint32_t type, const Bytes& body)
{
    Bytes b(8 + body.size());
    PutLe32(b, 0, static_cast<uint32_t>(4 + body.size()));
    PutLe32(b, 4, type);
    std::memcpy(b.data() + 8, body.data(), body.size());
    return b;
}

inline void PutText(Bytes& body, size_t at, std::string_view text)
{
    std::memcpy(body.data() + at, text.data(), text.size());
}

inline Bytes Logon(std::string_view name)
{
    Bytes body(32, 0);  // name, then version and the rest of the log-on body
    PutText(body, 0, name.substr(0, 16));
    return Frame(PKT_LOGON, body);
}

inline Bytes Join(uint32_t iff, std::string_view aircraft, std::string_view start)
{
    Bytes body(68, 0);
    PutLe32(body, 0, iff);
    PutText(body, 4, aircraft.substr(0, 32));
    PutText(body, 36, start.substr(0, 32));
    return Frame(PKT_JOIN, body);
}

inline Bytes AirState(size_t bodySize = 64) { return Frame(PKT_AIR_STATE, Bytes(bodySize, 0)); }
inline Bytes Unjoin() { return Frame(PKT_UNJOIN, Bytes(4, 0)); }

inline Bytes Chat(std::string_view text)
{
    Bytes body(8 + text.size() + 1, 0);
    PutText(body, 8, text);
    return Frame(PKT_CHAT, body);
}

inline Bytes AddObject(uint16_t notOwn, std::string_view name)
{
    Bytes body(160, 0);
    body[2] = static_cast<uint8_t>(notOwn);
    body[3] = static_cast<uint8_t>(notOwn >> 8);
    PutText(body, 124, name.substr(0, 16));
    return Frame(PKT_ADD_OBJECT, body);
}

inline Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

struct Segment {
    uint32_t source = Addr("198.51.100.2");
    uint32_t destination = Addr("198.51.100.1");
    uint16_t sourcePort = 40000;
    uint16_t destinationPort = 7915;
    uint8_t flags = 0x18;  // PSH ACK
    Bytes payload;
};

// A complete datagram with valid IP and TCP checksums.
inline Bytes Datagram(const Segment& s)
{
    const size_t total = 20 + 20 + s.payload.size();
    Bytes d(total, 0);
    d[0] = 0x45;
    d[2] = static_cast<uint8_t>(total >> 8);
    d[3] = static_cast<uint8_t>(total);
    d[8] = 64;
    d[9] = 6;
    std::memcpy(&d[12], &s.source, 4);
    std::memcpy(&d[16], &s.destination, 4);
    uint8_t* tcp = d.data() + 20;
    tcp[0] = static_cast<uint8_t>(s.sourcePort >> 8);
    tcp[1] = static_cast<uint8_t>(s.sourcePort);
    tcp[2] = static_cast<uint8_t>(s.destinationPort >> 8);
    tcp[3] = static_cast<uint8_t>(s.destinationPort);
    tcp[12] = 5 << 4;
    tcp[13] = s.flags;
    tcp[14] = 0xFF;
    if (!s.payload.empty())
        std::memcpy(tcp + 20, s.payload.data(), s.payload.size());

    // Checksums computed the plain way, 16-bit big-endian words, independent of the decoder.
    auto sum16 = [](const uint8_t* p, size_t n, uint32_t sum) {
        for (size_t i = 0; i + 1 < n; i += 2)
            sum += static_cast<uint32_t>(p[i] << 8 | p[i + 1]);
        if (n % 2)
            sum += static_cast<uint32_t>(p[n - 1] << 8);
        return sum;
    };
    auto finish = [](uint32_t sum) {
        while (sum >> 16)
            sum = (sum >> 16) + (sum & 0xFFFF);
        return static_cast<uint16_t>(~sum);
    };
    uint16_t ipSum = finish(sum16(d.data(), 20, 0));
    d[10] = static_cast<uint8_t>(ipSum >> 8);
    d[11] = static_cast<uint8_t>(ipSum);
    const size_t tcpLength = total - 20;
    uint32_t pseudo = sum16(d.data() + 12, 8, 0) + 6 + static_cast<uint32_t>(tcpLength);
    uint16_t tcpSum = finish(sum16(tcp, tcpLength, pseudo));
    tcp[16] = static_cast<uint8_t>(tcpSum >> 8);
    tcp[17] = static_cast<uint8_t>(tcpSum);
    return d;
}

}  // namespace testing_datagrams
