// SPDX-License-Identifier: MIT
#pragma once

#include "base/ipv4_address.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zpmoni {

// One aircraft a player joined with during a session, and the pack it comes from (empty when
// the pack list does not know it).
struct FlownAircraft {
    std::string aircraft;
    std::string pack;
    bool operator==(const FlownAircraft&) const = default;
};

// One player's stay on the server, from log-on to log-off, as the history keeps it. Times are
// seconds since the epoch (UTC); a session still open has logoff 0. Texts are the bytes the
// server or the daily log gave (user names may be Shift_JIS), never interpreted.
struct SessionRecord {
    Ipv4Address address;
    uint16_t port = 0;
    std::string user;
    int64_t logon = 0;
    int64_t logoff = 0;
    std::vector<FlownAircraft> aircraft;
    uint64_t bytesIn = 0;   // from the player to the server
    uint64_t bytesOut = 0;  // from the server to the player
    uint32_t damageSent = 0;  // G-limit damage packets sent to this player
    bool operator==(const SessionRecord&) const = default;
};

}  // namespace zpmoni
