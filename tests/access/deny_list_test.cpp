// SPDX-License-Identifier: MIT
#include "access/deny_file.h"
#include "access/deny_ruleset.h"
#include "base/ipv4_address.h"

#include "support/temp_folder.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

using namespace zpmoni;

namespace {

Ipv4Address Address(const char* text) { return Ipv4Address::Parse(text).value(); }

// Read with leading zeros refused (as inet_pton) and as the deny file reads them (decimal), then
// written back; the host-order value and its network-order bytes agree with the text.
TEST(Ipv4Address, ParsesFourDecimalPartsAndNothingElse)
{
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"1.2.3.4", "1.2.3.4", "1.2.3.4"}, {"010.0.0.8", "", "10.0.0.8"}, {"0.0.0.0", "0.0.0.0", "0.0.0.0"},
        {"255.255.255.255", "255.255.255.255", "255.255.255.255"}, {"198.51.100.07", "", "198.51.100.7"},
        {"1.2.3", "", ""}, {"1.2.300.4", "", ""}, {"1.2.3.4.5", "", ""}, {" 1.2.3.4", "", ""}, {"1.2.3.4 ", "", ""},
        {"-1", "", ""}, {"255.255.255.256", "", ""}, {"1..2.3", "", ""}, {"1.2.3.", "", ""}, {"+1.2.3.4", "", ""},
        {"0001.2.3.4", "", ""}, {"", "", ""}, {"1.2.3.4\n", "", ""}, {"0x7f.0.0.1", "", ""}};
    for (const auto& [text, strict, decimal] : cases) {
        const auto read = [&](auto z) {
            return Ipv4Address::Parse(text, z) ? Ipv4Address::Parse(text, z)->ToString() : ""; };
        EXPECT_EQ(read(Ipv4Address::LeadingZeros::Refused), strict) << '"' << text << '"';
        EXPECT_EQ(read(Ipv4Address::LeadingZeros::Decimal), decimal) << '"' << text << '"';
    }
    EXPECT_EQ(Address("198.51.100.2").NetworkOrder(), inet_addr("198.51.100.2"));
    EXPECT_EQ(Ipv4Address::FromNetworkOrder(inet_addr("10.1.2.3")), Address("10.1.2.3"));
    EXPECT_LT(Address("9.255.255.255"), Address("10.0.0.0"));
    for (const auto& [text, number] : std::initializer_list<std::pair<const char*, int>>{
             {"0", 0}, {"7000", 7000}, {"65535", 65535}, {"65536", -1}, {"", -1}, {"+80", -1}, {" 80", -1}})
        EXPECT_EQ(Port::Parse(text) ? Port::Parse(text)->Number() : -1, number) << '"' << text << '"';
}

TEST(DenyFile, ReadsLines)
{
    const std::string longComment(300, 'x');
    const std::pair<std::string, DenyList> cases[] = {
        {"10.0.0.1\n", {{"10.0.0.1", "255.255.255.255", ""}}},
        {"10.0.0.0 255.0.0.0\r\n", {{"10.0.0.0", "255.0.0.0", ""}}},
        {"10.0.0.0 255.0.0.0 office network\r\n", {{"10.0.0.0", "255.0.0.0", "office network"}}},
        {"", {}},
        {"  \t\n\r\n\n", {}},
        {"\t1.2.3.4\t255.0.0.0\t  a \t b \t\r\nbogus mask?", {{"1.2.3.4", "255.0.0.0", "a \t b"}, {"bogus", "mask?", ""}}},
        {"\xEF\xBB\xBF" "10.0.0.1\n\xEF\xBB\xBF", {{"10.0.0.1", "255.255.255.255", ""}, {"\xEF\xBB\xBF", "255.255.255.255", ""}}},
        {"198.51.100.0/24 a  block\n198.51.100.7/24 x y\n", {{"198.51.100.0", "255.255.255.0", "a  block"}, {"198.51.100.7/24", "x", "y"}}},
        {"10.0.0.0 /8 c\n", {{"10.0.0.0", "255.0.0.0", "c"}}},
        {"1.1.1.1 255.255.255.255 " + longComment + " tail\n2.2.2.2",
         {{"1.1.1.1", "255.255.255.255", std::string(255 - 24, 'x')}, {"2.2.2.2", "255.255.255.255", ""}}},
    };
    for (const auto& [content, entries] : cases) {
        SCOPED_TRACE(content);
        TempFolder dir;
        DenyList list = {{"stale", "entry", ""}};
        ASSERT_TRUE(deny_file::Load(dir.Write("ipfilter.txt", content), list));
        EXPECT_EQ(list, entries);
    }
}

