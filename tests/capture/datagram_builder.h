// SPDX-License-Identifier: MIT
#pragma once

// Builds the server's framed packets for tests and benchmarks, byte by byte and apart from the
// program's own readers and writers.

#include <arpa/inet.h>

#include <cstdint>
#include <vector>


namespace testing_datagrams {

using Bytes = std::vector<uint8_t>;

inline uint32_t Addr(const char* dotted)
{
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

// u32 length of what follows, u32 type, the body.
inline Bytes Frame(uint32_t type, const Bytes& body)
{
    Bytes b(8);
    for (int i = 0; i < 4; ++i) {
        b[i] = static_cast<uint8_t>((body.size() + 4) >> (8 * i));
        b[4 + i] = static_cast<uint8_t>(type >> (8 * i));
    }
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

inline Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

}  // namespace testing_datagrams
