// SPDX-License-Identifier: MIT
#include "access/deny_ruleset.h"

#include "access/deny_file.h"

#include <algorithm>
#include <bit>
#include <iterator>
#include <optional>

namespace zpmoni {

namespace {

constexpr std::string_view kSetName = "deny";

bool Lapsed(int64_t until, int64_t now)
{
    return until != 0 && now != 0 && until <= now;
}

// The later of two ends, never (0) the latest.
int64_t Longer(int64_t a, int64_t b)
{
    return a == 0 || b == 0 ? 0 : std::max(a, b);
}

// The range of addresses a prefix mask covers; nothing for another mask.
std::optional<DenyRuleset::Block> BlockOf(const DenyMatch& m)
{
    if (m.kind != DenyMatch::Enforced || !m.mask.IsPrefixMask())
        return std::nullopt;
    return DenyRuleset::Block{m.address, Ipv4Address(m.address.HostOrder() | ~m.mask.HostOrder()), m.until};
}

void AppendDotted(std::string& out, Ipv4Address a)
{
    out += '"' + a.ToString() + '"';
}

void AppendPrefix(std::string& out, Ipv4Address first, int length)
{
    out += R"({"prefix":{"addr":)";
    AppendDotted(out, first);
    out += R"(,"len":)" + std::to_string(length) + "}}";
}

// With its timeout when it has an end and `now` is given (an element to delete has none).
void AppendElement(std::string& out, const DenyRuleset::Block& b, int64_t now)
{
    const bool timed = b.until != 0 && now != 0;
    if (timed)
        out += R"({"elem":{"val":)";
    if (b.first == b.last)
        AppendDotted(out, b.first);
    else
        AppendPrefix(out, b.first, 32 - std::popcount(b.last.HostOrder() - b.first.HostOrder()));
    if (timed)
        out += R"(,"timeout":)" + std::to_string(std::max<int64_t>(1, b.until - now)) + "}}";
}

// `"family":"inet","table":"<name>"`: the name is "zpmoni_" and hex digits only.
std::string TableRef(const std::string& table)
{
    return R"("family":"inet","table":")" + table + '"';
}

// One command on the set's elements: "add" or "delete".
void AppendElements(std::string& out, const std::string& table, std::string_view verb,
                    const std::vector<DenyRuleset::Block>& elements, int64_t now = 0)
{
    out += "{\"";
    out += verb;
    out += R"(":{"element":{)" + TableRef(table) + R"(,"name":")";
    out += kSetName;
    out += R"(","elem":[)";
    for (size_t i = 0; i < elements.size(); ++i) {
        if (i)
            out += ',';
        AppendElement(out, elements[i], now);
    }
    out += "]}}},";
}

std::string PayloadMatch(std::string_view field, std::string_view right)
{
    std::string out = R"({"match":{"op":"==","left":{"payload":{"protocol":"ip","field":")";
    out += field;
    out += R"("}},"right":)";
    out += right;
    out += "}},";
    return out;
}

// A rule of the input chain: `match`, then `verdict`, to the filter address when there is one.
void AppendRule(std::string& out, const std::string& table, Ipv4Address filter, const std::string& match,
                std::string_view verdict = "drop")
{
    out += R"({"add":{"rule":{)" + TableRef(table) + R"(,"chain":"input","expr":[)";
    if (!filter.IsAny()) {
        std::string to;
        AppendDotted(to, filter);
        out += PayloadMatch("daddr", to);
    }
    out += match;
    out += "{\"";
    out += verdict;
    out += R"(":null}]}}},)";
}

void AppendMaskedRule(std::string& out, const std::string& table, Ipv4Address filter, const DenyRuleset::MaskedRule& r)
{
    std::string match = R"({"match":{"op":"==","left":{"&":[{"payload":{"protocol":"ip","field":"saddr"}},)";
    AppendDotted(match, r.mask);
    match += R"(]},"right":)";
    AppendDotted(match, r.address);
    match += "}},";
    AppendRule(out, table, filter, match);
}

void AppendTable(std::string& out, const std::string& table, std::string_view verb)
{
    out += "{\"";
    out += verb;
    out += R"(":{"table":{"family":"inet","name":")" + table + R"("}}},)";
}

// The commands between the braces of a batch; the last one's comma goes.
std::string Batch(std::string commands)
{
    if (!commands.empty() && commands.back() == ',')
        commands.pop_back();
    return R"({"nftables":[)" + commands + "]}";
}

}  // namespace

bool DenyMatch::Wide() const
{
    return kind == Enforced && mask.OneBits() < 8;
}

