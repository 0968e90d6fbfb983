// SPDX-License-Identifier: MIT
#include "capture/player_table.h"

#include "base/ipv4_address.h"

#include <cstdio>

namespace zpmoni {

std::string FormatStatusText(const StatusFigures& f)
{
    char text[128];
    std::snprintf(text, sizeof text, "FLYING %d ONLINE %d   UP %3.1fkB/s DOWN %3.1fkB/s", f.flying,
                  f.online, f.up, f.down);
    std::string out = text;
    // Shown only once there is something to show, so that the usual line stays as it was.
    if (f.refused != 0)
        out += "   REFUSED " + std::to_string(f.refused);
    if (f.dropped != 0)
        out += "   DROPPED " + std::to_string(f.dropped);
    return out;
}

PlayerTable::PlayerTable(const Clock& clock, NameResolver* resolver) : clock(clock), resolver(resolver)
{
    ClearAll();
}

PlayerRecord* PlayerTable::Find(uint32_t address, uint16_t port, bool create)
{
    for (auto& r : records) {
        if (r.InUse() && r.address == address && r.port == port)
            return &r;
    }
    if (!create)
        return nullptr;
    for (auto& r : records) {
        if (r.InUse())
            continue;
        r.addressText = Ipv4Address::FromNetworkOrder(address).ToString();
        r.address = address;
        r.hostText = r.addressText.View();
        r.port = port;
        r.logonTime = clock.Now();
        r.bytesIn = 0;
        r.bytesOut = 0;
        r.flags |= PlayerRecord::kHeld;
        return &r;
    }
    return nullptr;
}

void PlayerTable::Confirm(PlayerRecord& r)
{
    r.flags = static_cast<uint8_t>((r.flags & ~PlayerRecord::kHeld) | PlayerRecord::kOnline);
    r.heldCount = 0;
    if (resolveNames)
        StartResolver(r);
}

void PlayerTable::Refuse(PlayerRecord& r)
{
    ++refusedLogons;
    Clear(r);
}

void PlayerTable::Clear(PlayerRecord& r)
{
    r.flags = 0;
    r.port = 0;
    r.logonTime = 0;
    r.lastActivity = 0;
    r.bytesIn = 0;
    r.bytesOut = 0;
    r.addressText = "0.0.0.0";
    r.address = 0;
    r.hostText = "0.0.0.0";
    r.userName = "unknown";
    r.aircraftName = "unknown";
    r.startPosition = "unknown";
    r.packName = "";
    r.iff = 0;
    r.heldCount = 0;
}

void PlayerTable::ClearAll()
{
    for (auto& r : records)
        Clear(r);
}

void PlayerTable::IdleSweep(int64_t t)
{
    if (t % 15 != 0)
        return;
    for (auto& r : records) {
        if (r.InUse() && SecondsAfter(r.lastActivity, t) > 60)
            r.Held() ? Refuse(r) : Clear(r);
    }
}

void PlayerTable::RestartResolvers()
{
    for (auto& r : records) {
        if (r.Online())
            StartResolver(r);
    }
}

void PlayerTable::StartResolver(PlayerRecord& record)
{
    if (!resolver)
        return;
    const uint32_t address = record.address;
    const size_t slot = static_cast<size_t>(&record - records.data());
    // A refused lookup (queue full) leaves the dotted address, as a failed one does. The name is
    // kept only while the slot still holds the address it was asked for.
    resolver->Resolve(address, [this, table = std::weak_ptr<const bool>(alive), slot,
                                address](const std::optional<std::string>& name) {
        if (!name || table.expired())
            return;
        PlayerRecord& r = records[slot];
        if (r.InUse() && r.address == address)
            r.hostText = *name;
    });
}

PlayerCounts PlayerTable::Count() const
{
    PlayerCounts counts;
    for (const auto& r : records) {
        counts.online += r.Online();
        counts.flying += r.Flying();
    }
    return counts;
}

StatusFigures PlayerTable::ComputeStatus()
{
    StatusFigures f;
    const PlayerCounts counts = Count();
    f.online = counts.online;
    f.flying = counts.flying;
    f.refused = refusedLogons;
    uint32_t tick = clock.TickMs();
    uint32_t dUp = outboundBytes - keptOutbound;
    uint32_t dDown = inboundBytes - keptInbound;
    uint32_t dt = tick - keptTick;
    keptOutbound = outboundBytes;
    keptInbound = inboundBytes;
    keptTick = tick;
    // Two computations within one millisecond have no rate to show rather than an infinite one.
    if (dt != 0) {
        f.up = static_cast<double>(dUp) / dt;
        f.down = static_cast<double>(dDown) / dt;
    }
    return f;
}

}  // namespace zpmoni
