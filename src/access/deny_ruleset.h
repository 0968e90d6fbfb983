// SPDX-License-Identifier: MIT
#pragma once

#include "access/deny_entry.h"
#include "base/ipv4_address.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zpmoni {

// How the rules read one entry. The rule set and the deny page's marks both come from this one
// parse, so the page never shows an entry in force that is not, or the other way round.
struct DenyMatch {
    enum Kind { Enforced, BadAddress, BadMask };
    Kind kind = BadAddress;
    Ipv4Address address;  // already masked
    Ipv4Address mask;

    // A block of more than 2^24 addresses (a mask shorter than /8, 0.0.0.0 included): enforced
    // only when confirmed on the page, and named in the error log when it comes from the file.
    bool Wide() const;
    // What the rule matches: "10.0.0.0/8", or "10.0.3.0/255.0.255.0" for a mask that is no
    // prefix; empty when the entry is not enforced.
    std::string Text() const;
};
DenyMatch MatchOf(const DenyEntry& entry);

// What one of the program's own nftables tables holds to enforce a deny list, and the commands,
// in libnftables' JSON form, that put it there. Every enforced entry drops all IPv4 traffic from
// its block to the filter address (to every local address when there is none). Traffic from the
// host's own addresses and from 127.0.0.0/8 is accepted ahead of every drop: no ban cuts the
// machine off from itself. Entries whose mask is a prefix become elements of one interval set
// (one lookup however long the list); any other mask becomes a rule of its own. The commands are
// built from parsed 32-bit values only: no text of an entry ever reaches nftables.
class DenyRuleset {
public:
    struct Block {
        Ipv4Address first;
        Ipv4Address last;
    };
    struct MaskedRule {
        Ipv4Address address;  // already masked
        Ipv4Address mask;
    };

    DenyRuleset() = default;
    // A filter address of 0.0.0.0 guards every local address.
    DenyRuleset(std::string table, Ipv4Address filterAddress, const DenyList& list);

    // "zpmoni_" and a short hash of the working folder: one table per folder, so that monitors
    // of different folders keep their own rules, and the next monitor of a folder finds the
    // table a killed one left behind.
    static std::string TableFor(std::string_view folder);

    // One transaction that fills the table (created if missing, emptied if not) with this set.
    std::string InstallCommands() const;
    // One transaction that deletes the table, whether it exists or not.
    std::string RemoveCommands() const;
    // A command that fails when the table or its chain is gone.
    std::string ListCommands() const;
    // The commands that add one entry to the installed table; empty when the set already
    // covers it or the entry is not enforced. Add() then records it.
    std::string AddCommands(const DenyEntry& entry) const;
    void Add(const DenyEntry& entry);

    // Whether the rules drop what the entry matches.
    bool Covers(const DenyMatch& match) const;
    // Whether the rules drop a datagram between these addresses (a destination of 0.0.0.0
    // stands for the filter address).
    bool Drops(Ipv4Address source, Ipv4Address destination) const;

    const std::string& Table() const { return table; }
    Ipv4Address FilterAddress() const { return filter; }
    // Disjoint, in ascending order: a block inside another is left out.
    const std::vector<Block>& Blocks() const { return blocks; }
    const std::vector<MaskedRule>& Rules() const { return rules; }

private:
    // Where an entry goes: nowhere, a rule, or a block that is already covered or replaces the
    // blocks [from, to) that lie inside it.
    struct Placement {
        bool enforced = false;
        std::optional<Block> block;
        MaskedRule rule{};
        bool covered = false;
        size_t from = 0;
        size_t to = 0;
    };
    Placement Place(const DenyEntry& entry) const;

    std::string table;
    Ipv4Address filter;
    std::vector<Block> blocks;
    std::vector<MaskedRule> rules;
};

}  // namespace zpmoni
