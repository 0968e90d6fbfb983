// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

struct pcap;

namespace zpmoni {

// The IPv4 datagrams of a capture file (pcap or pcapng, read by libpcap) of the link types a
// capture of the server's traffic has: Ethernet (with VLAN tags), Linux cooked v1 and v2, raw
// IPv4. Frames that carry no IPv4 datagram are passed over.
class CaptureFile {
public:
    struct Datagram {
        int64_t seconds;  // the frame's time stamp
        uint32_t tickMs;  // the same in milliseconds, wrapping like a tick counter
        const uint8_t* data;
        size_t size;      // as captured, which may fall short of the datagram's length
    };

    // Opens the file; an error text when it is no capture of a link type read here.
    std::string Open(const std::string& path);
    // The same for an open file, which the reader then owns.
    std::string Open(FILE* file);

    // The next datagram, valid until the next call; false at the end or on a read error.
    bool Next(Datagram& out);
    // The read error that ended Next, or empty at a clean end.
    const std::string& Error() const { return error; }
    // Frames passed over because their time stamp lies outside the times handled here.
    uint64_t Skipped() const { return skipped; }

    // The latest second a frame may carry: the end of year 9999, which every calendar
    // conversion of the program can still show, far below what milliseconds of it overflow.
    static constexpr int64_t kLastSecond = 253402300799;

private:
    std::string Opened(pcap* handle, const char* message);

    std::unique_ptr<pcap, void (*)(pcap*)> handle{nullptr, nullptr};
    int linkType = 0;
    std::string error;
    uint64_t skipped = 0;
};

}  // namespace zpmoni
