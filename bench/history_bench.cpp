// SPDX-License-Identifier: MIT
// The player history: sessions written per second through the writer's batches, a search by
// name start over a million sessions, and the file's size per 100,000 sessions.
#include "history/history_service.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <unistd.h>

using namespace zpmoni;

namespace {

std::string Folder(const char* name)
{
    auto dir = std::filesystem::temp_directory_path() / ("zpmoni-bench-" + std::to_string(getpid()) + "-" + name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

// Names of 20,000 players in mixed case, each coming from a few addresses.
SessionRecord Sample(std::mt19937& random, int64_t logon)
{
    const uint32_t player = random() % 20000;
    std::string name = (player % 2 ? "Pilot" : "pILOT") + std::to_string(100000 + player);
    return {Ipv4Address(0xC6336400 + player % 4096 + (random() % 3 << 12)), 7915, std::move(name), logon,
            logon + 1800, {{"F-16", "Jets"}, {"A6M", "Props"}}, 123456, 654321, 0};
}

// Sessions as the monitor writes them: a log-on with two aircraft each, batched 500 a
// transaction. Also the file's size per 100,000 sessions.
void HistoryInsert(benchmark::State& state)
{
    const std::string dir = Folder("insert");
    int64_t now = 0;
    HistoryService history([&] { return now; });
    if (!history.Open(dir + "/history.db"))
        return state.SkipWithError("open");
    std::mt19937 random(1);
    int64_t n = 0;
    for (auto _ : state) {
        history.Push(HistoryService::Logon{static_cast<HistoryService::Key>(n), Sample(random, n)});
        if (++n % 500 == 0)
            (void)history.WriteDue();
    }
    history.Stop();
    state.SetItemsProcessed(n);
    const auto bytes =
        std::filesystem::file_size(dir + "/history.db") + std::filesystem::file_size(dir + "/history.db-wal");
    state.counters["MB_per_100k"] = static_cast<double>(bytes) / 1e6 * 100000.0 / static_cast<double>(n);
    std::filesystem::remove_all(dir);
}
BENCHMARK(HistoryInsert)->Iterations(200000)->Unit(benchmark::kMicrosecond);

// A name start over 1,000,000 sessions (about 50 sessions per name, so a prefix of all but the
// last digit finds about 500).
void HistorySearchPrefix(benchmark::State& state)
{
    // The million sessions are made once and removed at exit.
    static const struct Scratch {
        std::string dir = Folder("search");
        ~Scratch() { std::filesystem::remove_all(dir); }
    } scratch;
    const std::string& dir = scratch.dir;
    static std::unique_ptr<HistoryStore> store = [&] {
        auto opened = HistoryStore::Open(dir + "/history.db");
        std::mt19937 random(2);
        for (int64_t batch = 0; batch < 1000; ++batch)
            (void)opened.value()->InTransaction([&]() -> Status {
                for (int64_t i = 0; i < 1000; ++i)
                    (void)opened.value()->Insert(Sample(random, batch * 1000 + i));
                return {};
            });
        return std::move(opened.value());
    }();
    std::mt19937 random(3);
    size_t found = 0;
    for (auto _ : state) {
        HistoryQuery q;
        q.user = "pilot" + std::to_string(10000 + random() % 2000);
        auto result = store->Search(q);
        found += result ? result->size() : 0;
    }
    state.counters["found"] = static_cast<double>(found) / static_cast<double>(state.iterations());
    state.counters["db_MB"] = static_cast<double>(std::filesystem::file_size(dir + "/history.db")) / 1e6;
}
BENCHMARK(HistorySearchPrefix)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