std::string DenyMatch::Text() const
{
    if (kind != Enforced)
        return {};
    return address.ToString() + "/" + (mask.IsPrefixMask() ? std::to_string(mask.OneBits()) : mask.ToString());
}

DenyMatch MatchOf(const DenyEntry& e)
{
    // Leading zeros are read as decimal, as the file has always meant them; any text that is no
    // dotted quad is not enforced, so that a typo never turns into a block nobody asked for.
    constexpr auto kZeros = Ipv4Address::LeadingZeros::Decimal;
    const std::optional<Ipv4Address> address = Ipv4Address::Parse(e.address, kZeros);
    if (!address)
        return {};
    const std::optional<Ipv4Address> mask = Ipv4Address::Parse(e.mask, kZeros);
    if (!mask)
        return {DenyMatch::BadMask, *address, {}};
    return {DenyMatch::Enforced, Ipv4Address(address->HostOrder() & mask->HostOrder()), *mask,
            deny_file::ParseComment(e.comment).until};
}

bool ReadBlockNotation(DenyEntry& e)
{
    const size_t slash = e.address.find('/');
    const bool inAddress = slash != std::string::npos;
    if (inAddress ? !(e.mask.empty() || e.mask == "255.255.255.255") : !e.mask.starts_with('/'))
        return false;
    const std::string_view prefix = inAddress ? std::string_view(e.address).substr(slash + 1)
                                              : std::string_view(e.mask).substr(1);
    if (prefix.empty() || prefix.size() > 2 || (prefix.size() == 2 && prefix[0] == '0') ||
        !std::all_of(prefix.begin(), prefix.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const int length = std::stoi(std::string(prefix));
    const std::optional<Ipv4Address> address =
        Ipv4Address::Parse(std::string_view(e.address).substr(0, slash), Ipv4Address::LeadingZeros::Decimal);
    if (length > 32 || !address)
        return false;
    const Ipv4Address mask(length == 0 ? 0 : ~uint32_t{0} << (32 - length));
    if ((address->HostOrder() & ~mask.HostOrder()) != 0)
        return false;
    e.address = address->ToString();
    e.mask = mask.ToString();
    return true;
}

std::string DenyRuleset::TableFor(std::string_view folder)
{
    // FNV-1a, 48 bits shown: a name that stays the same for a folder from run to run.
    uint64_t hash = 14695981039346656037ull;
    for (char c : folder) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name = "zpmoni_";
    for (int shift = 44; shift >= 0; shift -= 4)
        name += kHex[hash >> shift & 0xF];
    return name;
}

DenyRuleset::DenyRuleset(std::string tableName, Ipv4Address filterAddress, const DenyList& list, int64_t now)
    : table(std::move(tableName)), filter(filterAddress)
{
    std::vector<Block> all;
    for (const DenyEntry& e : list) {
        const DenyMatch m = MatchOf(e);
        if (m.kind != DenyMatch::Enforced || Lapsed(m.until, now))
            continue;
        if (std::optional<Block> b = BlockOf(m))
            all.push_back(*b);
        else
            rules.push_back({m.address, m.mask, m.until});
    }
    // Widest first among blocks that start together, so the sweep keeps the outer one.
    std::sort(all.begin(), all.end(), [](const Block& a, const Block& b) {
        return a.first != b.first ? a.first < b.first : a.last > b.last;
    });
    for (const Block& b : all) {
        if (blocks.empty() || b.first > blocks.back().last)
            blocks.push_back(b);
        else
            blocks.back().until = Longer(blocks.back().until, b.until);
    }
}

std::string DenyRuleset::InstallCommands(int64_t now, bool newSet) const
{
    std::string out;
    AppendTable(out, table, "add");
    // Emptied, not deleted: the table keeps the comment that names its folder.
    AppendTable(out, table, "flush");
    if (newSet)
        out += R"({"delete":{"set":{)" + TableRef(table) + R"(,"name":")" + std::string(kSetName) + R"("}}},)";
    out += R"({"add":{"chain":{)" + TableRef(table);
    out += R"(,"name":"input","type":"filter","hook":"input","prio":0,"policy":"accept"}}},)";
    out += R"({"add":{"set":{)" + TableRef(table) + R"(,"name":")";
    out += kSetName;
    out += R"(","type":"ipv4_addr","flags":["interval","timeout"]}}},)";
    out += R"({"flush":{"set":{)" + TableRef(table) + R"(,"name":")";
    out += kSetName;
    out += R"("}}},)";
    std::vector<Block> live;
    std::copy_if(blocks.begin(), blocks.end(), std::back_inserter(live),
                 [now](const Block& b) { return !Lapsed(b.until, now); });
    if (!live.empty())
        AppendElements(out, table, "add", live, now);
    // The machine's own traffic first: a ban of its own subnet must not cut its SSH session or
    // the monitor's own client.
    out += R"({"add":{"rule":{)" + TableRef(table) +
           R"(,"chain":"input","expr":[{"match":{"op":"==","left":{"fib":{"result":"type","flags":["saddr"]}},)"
           R"("right":"local"}},{"accept":null}]}}},)";
    std::string loopback;
    AppendPrefix(loopback, Ipv4Address(0x7F000000), 8);
    AppendRule(out, table, {}, PayloadMatch("saddr", loopback), "accept");
    AppendRule(out, table, filter, PayloadMatch("saddr", "\"@" + std::string(kSetName) + "\""));
    for (const MaskedRule& r : rules) {
        if (!Lapsed(r.until, now))
            AppendMaskedRule(out, table, filter, r);
    }
    return Batch(std::move(out));
}

