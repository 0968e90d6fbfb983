// SPDX-License-Identifier: MIT
#pragma once

#include "base/clock.h"
#include "base/fixed_text.h"
#include "platform/name_resolver.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace zpmoni {

// One client TCP connection to the server, as seen in the captured traffic.
struct PlayerRecord {
    static constexpr uint8_t kOnline = 0x01;
    static constexpr uint8_t kFlying = 0x02;
    // In use, but not yet answered by the server: a datagram with a forged source gets no answer
    // (or a reset), so until then the record is no log-on, is not shown and looks nothing up.
    static constexpr uint8_t kHeld = 0x04;

    // A log-on or join of a held record, as it was when it came; reported, in order and with
    // its own time, once the server answers.
    struct HeldEvent {
        bool join;
        int64_t time;
        FixedText<16> userName;
        uint32_t iff;
        FixedText<32> aircraftName;
        FixedText<32> packName;
        FixedText<32> startPosition;
    };
    static constexpr size_t kHeldEvents = 4;

    FixedText<16> userName;
    FixedText<256> hostText;  // the dotted address until a reverse lookup names the host
    uint8_t flags = 0;
    uint32_t address = 0;  // network byte order
    uint16_t port = 0;     // host byte order
    FixedText<16> addressText;
    FixedText<32> aircraftName;
    FixedText<32> packName;
    uint32_t iff = 0;
    FixedText<32> startPosition;
    int64_t logonTime = 0;
    int64_t lastActivity = 0;
    // Bytes on the wire of the datagrams attributed to this connection, for the session's
    // history: from the player to the server, and back.
    uint64_t bytesIn = 0;
    uint64_t bytesOut = 0;
    std::array<HeldEvent, kHeldEvents> held{};
    size_t heldCount = 0;

    bool Online() const { return (flags & kOnline) != 0; }
    bool Held() const { return (flags & kHeld) != 0; }
    bool InUse() const { return (flags & (kOnline | kHeld)) != 0; }
    bool Flying() const { return (flags & (kOnline | kFlying)) == (kOnline | kFlying); }
    std::string HostText() const { return std::string(hostText.View()); }
};

// Players logged on, and those of them flying.
struct PlayerCounts {
    int online = 0;
    int flying = 0;
};

struct StatusFigures {
    int flying = 0;
    int online = 0;
    double up = 0.0;    // kB/s the server sends
    double down = 0.0;  // kB/s the server receives
    uint32_t refused = 0;  // log-ons dropped: never answered, reset, or too many from one address
    uint64_t dropped = 0;  // datagrams the kernel could not hand to the capture since the last figures
};

std::string FormatStatusText(const StatusFigures& figures);
// Seconds from `from` until `to`, 0 when `to` is not later. Exact for any two times, also
// those a crafted capture file carries, where `to - from` would overflow.
inline uint64_t SecondsAfter(int64_t from, int64_t to)
{
    return to > from ? static_cast<uint64_t>(to) - static_cast<uint64_t>(from) : 0;
}

// The 24 player slots, the traffic counters and the status figures. Used by one thread: the
// resolver must deliver its answers on it.
class PlayerTable {
public:
    static constexpr int kSlots = 24;

    // Without a resolver every record shows its dotted address. Answers that come after the
    // table is gone are dropped.
    explicit PlayerTable(const Clock& clock, NameResolver* resolver = nullptr);
    PlayerTable(const PlayerTable&) = delete;
    PlayerTable& operator=(const PlayerTable&) = delete;

    // Whether a new record starts a reverse lookup; follows the ResolveName setting.
    void SetResolveNames(bool on) { resolveNames = on; }

    // A record created here is held until Confirm.
    PlayerRecord* Find(uint32_t address, uint16_t port, bool create);
    // The server answered the held record: it goes on line and its host name is looked up.
    void Confirm(PlayerRecord& record);
    // Clears a held record that does not become a log-on, counting it.
    void Refuse(PlayerRecord& record);
    void Clear(PlayerRecord& record);
    void ClearAll();
    // Clears records idle more than 60 s, when `now` is a multiple of 15 seconds.
    void IdleSweep(int64_t now);
    void RestartResolvers();

    PlayerRecord& Slot(int i) { return records[i]; }
    const PlayerRecord& Slot(int i) const { return records[i]; }

    uint32_t inboundBytes = 0;   // received by the server; wraps
    uint32_t outboundBytes = 0;  // sent by the server; wraps
    uint32_t refusedLogons = 0;  // wraps
    // The run's totals for the metrics: datagrams and their bytes on the wire to the server
    // (in) and from it (out).
    struct Totals {
        uint64_t datagramsIn = 0;
        uint64_t datagramsOut = 0;
        uint64_t bytesIn = 0;
        uint64_t bytesOut = 0;
    } totals;

    // Counts and rates since the previous call.
    StatusFigures ComputeStatus();
    PlayerCounts Count() const;

private:
    void StartResolver(PlayerRecord& record);

    const Clock& clock;
    NameResolver* resolver;
    // Expires with the table, so that a lookup's answer can tell whether it has a table to reach.
    std::shared_ptr<const bool> alive = std::make_shared<const bool>(true);
    bool resolveNames = true;
    std::array<PlayerRecord, kSlots> records;

    uint32_t keptOutbound = 0;
    uint32_t keptInbound = 0;
    uint32_t keptTick = 0;
};

}  // namespace zpmoni
