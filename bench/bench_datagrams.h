// SPDX-License-Identifier: MIT
#pragma once

// Whole IPv4/TCP datagrams for the benchmarks, with correct checksums summed the plain way.

#include "capture/datagram_builder.h"

#include <algorithm>
#include <cstring>
#include <string_view>


namespace testing_datagrams {

inline Bytes Logon(std::string_view name)
{
    Bytes body(20, 0);
    std::memcpy(body.data(), name.data(), std::min<size_t>(name.size(), 16));
    return Frame(1, body);
}

// u16 at +2 is 0 on the announcement that names the receiving player.
inline Bytes AddObject(uint16_t marker, std::string_view name)
{
    Bytes body(140, 0);
    body[2] = static_cast<uint8_t>(marker);
    body[3] = static_cast<uint8_t>(marker >> 8);
    std::memcpy(body.data() + 124, name.data(), std::min<size_t>(name.size(), 16));
    return Frame(5, body);
}

struct Segment {
    uint32_t source = Addr("198.51.100.2");
    uint32_t destination = Addr("198.51.100.1");
    uint16_t sourcePort = 40000;
    uint16_t destinationPort = 7915;
    uint8_t flags = 0x18;  // PSH ACK
    Bytes payload;
};

// A complete datagram with correct IP and TCP checksums, summed the plain way in 16-bit words.
inline Bytes Datagram(const Segment& s)
{
    Bytes d = {0x45, 0, 0, 0, 0, 0, 0, 0, 64, 6, 0, 0};
    d.resize(40);
    const uint16_t fields[] = {static_cast<uint16_t>(40 + s.payload.size()), s.sourcePort, s.destinationPort};
    for (auto [at, value] : {std::pair{2, fields[0]}, {20, fields[1]}, {22, fields[2]}}) {
        d[at] = static_cast<uint8_t>(value >> 8);
        d[at + 1] = static_cast<uint8_t>(value);
    }
    std::memcpy(&d[12], &s.source, 4);
    std::memcpy(&d[16], &s.destination, 4);
    d[32] = 5 << 4;
    d[33] = s.flags;
    d[34] = 0xFF;
    d.insert(d.end(), s.payload.begin(), s.payload.end());
    auto put = [&](size_t at, size_t from, size_t to, uint32_t sum) {
        for (size_t i = from; i < to; i += 2)
            sum += static_cast<uint32_t>(d[i] << 8 | (i + 1 < to ? d[i + 1] : 0));
        while (sum >> 16)
            sum = (sum >> 16) + (sum & 0xFFFF);
        d[at] = static_cast<uint8_t>(~sum >> 8);
        d[at + 1] = static_cast<uint8_t>(~sum);
    };
    put(10, 0, 20, 0);
    uint32_t pseudo = 6 + static_cast<uint32_t>(d.size() - 20);
    for (size_t i = 12; i < 20; i += 2)
        pseudo += static_cast<uint32_t>(d[i] << 8 | d[i + 1]);
    put(36, 20, d.size(), pseudo);
    return d;
}

}  // namespace testing_datagrams
