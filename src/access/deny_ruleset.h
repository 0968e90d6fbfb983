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
    int64_t until = 0;  // when the ban ends, from the comment's terms; 0 for never

    // A block of more than 2^24 addresses (a mask shorter than /8, 0.0.0.0 included): enforced
    // only when confirmed on the page, and named in the error log when it comes from the file.
    bool Wide() const;
    // What the rule matches: "10.0.0.0/8", or "10.0.3.0/255.0.255.0" for a mask that is no
    // prefix; empty when the entry is not enforced.
    std::string Text() const;
};
DenyMatch MatchOf(const DenyEntry& entry);

// A block written in CIDR notation: "a.b.c.d/N" as the address (with the mask left empty or at
// its "255.255.255.255"), or "/N" as the mask. N is 0-32, decimal, without sign or leading
// zero. The address must be the block's first: "198.51.100.7/24" is refused, as it is as likely
// a mistyped host as the block (a dotted mask still masks, as it always has). True when the
// entry now holds the dotted address and mask; false, and the entry unchanged, for any other text.
bool ReadBlockNotation(DenyEntry& entry);

// What one of the program's own nftables tables holds to enforce a deny list, and the commands,
// in libnftables' JSON form, that put it there. Every enforced entry drops all IPv4 traffic from
// its block to the filter address (to every local address when there is none). Traffic from the
// host's own addresses and from 127.0.0.0/8 is accepted ahead of every drop: no ban cuts the
// machine off from itself. Entries whose mask is a prefix become elements of one interval set
// (one lookup however long the list); any other mask becomes a rule of its own. The commands are
// built from parsed 32-bit values only: no text of an entry ever reaches nftables.
// A ban with an end is an element with a timeout, so the kernel takes it away on time by itself;
// a block that swallows others lives as long as the longest of them (at most until the minute's
// check puts the list in again), and an expired entry is left out. Times are seconds since 1970;
// `now` 0 takes no entry as expired.
class DenyRuleset {
public:
    struct Block {
        Ipv4Address first;
        Ipv4Address last;
        int64_t until = 0;
    };
    struct MaskedRule {
        Ipv4Address address;  // already masked
        Ipv4Address mask;
        int64_t until = 0;
    };

    DenyRuleset() = default;
    // A filter address of 0.0.0.0 guards every local address.
    DenyRuleset(std::string table, Ipv4Address filterAddress, const DenyList& list, int64_t now = 0);

    // "zpmoni_" and a short hash of the working folder: one table per folder, so that monitors
    // of different folders keep their own rules, and the next monitor of a folder finds the
    // table a killed one left behind.
    static std::string TableFor(std::string_view folder);

    // One transaction that fills the table (created if missing, emptied if not) with this set.
    // `newSet`: the set is deleted and made anew, as one made by an earlier version without
    // timeouts must be (a set keeps the flags it was made with).
    std::string InstallCommands(int64_t now = 0, bool newSet = false) const;
    // One transaction that deletes the table, whether it exists or not.
    std::string RemoveCommands() const;
    // A command that fails when the table or its chain is gone.
    std::string ListCommands() const;
    // The commands that add one entry to the installed table; empty when the set already
    // covers it or the entry is not enforced. Add() then records it.
    std::string AddCommands(const DenyEntry& entry, int64_t now = 0) const;
    void Add(const DenyEntry& entry);

    // Whether the rules drop what the entry matches.
    bool Covers(const DenyMatch& match, int64_t now = 0) const;
    // Whether the rules drop a datagram between these addresses (a destination of 0.0.0.0
    // stands for the filter address).
    bool Drops(Ipv4Address source, Ipv4Address destination, int64_t now = 0) const;

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
