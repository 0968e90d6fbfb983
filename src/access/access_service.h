// SPDX-License-Identifier: MIT
#pragma once

#include "access/deny_entry.h"
#include "access/deny_ruleset.h"
#include "access/packet_filter.h"
#include "base/ipv4_address.h"
#include "base/regular_file.h"
#include "base/result.h"

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zpmoni {

// Where the rules go: the interface the settings name and the address it has now.
struct FilterTarget {
    int interfaceNumber = 0;
    Ipv4Address address;  // 0.0.0.0 when it has none but loopback: every local address
};

// What the access service holds, for a status display.
struct AccessSummary {
    size_t entries = 0;      // in the deny list
    size_t blocks = 0;       // in force as one set
    size_t maskedRules = 0;  // in force as rules of their own
    bool installed = false;  // the kernel holds what the list asks
    bool leftover = false;   // only the table an earlier monitor of the folder left is in force
    bool fileFailing = false;  // the last write of ipfilter.txt failed
};

// Who may reach the server: the deny list, its file ipfilter.txt in the working folder, and the
// rules the kernel enforces for it. Every operation an operator performs is one method; what
// fails reaches the error log with its cause, and the result says it again to the caller.
class AccessService {
public:
    // What the service needs of the rest of the program, and nothing more.
    struct Links {
        std::function<void(std::string_view line)> errorLog;
        std::function<void(std::string_view who, std::string_view action, std::string_view target,
                           std::string_view comment)> actionLog;
        std::function<FilterTarget()> filterTarget;
        // The machine's own addresses, which no rule drops.
        std::function<bool(Ipv4Address)> isLocal;
        // False once the working folder is no longer ours (that is reported elsewhere).
        std::function<bool()> mayWrite;
        // After a ban is in force: the players it covers leave the table.
        std::function<void()> banned;
        // Seconds since 1970, for when a ban was made and when it ends; without it no ban ends.
        std::function<int64_t()> now;
        // The daily log, which tells of each ban that ended.
        std::function<void(std::string_view line)> dailyLog;
        // The addresses the player history has seen a user name use in the last `days` days;
        // without it a name cannot be banned.
        std::function<std::vector<Ipv4Address>(std::string_view name, int days)> addressesOfName;
        FileSync sync;
    };

    // `folder`: where ipfilter.txt lives; `tableFolder`: the name the rules' table is made from.
    AccessService(std::string folder, const std::string& tableFolder, Links links);
    AccessService(const AccessService&) = delete;
    AccessService& operator=(const AccessService&) = delete;

    // Empties the list and reads ipfilter.txt; names in the error log a file that cannot be
    // read, each entry that is not enforced (no dotted quad) and each wide block (the page asks
    // before it adds one). A missing file is an empty list.
    Status Load();
    // Writes the list to ipfilter.txt, without the bans that have ended (see CheckMinute). A file that cannot be written is told in the error log
    // once, and not again until a write succeeds.
    Status Save();
    // Replaces whatever the packet filter holds with the list's rules; when they cannot be put
    // in force, the error log gets "Cannnot add filter" per entry, nftables' message and which
    // rules are in force.
    Status Install();
    // The minute's check: a table that is gone is put back; told once until it is back. Bans
    // that have ended leave the list and the file, each with a daily-log line ("Ban expired: "
    // and the block) and an action-log line ("expired"); the kernel took their rules away on
    // time already, the list is put in again only to drop what it cannot time itself.
    Status CheckMinute();
    // Takes every rule off and empties the list (the file stays as last saved).
    Status RemoveAll();

    // Bans one address at once and writes the file; the entry joins the list only if its rule
    // is in force. `who` names the operator's place in the action log ("window").
    Status Ban(std::string_view who, const std::string& address, const std::string& comment);
    // A ban with its terms in the comment (see deny_file::BanTerms): who, now, and the end
    // `duration` from now (none for zero). `address` may be a block "a.b.c.d/N"; `mask` dotted,
    // "/N" or empty for one host.
    Status Ban(std::string_view who, const std::string& address, const std::string& mask, const std::string& reason,
               std::chrono::seconds duration);
    // Every address the player history has seen `name` use in the last `days` days, banned as
    // one host each with the same terms; how many went in force.
    Result<size_t> BanName(std::string_view who, std::string_view name, int days, const std::string& reason,
                           std::chrono::seconds duration);
    // Takes every entry of the address (as one host, or the block "a.b.c.d/N") off the list, puts the rest in force and
    // writes the file; how many entries went. When the rest cannot be put in force, the list
    // stays as it was, as the rules do.
    Result<size_t> Unban(std::string_view who, const std::string& address);

    // The list the next Install puts in force (the settings sheet's confirmed copy).
    void SetList(DenyList list) { denyList = std::move(list); }
    const DenyList& List() const { return denyList; }
    // What the kernel holds as far as this program knows.
    const DenyRuleset& InForce() const { return filter.InForce(); }
    AccessSummary Summary() const;
    // Whether the rules in force drop a datagram between these addresses (a destination of
    // 0.0.0.0 for the filter address); never one from the machine itself.
    bool Denied(Ipv4Address source, Ipv4Address destination) const;

private:
    // Adds the entry's rule; "Cannnot add filter" (and nftables' message) when it cannot.
    Status AddRule(DenyEntry entry);
    void Log(std::string_view line) const;
    void ReportEntries() const;
    int64_t Now() const { return links.now ? links.now() : 0; }
    // Takes the bans that have ended off the list, each told; how many.
    size_t Expire();

    const std::string path;
    Links links;
    DenyList denyList;
    PacketFilter filter;
    bool filterMissing = false;  // the table was found gone and is not back yet
    bool saveFailing = false;    // the last write failed and was told
};

}  // namespace zpmoni
