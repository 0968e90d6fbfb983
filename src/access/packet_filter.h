// SPDX-License-Identifier: MIT
#pragma once

#include "access/deny_entry.h"
#include "access/deny_ruleset.h"
#include "base/ipv4_address.h"
#include "base/result.h"

#include <cstdint>
#include <functional>
#include <string>

namespace zpmoni {

// The deny list enforced by the kernel: the working folder's own nftables table, changed
// through libnftables with JSON commands only. Every change is one transaction, so the rules
// never lapse while they are replaced, and a refused change leaves what was in force. Needs
// CAP_NET_ADMIN; without it every change fails and the kernel keeps what it had.
class PacketFilter {
public:
    PacketFilter() = default;
    ~PacketFilter();
    PacketFilter(const PacketFilter&) = delete;
    PacketFilter& operator=(const PacketFilter&) = delete;

    // The folder whose table this is (named after it, the folder in the table's comment). Set
    // before the first change.
    void SetFolder(const std::string& folder);
    // Seconds since 1970, for the timeouts of bans with an end; without it none ends.
    void SetClock(std::function<int64_t()> clock) { now = std::move(clock); }

    // Puts the rules of `list` on the filter address (0.0.0.0 for every local address) in place
    // of the table's (also those a killed monitor of the folder left behind). When nftables
    // refuses, its message, and the rules of InForce() stay.
    Status Install(Ipv4Address filterAddress, const DenyList& list);
    // One entry more, at once. When the kernel does not hold what was asked last (an install
    // failed) the whole rule set is put in with it.
    Status Add(const DenyEntry& entry);
    // Deletes the table.
    Status Remove();

    enum class Check { Present, Restored };
    // Whether the table is still there once rules were in force; a table that is gone (someone
    // flushed the rule set, a firewall reloaded) is put back with what was asked last. nftables'
    // message when it is gone and cannot be put back.
    Result<Check> Verify();

    // The kernel holds what was asked last.
    bool Installed() const { return installed; }
    // What the kernel holds as far as this program knows.
    const DenyRuleset& InForce() const { return active; }
    // Nothing of this run is in force, but the table a killed monitor of the folder left is.
    bool Leftover() const { return leftover; }
    const std::string& Table() const { return table; }
private:
    Status Run(const std::string& commands, bool json = true);
    Status Put(DenyRuleset next);

    int64_t Now() const { return now ? now() : 0; }

    std::string folder;
    std::function<int64_t()> now;
    std::string table = DenyRuleset::TableFor({});
    DenyRuleset wanted;      // what should be in force
    DenyRuleset active;      // what is in force
    bool installed = false;  // active is wanted
    bool everInstalled = false;
    bool leftover = false;
};

}  // namespace zpmoni
