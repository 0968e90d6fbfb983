// SPDX-License-Identifier: MIT
#include "access/deny_ruleset.h"

#include "access/parse_address.h"
#include "base/ipv4_text.h"

#include <algorithm>
#include <bit>
#include <optional>

namespace {

constexpr std::string_view kTable = R"("family":"inet","table":"zpmoni_filter")";
constexpr std::string_view kSetName = "deny";

// The entry's source match in host order, the address cut to its mask.
DenyRuleset::MaskedRule SourceOf(const DenyEntry& e)
{
    const uint32_t mask = HostOrder(ParseAddress(e.mask));
    return {HostOrder(ParseAddress(e.address)) & mask, mask};
}

// The range of addresses a prefix mask covers; nothing for another mask.
std::optional<DenyRuleset::Block> BlockOf(const DenyRuleset::MaskedRule& source)
{
    if (!IsPrefixMask(source.mask))
        return std::nullopt;
    return DenyRuleset::Block{source.address, source.address | ~source.mask};
}

void AppendDotted(std::string& out, uint32_t a)
{
    out += '"' + FormatDottedQuad(a) + '"';
}

void AppendElement(std::string& out, const DenyRuleset::Block& b)
{
    if (b.first == b.last) {
        AppendDotted(out, b.first);
        return;
    }
    out += R"({"prefix":{"addr":)";
    AppendDotted(out, b.first);
    out += R"(,"len":)" + std::to_string(32 - std::popcount(b.last - b.first)) + "}}";
}

// One command on the set's elements: "add" or "delete".
void AppendElements(std::string& out, std::string_view verb, const std::vector<DenyRuleset::Block>& elements)
{
    out += "{\"";
    out += verb;
    out += R"(":{"element":{)";
    out += kTable;
    out += R"(,"name":")";
    out += kSetName;
    out += R"(","elem":[)";
    for (size_t i = 0; i < elements.size(); ++i) {
        if (i)
            out += ',';
        AppendElement(out, elements[i]);
    }
    out += "]}}},";
}

void AppendPayloadMatch(std::string& out, std::string_view field, std::string_view right)
{
    out += R"({"match":{"op":"==","left":{"payload":{"protocol":"ip","field":")";
    out += field;
    out += R"("}},"right":)";
    out += right;
    out += "}},";
}

// A rule of the input chain: to the filter address, `match` on the source, dropped.
void AppendRule(std::string& out, uint32_t filter, const std::string& match)
{
    std::string to;
    AppendDotted(to, filter);
    out += R"({"add":{"rule":{)";
    out += kTable;
    out += R"(,"chain":"input","expr":[)";
    AppendPayloadMatch(out, "daddr", to);
    out += match;
    out += R"({"drop":null}]}}},)";
}

void AppendMaskedRule(std::string& out, uint32_t filter, const DenyRuleset::MaskedRule& r)
{
    std::string match = R"({"match":{"op":"==","left":{"&":[{"payload":{"protocol":"ip","field":"saddr"}},)";
    AppendDotted(match, r.mask);
    match += R"(]},"right":)";
    AppendDotted(match, r.address);
    match += "}},";
    AppendRule(out, filter, match);
}

void AppendTable(std::string& out, std::string_view verb)
{
    out += "{\"";
    out += verb;
    out += R"(":{"table":{"family":"inet","name":"zpmoni_filter"}}},)";
}

// The commands between the braces of a batch; the last one's comma goes.
std::string Batch(std::string commands)
{
    if (!commands.empty() && commands.back() == ',')
        commands.pop_back();
    return R"({"nftables":[)" + commands + "]}";
}

}  // namespace

DenyRuleset::DenyRuleset(uint32_t filterAddress, const DenyList& list) : filter(HostOrder(filterAddress))
{
    std::vector<Block> all;
    for (const DenyEntry& e : list) {
        const MaskedRule source = SourceOf(e);
        if (std::optional<Block> b = BlockOf(source))
            all.push_back(*b);
        else
            rules.push_back(source);
    }
    // Widest first among blocks that start together, so the sweep keeps the outer one.
    std::sort(all.begin(), all.end(), [](const Block& a, const Block& b) {
        return a.first != b.first ? a.first < b.first : a.last > b.last;
    });
    for (const Block& b : all) {
        if (blocks.empty() || b.first > blocks.back().last)
            blocks.push_back(b);
    }
}

std::string DenyRuleset::InstallCommands() const
{
    std::string out;
    AppendTable(out, "add");
    AppendTable(out, "delete");
    AppendTable(out, "add");
    out += R"({"add":{"chain":{)";
    out += kTable;
    out += R"(,"name":"input","type":"filter","hook":"input","prio":0,"policy":"accept"}}},)";
    out += R"({"add":{"set":{)";
    out += kTable;
    out += R"(,"name":")";
    out += kSetName;
    out += R"(","type":"ipv4_addr","flags":["interval"]}}},)";
    if (!blocks.empty())
        AppendElements(out, "add", blocks);
    std::string inSet;
    AppendPayloadMatch(inSet, "saddr", "\"@" + std::string(kSetName) + "\"");
    AppendRule(out, filter, inSet);
    for (const MaskedRule& r : rules)
        AppendMaskedRule(out, filter, r);
    return Batch(std::move(out));
}

std::string DenyRuleset::RemoveCommands()
{
    std::string out;
    AppendTable(out, "add");
    AppendTable(out, "delete");
    return Batch(std::move(out));
}

DenyRuleset::Placement DenyRuleset::Place(const DenyEntry& entry) const
{
    const MaskedRule source = SourceOf(entry);
    Placement p{BlockOf(source), source};
    if (!p.block)
        return p;
    // The first block that does not end before the new one: either it covers the new one, or
    // the new one takes the place of every block inside it (the set refuses overlaps).
    const auto at = std::lower_bound(blocks.begin(), blocks.end(), p.block->first,
                                     [](const Block& b, uint32_t first) { return b.last < first; });
    p.from = p.to = static_cast<size_t>(at - blocks.begin());
    p.covered = at != blocks.end() && at->first <= p.block->first && at->last >= p.block->last;
    while (!p.covered && p.to < blocks.size() && blocks[p.to].last <= p.block->last)
        ++p.to;
    return p;
}

std::string DenyRuleset::AddCommands(const DenyEntry& entry) const
{
    const Placement p = Place(entry);
    std::string out;
    if (!p.block) {
        AppendMaskedRule(out, filter, p.rule);
        return Batch(std::move(out));
    }
    if (p.covered)
        return {};
    if (p.to > p.from)
        AppendElements(out, "delete", {blocks.begin() + p.from, blocks.begin() + p.to});
    AppendElements(out, "add", {*p.block});
    return Batch(std::move(out));
}

void DenyRuleset::Add(const DenyEntry& entry)
{
    const Placement p = Place(entry);
    if (!p.block)
        rules.push_back(p.rule);
    else if (!p.covered)
        blocks.insert(blocks.erase(blocks.begin() + p.from, blocks.begin() + p.to), *p.block);
}
