// SPDX-License-Identifier: MIT
#pragma once

#include "access/deny_entry.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the program's own nftables table (inet zpmoni_filter) holds to enforce a deny list,
// and the commands, in libnftables' JSON form, that put it there. Every entry drops all IPv4
// traffic from (address AND mask)/mask to the filter address. Entries whose mask is a prefix
// become elements of one interval set (one lookup however long the list); any other mask
// becomes a rule of its own. The commands are built from parsed 32-bit values only: no text of
// an entry, and so no comment, ever reaches nftables.
class DenyRuleset {
public:
    // Addresses in host byte order (first part in the most significant byte).
    struct Block {
        uint32_t first;
        uint32_t last;
    };
    struct MaskedRule {
        uint32_t address;  // already masked
        uint32_t mask;
    };

    DenyRuleset() = default;
    // filterAddress in network byte order, as the local address table holds it.
    DenyRuleset(uint32_t filterAddress, const DenyList& list);

    // One transaction that replaces the table, one left behind by an earlier run included,
    // with this rule set.
    std::string InstallCommands() const;
    // One transaction that deletes the table, whether it exists or not.
    static std::string RemoveCommands();
    // The commands that add one entry to the installed table; empty when the set already
    // covers it. Add() then records it.
    std::string AddCommands(const DenyEntry& entry) const;
    void Add(const DenyEntry& entry);

    // Disjoint, in ascending order: a block inside another is left out.
    const std::vector<Block>& Blocks() const { return blocks; }
    const std::vector<MaskedRule>& Rules() const { return rules; }

private:
    // Where an entry goes: a rule, or a block that is already covered or replaces the blocks
    // [from, to) that lie inside it.
    struct Placement {
        std::optional<Block> block;
        MaskedRule rule;
        bool covered = false;
        size_t from = 0;
        size_t to = 0;
    };
    Placement Place(const DenyEntry& entry) const;

    uint32_t filter = 0;
    std::vector<Block> blocks;
    std::vector<MaskedRule> rules;
};