std::string DenyRuleset::RemoveCommands() const
{
    std::string out;
    AppendTable(out, table, "add");
    AppendTable(out, table, "delete");
    return Batch(std::move(out));
}

std::string DenyRuleset::ListCommands() const
{
    return Batch(R"({"list":{"chain":{)" + TableRef(table) + R"(,"name":"input"}}})");
}

DenyRuleset::Placement DenyRuleset::Place(const DenyEntry& entry) const
{
    const DenyMatch m = MatchOf(entry);
    Placement p{m.kind == DenyMatch::Enforced, BlockOf(m), {m.address, m.mask, m.until}};
    if (!p.block)
        return p;
    // The first block that does not end before the new one: either it covers the new one, or
    // the new one takes the place of every block inside it (the set refuses overlaps).
    const auto at = std::lower_bound(blocks.begin(), blocks.end(), p.block->first,
                                     [](const Block& b, Ipv4Address first) { return b.last < first; });
    p.from = p.to = static_cast<size_t>(at - blocks.begin());
    if (at != blocks.end() && at->first <= p.block->first && at->last >= p.block->last) {
        // Inside a block that ends no sooner: nothing to do; else that block lives longer.
        p.covered = Longer(at->until, p.block->until) == at->until;
        p.block = Block{at->first, at->last, p.block->until};
        ++p.to;
        return p;
    }
    while (p.to < blocks.size() && blocks[p.to].last <= p.block->last)
        p.block->until = Longer(p.block->until, blocks[p.to++].until);
    return p;
}

std::string DenyRuleset::AddCommands(const DenyEntry& entry, int64_t now) const
{
    const Placement p = Place(entry);
    std::string out;
    if (!p.enforced || p.covered)
        return {};
    if (!p.block) {
        AppendMaskedRule(out, table, filter, p.rule);
        return Batch(std::move(out));
    }
    if (p.to > p.from)
        AppendElements(out, table, "delete", {blocks.begin() + p.from, blocks.begin() + p.to});
    AppendElements(out, table, "add", {*p.block}, now);
    return Batch(std::move(out));
}

void DenyRuleset::Add(const DenyEntry& entry)
{
    const Placement p = Place(entry);
    if (!p.enforced || p.covered)
        return;
    if (!p.block)
        rules.push_back(p.rule);
    else
        blocks.insert(blocks.erase(blocks.begin() + p.from, blocks.begin() + p.to), *p.block);
}

bool DenyRuleset::Covers(const DenyMatch& m, int64_t now) const
{
    if (m.kind != DenyMatch::Enforced)
        return false;
    if (const std::optional<Block> b = BlockOf(m)) {
        const auto at = std::upper_bound(blocks.begin(), blocks.end(), b->first,
                                         [](Ipv4Address first, const Block& x) { return first < x.first; });
        return at != blocks.begin() && std::prev(at)->last >= b->last && !Lapsed(std::prev(at)->until, now);
    }
    return std::any_of(rules.begin(), rules.end(), [&](const MaskedRule& r) {
        return r.address == m.address && r.mask == m.mask && !Lapsed(r.until, now);
    });
}

bool DenyRuleset::Drops(Ipv4Address source, Ipv4Address destination, int64_t now) const
{
    if ((!filter.IsAny() && !destination.IsAny() && destination != filter) || source.IsLoopback())
        return false;
    return Covers({DenyMatch::Enforced, source, Ipv4Address(0xFFFFFFFF)}, now) ||
           std::any_of(rules.begin(), rules.end(), [&](const MaskedRule& r) {
               return Ipv4Address(source.HostOrder() & r.mask.HostOrder()) == r.address && !Lapsed(r.until, now);
           });
}

}  // namespace zpmoni