TEST(DenyFile, WritesTabSeparatedLinesThatNoCommentCanSplit)
{
    TempFolder dir;
    const DenyList list = {{"10.0.0.0", "255.0.0.0", "office \t network"},
                           {"1.2.3.4", "255.255.255.255", "evil\n0.0.0.0 0.0.0.0 all\r"}, {"5.6.7.8", "255.0.0.0", ""}};
    ASSERT_TRUE(deny_file::Save(dir.File("ipfilter.txt"), list));
    EXPECT_EQ(dir.Read("ipfilter.txt"),
              "10.0.0.0\t255.0.0.0\toffice \t network\n1.2.3.4\t255.255.255.255\tevil\n5.6.7.8\t255.0.0.0\t\n");

    DenyList read = {{"x", "y", "z"}};
    EXPECT_TRUE(deny_file::Load(dir.File("missing.txt"), read));
    EXPECT_TRUE(read.empty());
}

// A block's first address and a prefix of 0-32, or nothing: host bits set are refused, not masked.
TEST(DenyFile, ReadsBlockNotation)
{
    const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
        {"198.51.100.0/24", "", "198.51.100.0", "255.255.255.0"}, {"0.0.0.0/0", "255.255.255.255", "0.0.0.0", "0.0.0.0"},
        {"198.51.100.7/32", "", "198.51.100.7", "255.255.255.255"}, {"10.0.0.0", "/8", "10.0.0.0", "255.0.0.0"},
        {"010.0.0.0/7", "", "10.0.0.0", "254.0.0.0"}, {"198.51.100.7/24", "", "", ""}, {"10.0.0.1", "/8", "", ""},
        {"198.51.100.0/33", "", "", ""}, {"1.0.0.0/08", "", "", ""}, {"1.0.0.0/", "", "", ""}, {"1.0.0.0/-1", "", "", ""},
        {"1.0.0.0/+8", "", "", ""}, {"1.0.0/8", "", "", ""}, {"10.0.0.0/8x", "", "", ""}, {"10.0.0.0/8", "255.0.0.0", "", ""},
        {"10.0.0.0", "/", "", ""}, {"10.0.0.0", "8", "", ""}, {"x/8", "", "", ""}, {"1.2.3.4/999999999999", "", "", ""}};
    for (const auto& [address, mask, readAddress, readMask] : cases) {
        DenyEntry e{address, mask, "c"};
        const bool read = ReadBlockNotation(e);
        EXPECT_EQ(read, *readAddress != 0) << address << ' ' << mask;
        EXPECT_EQ(e.address + ' ' + e.mask, read ? std::string(readAddress) + ' ' + readMask : std::string(address) + ' ' + mask);
    }
}

// Comments of either version read as terms, and terms written read back whole on a line that any
// reader splits into the same address and mask.
TEST(DenyFile, BanTermsInTheComment)
{
    const std::string at = " at=2026-12-07T23:00:00Z", until = " until=2026-12-08T03:00:00Z";
    const std::pair<std::string, deny_file::BanTerms> cases[] = {
        {"Viper pilot", {"Viper pilot", "", 0, 0}}, {"a | b", {"a | b", "", 0, 0}}, {"a |", {"a |", "", 0, 0}},
        {"x|y | by=window" + at + until, {"x|y", "window", 1796684400, 1796698800}},
        {"|" + until, {"", "", 0, 1796698800}}, {"a | by=w by=v", {"a | by=w by=v", "", 0, 0}},
        {"a | until=2026-02-30T00:00:00Z", {"a | until=2026-02-30T00:00:00Z", "", 0, 0}},
        {"a | at=2026-12-07T23:00:00", {"a | at=2026-12-07T23:00:00", "", 0, 0}}, {"a | by=", {"a | by=", "", 0, 0}}};
    for (const auto& [comment, terms] : cases) {
        EXPECT_EQ(deny_file::ParseComment(comment), terms) << comment;
        EXPECT_EQ(deny_file::ParseComment(deny_file::FormatComment({comment})).until, 0) << comment;
        const deny_file::BanTerms written = {terms.reason + "x\r\n" + std::string(300, 'r'), "a b|c", 1, terms.until};
        const DenyList list = {{"198.51.100.22", "255.255.255.255", deny_file::FormatComment(written)}};
        DenyList read;
        deny_file::Read(deny_file::Format(list), read);
        ASSERT_EQ(read.size(), 1u);
        EXPECT_EQ(read[0].address + read[0].mask, "198.51.100.22255.255.255.255");
        const deny_file::BanTerms back = deny_file::ParseComment(read[0].comment);
        EXPECT_EQ(std::tie(back.by, back.at, back.until), std::tuple("a_b_c", 1, terms.until)) << read[0].comment;
        EXPECT_EQ(back.reason, (terms.reason + "x  " + std::string(300, 'r')).substr(0, back.reason.size()));
        EXPECT_GT(back.reason.size(), 100u);
    }
}

