// SPDX-License-Identifier: MIT
// Reading daily logs back into sessions, in log lines per second: the parsing of one day's text
// held in memory, and a whole Log folder of 30 days read from the disk (page cache warm).
//
// A day is 2,000 players, each logging on, joining three times and logging off, interleaved
// in 50s as on a busy server, with Shift_JIS names and escaped control bytes among them.

#include "base/clock.h"
#include "history/daily_log_reader.h"
#include "platform/directory_listing.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

using namespace zpmoni;

namespace {

class Discard final : public SessionSink {
public:
    Status Add(const SessionRecord& s) override
    {
        benchmark::DoNotOptimize(s.logon);
        return {};
    }
};

std::tm Jst(int64_t t) { return UtcTime(t + 9 * 3600); }

std::string Day(size_t& lineCount)
{
    std::string text;
    lineCount = 0;
    int second = 0;
    auto line = [&](const std::string& rest) {
        char stamp[16];
        const int s = second++ % 86400;
        std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d\t", s / 3600, s / 60 % 60, s % 60);
        text.append(stamp).append(rest).push_back('\n');
        ++lineCount;
    };
    for (int group = 0; group < 40; ++group) {
        for (int step = 0; step < 5; ++step) {
            for (int p = 0; p < 50; ++p) {
                const int n = group * 50 + p;
                const std::string who = "198.51.100." + std::to_string(n % 250) + "\t" +
                                        (n % 7 == 0 ? "\x83\x5c\x83\x93" + std::to_string(n)
                                                    : n % 11 == 0 ? "Pi\\x01lot" + std::to_string(n)
                                                                  : "Falcon" + std::to_string(n));
                if (step == 0)
                    line(who + "\tLOGIN");
                else if (step == 4)
                    line(who + "\tLOGOUT");
                else
                    line(who + "\tJOIN\t" + std::to_string(step) + "\tF-15C Eagle\tRunway 27\tModern Jets");
            }
        }
        if (group % 10 == 0)
            line("Ground obj reconstruct");
    }
    return text;
}

void BM_ParseDay(benchmark::State& state)
{
    size_t lines = 0;
    const std::string text = Day(lines);
    for (auto _ : state) {
        Discard sink;
        DailyLogReader reader(sink, Jst);
        benchmark::DoNotOptimize(reader.ReadDay(2026, 12, 5, text).ok());
        benchmark::DoNotOptimize(reader.Finish().ok());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * lines));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseDay)->Unit(benchmark::kMillisecond);

void BM_ImportFolder(benchmark::State& state)
{
    const auto folder = std::filesystem::temp_directory_path() / ("zpmoni-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    size_t lines = 0;
    const std::string text = Day(lines);
    for (int day = 1; day <= 30; ++day)
        std::ofstream(folder / ("zplog202611" + std::string(day < 10 ? "0" : "") + std::to_string(day) + ".txt"),
                      std::ios::binary)
            << text;
    for (auto _ : state) {
        Discard sink;
        const Result<BackfillCounts> counts = ImportDailyLogs(folder.string(), SystemDirectoryListing(), Jst, sink);
        if (!counts || counts->lines != 30 * lines)
            state.SkipWithError("the folder was not read whole");
        if (!counts || counts->lines != 30 * lines)
            break;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * 30 * lines));
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_ImportFolder)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
