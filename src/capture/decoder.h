// SPDX-License-Identifier: MIT
#pragma once

#include "base/clock.h"
#include "base/local_address_table.h"
#include "base/monitor_settings.h"
#include "base/protocol.h"
#include "capture/pack_index.h"
#include "capture/player_table.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

// What the capture knows of a datagram's checksums.
enum class ChecksumStatus {
    Unknown,       // test in software
    Verified,      // the interface checked them
    Unverifiable,  // partial checksum of an offloading interface: cannot be tested, not rejected
};

// Receivers of what the decoder recognises. A log-off arrives before its record is cleared.
class DecoderEvents {
public:
    virtual ~DecoderEvents() = default;
    virtual void OnLogon(int64_t eventTime, const PlayerRecord& record) = 0;
    virtual void OnLogoff(int64_t eventTime, const PlayerRecord& record) = 0;
    virtual void OnJoin(int64_t eventTime, const PlayerRecord& record) = 0;
    virtual void OnCapturedChat(std::string_view text) = 0;
};

// Turns captured IPv4 datagrams into player records, counters and player events.
class Decoder {
public:
    Decoder(PlayerTable& table, PackIndex& packs, const Clock& clock);

    void SetPort(uint16_t p) { port = p; }
    void SetChecksum(bool on) { checksum = on; }
    void SetLocalAddresses(const LocalAddressTable& table) { local = table; }
    void SetEvents(DecoderEvents* sink) { events = sink; }
    // Whether the packet filter drops what `source` sends to `destination` (network byte order):
    // such datagrams never reach the server, so they are counted but not decoded.
    using SourceFilter = std::function<bool(uint32_t source, uint32_t destination)>;
    void SetSourceFilter(SourceFilter dropped) { droppedSource = std::move(dropped); }

    // One datagram, beginning with its IP header. Result 1 when it was rejected (truncated or
    // a failed checksum), else 0.
    int HandleDatagram(const uint8_t* data, size_t received,
                       ChecksumStatus status = ChecksumStatus::Unknown);

private:
    void ScanFromClient(PlayerRecord& record, ByteReader payload, int64_t now);
    void ScanFromServer(PlayerRecord& record, ByteReader payload);
    void EndConnection(uint32_t address, uint16_t port, int64_t now);

    PlayerTable& table;
    PackIndex& packs;
    const Clock& clock;
    DecoderEvents* events = nullptr;
    SourceFilter droppedSource;
    LocalAddressTable local;
    uint16_t port = kDefaultPort;
    bool checksum = true;
};