TEST(DenyRuleset, PrefixMasksShareOneSetOtherMasksGetRules)
{
    const std::string hostile = "\"}]},{\"delete\":{\"table\":{}}}; flush ruleset\n'{x}'";
    const DenyList list = {
        {"10.9.8.7", "255.0.0.0", hostile},  {"10.1.0.0", "255.255.0.0", "inside the /8"},
        {"10.0.0.0", "255.0.0.0", "again"},  {"198.51.100.7", "255.255.255.255", "x"},
        {"198.51.100.7", "255.255.255.255", "twice"}, {"10.0.3.9", "255.0.255.0", "not a prefix"},
        {"10.0.3.9", "255.0.255.0", hostile}, {"1.2.3.4", "0.0.0.0", "everyone"},
        {"198.51.100.64", "255.255.255.192", ""},
    };
    const DenyRuleset rules("zpmoni_t", Address("198.51.100.1"), list);
    std::vector<std::string> blocks;
    for (const DenyRuleset::Block& b : rules.Blocks())
        blocks.push_back(b.first.ToString() + "-" + b.last.ToString());
    EXPECT_EQ(blocks, (std::vector<std::string>{"0.0.0.0-255.255.255.255"}));

    DenyList withoutAll = list;
    withoutAll.erase(withoutAll.end() - 2);
    const std::string json = DenyRuleset("zpmoni_t", Address("198.51.100.1"), withoutAll).InstallCommands();
    EXPECT_EQ(CountOf(json, R"({"prefix":{"addr":"10.0.0.0","len":8}})"), 1u) << json;
    EXPECT_EQ(CountOf(json, R"({"prefix":{"addr":"198.51.100.64","len":26}})"), 1u);
    EXPECT_EQ(CountOf(json, R"("198.51.100.7")"), 1u);
    EXPECT_EQ(CountOf(json, "10.1.0.0"), 0u);
    EXPECT_EQ(CountOf(json, R"("255.0.255.0"]},"right":"10.0.3.0")"), 2u);
    EXPECT_EQ(CountOf(json, R"("field":"daddr"}},"right":"198.51.100.1")"), 3u);
    // The machine's own traffic is accepted before any drop.
    EXPECT_LT(json.find(R"("right":"local"}},{"accept":null})"), json.find("drop"));
    EXPECT_LT(json.find(R"({"prefix":{"addr":"127.0.0.0","len":8}}}},{"accept":null})"), json.find("drop"));
    // Without a filter address the rules guard every local address.
    EXPECT_EQ(CountOf(DenyRuleset("zpmoni_t", {}, withoutAll).InstallCommands(), "daddr"), 0u);
    for (const char* c : {";", "\n", "'", "ruleset", "inside", "{}"})
        EXPECT_EQ(json.find(c), std::string::npos) << c;
}

