// SPDX-License-Identifier: MIT
#include "access/access_service.h"

#include "access/deny_file.h"
#include "base/text_escape.h"

#include <algorithm>

namespace zpmoni {

namespace {

std::string EntryText(const DenyEntry& e)
{
    return Escaped(e.address + " " + e.mask + (e.comment.empty() ? "" : " " + e.comment));
}

// Which rules the kernel holds, for the error log after a change that failed.
std::string InForceLine(const PacketFilter& filter)
{
    const DenyRuleset& held = filter.InForce();
    if (filter.Leftover())
        return "Deny rules in force: those an earlier monitor of this folder left";
    if (held.Table().empty())
        return "Deny rules in force: none";
    return "Deny rules in force: the previous list (" + std::to_string(held.Blocks().size()) + " blocks, " +
           std::to_string(held.Rules().size()) + " masked rules)";
}

std::string NftablesLine(const Status& refused)
{
    return "nftables refused the deny rules: " + Escaped(refused.error());
}

}  // namespace

AccessService::AccessService(std::string folder, const std::string& tableFolder, Links l)
    : path(std::move(folder) + "/ipfilter.txt"), links(std::move(l))
{
    filter.SetFolder(tableFolder);
    filter.SetClock(links.now);
}

void AccessService::Log(std::string_view line) const
{
    if (links.errorLog)
        links.errorLog(line);
}

Status AccessService::Load()
{
    Status read = deny_file::Load(path, denyList);
    if (!read)
        Log(read.error());
    // Ended while no monitor ran: told now, gone from the file at the next write.
    (void)Expire();
    ReportEntries();
    return read;
}

void AccessService::ReportEntries() const
{
    for (const DenyEntry& e : denyList) {
        const DenyMatch m = MatchOf(e);
        if (m.kind == DenyMatch::BadAddress)
            Log("Deny entry not enforced, address is not a dotted quad: " + EntryText(e));
        else if (m.kind == DenyMatch::BadMask)
            Log("Deny entry not enforced, mask is not a dotted quad: " + EntryText(e));
        else if (m.Wide())
            Log("Deny entry drops the wide block " + m.Text() + ": " + EntryText(e));
    }
}

Status AccessService::Save()
{
    // A folder that is no longer ours has said so once already; nothing is written there.
    if (links.mayWrite && !links.mayWrite())
        return Failure{"Cannot write " + Escaped(path) + ": the working folder was replaced"};
    if (Expire() > 0)
        (void)Install();
    Status written = deny_file::Save(path, denyList, links.sync);
    if (!written && !saveFailing)
        Log(written.error());
    saveFailing = !written;
    return written;
}

Status AccessService::Install()
{
    const FilterTarget target = links.filterTarget ? links.filterTarget() : FilterTarget{};
    if (target.address.IsAny() && !denyList.empty())
        Log("Interface number " + std::to_string(target.interfaceNumber) +
            " gives no IPv4 address but loopback: deny rules guard every local address");
    filterMissing = false;
    // One transaction for the whole list: when it fails, the rules held before stay.
    Status installed = filter.Install(target.address, denyList);
    if (!installed) {
        for (size_t i = 0; i < denyList.size(); ++i)
            Log("Cannnot add filter");
        Log(NftablesLine(installed));
        Log(InForceLine(filter));
    }
    return installed;
}

Status AccessService::CheckMinute()
{
    Result<PacketFilter::Check> check = filter.Verify();
    if (!check) {
        if (!filterMissing)
            Log("Deny rules are gone from nftables and cannot be put back: " + Escaped(check.error()));
        filterMissing = true;
        return Failure{check.error()};
    }
    if (*check == PacketFilter::Check::Restored && !filterMissing)
        Log("Deny rules were gone from nftables and have been put back");
    filterMissing = false;
    if (Expire() > 0) {
        (void)Install();
        return Save();
    }
    return {};
}

Status AccessService::RemoveAll()
{
    const bool held = !filter.InForce().Table().empty() || filter.Leftover();
    Status removed = filter.Remove();
    denyList.clear();
    // Nothing in force, nothing to take off: a filter that never worked is not told again.
    if (!removed && held)
        Log("Cannot remove deny rules from nftables: " + Escaped(removed.error()));
    return held ? removed : Status{};
}

Status AccessService::AddRule(DenyEntry entry)
{
    const DenyMatch m = MatchOf(entry);
    (void)CheckMinute();
    if (m.kind != DenyMatch::Enforced) {
        Log("Cannnot add filter");
        return Failure{"Not a dotted IPv4 address: " + Escaped(entry.address)};
    }
    if (Status added = filter.Add(entry); !added) {
        Log("Cannnot add filter");
        Log(NftablesLine(added));
        return added;
    }
    denyList.push_back(std::move(entry));
    if (links.banned)
        links.banned();
    return {};
}

Status AccessService::Ban(std::string_view who, const std::string& address, const std::string& comment)
{
    // Taken as written to the file: up to a line break, and never as terms (a crafted user name
    // could otherwise end its own ban).
    Status ban = AddRule({address, "255.255.255.255",
                          deny_file::FormatComment({comment.substr(0, comment.find_first_of("\r\n"))})});
    // Written whether the ban went in force or not, as the list stands now.
    Status saved = Save();
    if (links.actionLog)
        links.actionLog(who, ban ? "deny" : "deny failed", address, comment);
    if (!ban)
        return ban;
    if (!saved)
        return Failure{"Banned until the monitor stops, not kept: " + saved.error()};
    return {};
}

size_t AccessService::Expire()
{
    const int64_t now = Now();
    size_t expired = 0;
    for (auto e = denyList.begin(); e != denyList.end();) {
        const deny_file::BanTerms terms = deny_file::ParseComment(e->comment);
        if (now == 0 || terms.until == 0 || terms.until > now) {
            ++e;
            continue;
        }
        const std::string block = MatchOf(*e).kind == DenyMatch::Enforced ? MatchOf(*e).Text() : e->address;
        if (links.dailyLog)
            links.dailyLog("Ban expired: " + Escaped(block) +
                           (terms.reason.empty() ? "" : " (" + Escaped(terms.reason) + ")"));
        if (links.actionLog)
            links.actionLog("monitor", "expired", e->address, e->comment);
        e = denyList.erase(e);
        ++expired;
    }
    return expired;
}

Status AccessService::Ban(std::string_view who, const std::string& address, const std::string& mask,
                          const std::string& reason, std::chrono::seconds duration)
{
    const int64_t now = Now();
    DenyEntry entry{address, mask.empty() ? "255.255.255.255" : mask, {}};
    (void)ReadBlockNotation(entry);
    entry.comment = deny_file::FormatComment(
        {reason, std::string(who), now, duration.count() > 0 && now > 0 ? now + duration.count() : 0});
    if (duration.count() > 0 && now == 0)
        return Failure{"No clock to end the ban by"};
    Status ban = AddRule(entry);
    Status saved = Save();
    if (links.actionLog)
        links.actionLog(who, ban ? "deny" : "deny failed", address, entry.comment);
    if (!ban)
        return ban;
    if (!saved)
        return Failure{"Banned until the monitor stops, not kept: " + saved.error()};
    return {};
}

Result<size_t> AccessService::BanName(std::string_view who, std::string_view name, int days,
                                      const std::string& reason, std::chrono::seconds duration)
{
    if (!links.addressesOfName)
        return Failure{"No player history to find the addresses of " + Escaped(name) + " in"};
    size_t banned = 0;
    for (const Ipv4Address a : links.addressesOfName(name, days))
        banned += Ban(who, a.ToString(), {}, reason.empty() ? std::string(name) : reason, duration).ok();
    return banned;
}

Result<size_t> AccessService::Unban(std::string_view who, const std::string& address)
{
    DenyEntry asked{address, "255.255.255.255", {}};
    (void)ReadBlockNotation(asked);
    const DenyMatch host = MatchOf(asked);
    const auto same = [&](const DenyEntry& e) {
        const DenyMatch m = MatchOf(e);
        return host.kind == DenyMatch::Enforced ? m.kind == DenyMatch::Enforced && m.address == host.address &&
                                                      m.mask == host.mask
                                                : e.address == address;
    };
    DenyList before = denyList;
    const size_t removed = std::erase_if(denyList, same);
    if (removed == 0)
        return Failure{"Not in the deny list: " + Escaped(address)};
    Status installed = Install();
    if (links.actionLog)
        links.actionLog(who, installed ? "unban" : "unban failed", address, {});
    if (!installed) {
        // The rules held before stay, the ban among them: the list keeps saying so.
        denyList = std::move(before);
        return Failure{installed.error()};
    }
    if (Status saved = Save(); !saved)
        return Failure{saved.error()};
    return removed;
}

AccessSummary AccessService::Summary() const
{
    const DenyRuleset& held = filter.InForce();
    return {denyList.size(), held.Blocks().size(), held.Rules().size(), filter.Installed(), filter.Leftover(),
            saveFailing};
}

bool AccessService::Denied(Ipv4Address source, Ipv4Address destination) const
{
    return filter.InForce().Drops(source, destination, Now()) && !(links.isLocal && links.isLocal(source));
}

}  // namespace zpmoni
