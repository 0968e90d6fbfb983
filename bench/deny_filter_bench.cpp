// SPDX-License-Identifier: MIT
// How long the packet filter takes to put a whole deny list in force: one transaction that
// replaces the table, as at start-up and after the settings sheet. Runs in a network namespace
// of its own (root needed), so the machine's own rules are never touched.
#include "access/deny_ruleset.h"
#include "access/packet_filter.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>

#include <sched.h>

#include <cstdio>
#include <string>

using namespace zpmoni;

namespace {

// Distinct /32 entries in 10.0.0.0/8, or entries under the mask 255.255.0.255 (not a prefix).
DenyList MakeList(int count, bool prefix)
{
    DenyList list;
    for (int i = 1; i <= count; ++i)
        list.push_back({"10." + std::to_string(i >> 8 & 255) + "." + std::to_string(i & 255) + ".1",
                        prefix ? "255.255.255.255" : "255.255.0.255", "bot " + std::to_string(i)});
    return list;
}

void Install(benchmark::State& state, bool prefix)
{
    const DenyList list = MakeList(static_cast<int>(state.range(0)), prefix);
    PacketFilter filter;
    for (auto _ : state) {
        if (Status installed = filter.Install(*Ipv4Address::Parse("198.51.100.1"), list); !installed) {
            state.SkipWithError(("nftables refused: " + installed.error()).c_str());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_InstallPrefixMasks(benchmark::State& state) { Install(state, true); }
void BM_InstallOtherMasks(benchmark::State& state) { Install(state, false); }

// The commands alone, without the kernel.
void BM_BuildCommands(benchmark::State& state)
{
    const DenyList list = MakeList(static_cast<int>(state.range(0)), true);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            DenyRuleset("zpmoni_bench", *Ipv4Address::Parse("198.51.100.1"), list).InstallCommands());
}

BENCHMARK(BM_InstallPrefixMasks)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_InstallOtherMasks)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BuildCommands)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    // A fresh network namespace, gone with the process.
    if (unshare(CLONE_NEWNET) != 0) {
        std::perror("deny_filter_bench: unshare (run as root)");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