// Built at once or entry by entry, in either order: a block inside another leaves the outer
// one in force, also when both start at the same address; an entry that is no dotted quad adds
// nothing.
TEST(DenyRuleset, NestedBlocksKeepTheWidest)
{
    const std::pair<DenyList, std::vector<std::string>> cases[] = {
        {{{"10.0.0.0", "255.255.0.0", ""}, {"10.0.0.0", "255.0.0.0", ""}}, {"10.0.0.0-10.255.255.255"}},
        {{{"10.0.0.0", "255.0.0.0", ""}, {"10.0.0.0", "255.255.0.0", ""}}, {"10.0.0.0-10.255.255.255"}},
        {{{"10.1.2.3", "255.255.255.255", ""}, {"10.0.0.0", "255.0.0.0", ""}, {"11.0.0.1", "255.255.255.256", ""},
          {"bogus", "0.0.0.0", ""}, {"11.0.0.2", "-1", ""}}, {"10.0.0.0-10.255.255.255"}},
    };
    for (const auto& [list, expected] : cases) {
        DenyRuleset added("zpmoni_t", {}, {});
        for (const DenyEntry& e : list)
            added.Add(e);
        for (const DenyRuleset& rules : {added, DenyRuleset("zpmoni_t", {}, list)}) {
            std::vector<std::string> blocks;
            for (const DenyRuleset::Block& b : rules.Blocks())
                blocks.push_back(b.first.ToString() + "-" + b.last.ToString());
            EXPECT_EQ(blocks, expected) << list.size();
            EXPECT_TRUE(rules.Rules().empty());
        }
    }
}

TEST(DenyRuleset, AddsOnlyWhatTheSetDoesNotCover)
{
    DenyRuleset rules("zpmoni_t", Address("198.51.100.1"), {{"198.51.100.7", "255.255.255.255", ""}});
    EXPECT_EQ(rules.AddCommands({"198.51.100.7", "255.255.255.255", "twice"}), "");
    const std::string block = rules.AddCommands({"198.51.100.9", "255.255.255.0", ""});
    EXPECT_LT(block.find(R"({"delete":{"element")"), block.find(R"({"add":{"element")"));
    EXPECT_EQ(CountOf(block, R"({"prefix":{"addr":"198.51.100.0","len":24}})"), 1u);
    rules.Add({"198.51.100.9", "255.255.255.0", ""});
    rules.Add({"198.51.100.200", "255.255.255.255", ""});
    rules.Add({"1.2.3.4", "255.255.0.255", ""});
    ASSERT_EQ(rules.Blocks().size(), 1u);
    EXPECT_EQ(rules.Blocks()[0].first.ToString() + "-" + rules.Blocks()[0].last.ToString(), "198.51.100.0-198.51.100.255");
    EXPECT_EQ(CountOf(rules.AddCommands({"1.2.3.4", "255.255.0.255", ""}), R"("right":"1.2.0.4")"), 1u);
    ASSERT_EQ(rules.Rules().size(), 1u);
}

// A ban with an end is an element with a timeout; one that has ended is left out; a block that
// swallows a longer ban lives as long, however it came in.
TEST(DenyRuleset, BansWithAnEndTimeOut)
{
    const auto until = [](int64_t t) { return deny_file::FormatComment({"r", "", 0, t}); };
    const DenyList list = {{"198.51.100.2", "255.255.255.255", until(1002)}, {"198.51.100.3", "255.255.255.255", until(1000)},
                           {"10.0.0.0", "255.0.0.0", until(1010)}, {"10.1.0.0", "255.255.0.0", until(1060)}};
    DenyRuleset added("zpmoni_t", {}, {});
    for (const DenyEntry& e : list)
        added.Add(e);
    for (const DenyRuleset& rules : {DenyRuleset("zpmoni_t", {}, list, 1000), added}) {
        const std::string json = rules.InstallCommands(1000);
        EXPECT_EQ(CountOf(json, R"({"elem":{"val":"198.51.100.2","timeout":2}})"), 1u) << json;
        EXPECT_EQ(CountOf(json, R"({"elem":{"val":{"prefix":{"addr":"10.0.0.0","len":8}},"timeout":60}})"), 1u) << json;
        EXPECT_EQ(CountOf(json, "198.51.100.3"), 0u);
        EXPECT_TRUE(rules.Drops(Address("198.51.100.2"), {}, 1001) && rules.Drops(Address("10.2.0.1"), {}, 1059));
        EXPECT_FALSE(rules.Drops(Address("198.51.100.2"), {}, 1002) || rules.Drops(Address("10.2.0.1"), {}, 1060));
    }
}

}  // namespace
