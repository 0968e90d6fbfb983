// SPDX-License-Identifier: MIT
#pragma once

#include "base/clock.h"
#include "base/local_address_table.h"
#include "base/monitor_settings.h"
#include "base/protocol.h"
#include "packlist/pack_index.h"
#include "capture/player_table.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace zpmoni {

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
    // The address made more log-ons within a minute than are taken; told once per minute.
    virtual void OnLogonFlood(uint32_t /*address*/) {}
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

    // A held record becomes a log-on only when the server answers it within this time.
    static constexpr int64_t kAnswerSeconds = 5;
    // Log-ons taken per client address within a minute.
    static constexpr uint8_t kLogonsPerMinute = 10;

private:
    // Log-ons of one address in the minute that began at `since`; count 0 = free.
    struct SourceRate {
        uint32_t address = 0;
        int64_t since = INT64_MIN;
        uint8_t count = 0;
        bool told = false;
    };

    void ScanFromClient(PlayerRecord& record, ByteReader payload, int64_t now);
    void ScanFromServer(PlayerRecord& record, ByteReader payload);
    void EndConnection(uint32_t address, uint16_t port, int64_t now);
    void Hold(PlayerRecord& record, bool join, int64_t now);
    void Answered(PlayerRecord& record);
    bool TakeLogon(uint32_t address, int64_t now);
    void DropUnanswered(int64_t now);

    PlayerTable& table;
    PackIndex& packs;
    const Clock& clock;
    DecoderEvents* events = nullptr;
    SourceFilter droppedSource;
    LocalAddressTable local;
    uint16_t port = kDefaultPort;
    bool checksum = true;
    std::array<SourceRate, 64> rates{};
    int64_t unansweredSweep = INT64_MIN;  // the second of DropUnanswered's last look
};

}  // namespace zpmoni
