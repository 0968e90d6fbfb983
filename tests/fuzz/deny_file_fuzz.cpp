// SPDX-License-Identifier: MIT
// Any bytes as an ipfilter.txt: read, written back and read again to the same list, and every
// text read as an address; the rule set built from them; the ban terms of every comment.
#include "access/deny_file.h"
#include "access/deny_ruleset.h"
#include "fuzz/fuzz_target.h"

#include <cstdlib>

using namespace zpmoni;

FUZZ_TARGET(FuzzDenyFile)
{
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    DenyList list;
    deny_file::Read(in, list);
    for (const DenyEntry& e : list) {
        if (e.address.size() > deny_file::kMaxLine || e.address.empty())
            std::abort();
        MatchOf(e).Text();
        // The terms of any comment survive being written again, however long its reason.
        const deny_file::BanTerms terms = deny_file::ParseComment(e.comment);
        const deny_file::BanTerms back = deny_file::ParseComment(deny_file::FormatComment(terms));
        if (back.until != terms.until || back.at != terms.at)
            std::abort();
    }
    DenyList again;
    deny_file::Read(deny_file::Format(list), again);
    if (again.size() != list.size())
        std::abort();
    const auto filter = Ipv4Address::Parse(in, Ipv4Address::LeadingZeros::Decimal);
    DenyRuleset("zpmoni_fuzz", filter.value_or(Ipv4Address()), list).InstallCommands();
    return 0;
}
