// SPDX-License-Identifier: MIT
#pragma once

#include "access/deny_entry.h"
#include "access/deny_ruleset.h"

#include <cstdint>
#include <string>

// The deny list enforced by the kernel: the program's own nftables table, changed through
// libnftables with JSON commands only. Every change is one transaction, so the rules never
// lapse while they are replaced. Needs CAP_NET_ADMIN; without it every change fails and the
// kernel keeps what it had.
class CPacketFilter {
public:
    CPacketFilter() = default;
    ~CPacketFilter();
    CPacketFilter(const CPacketFilter&) = delete;
    CPacketFilter& operator=(const CPacketFilter&) = delete;

    // Replaces the table (also one a monitor that died left behind) with the rules of `list`
    // on the filter address (network byte order). False when nftables refused.
    bool Install(uint32_t filterAddress, const DenyList& list);
    // One entry more, at once. When the table is missing (an install failed, someone flushed
    // the rule set) the whole rule set is put back with it.
    bool Add(const DenyEntry& entry);
    // Deletes the table.
    void Remove();

    bool Installed() const { return installed; }
    // nftables' message for the last failure.
    const std::string& LastError() const { return lastError; }

private:
    bool Run(const std::string& commands);

    DenyRuleset wanted;      // what should be in force
    bool installed = false;  // the kernel holds `wanted`
    std::string lastError;
};
