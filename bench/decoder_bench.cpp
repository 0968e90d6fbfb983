// SPDX-License-Identifier: MIT
// Decoder throughput, in datagrams per second, for the three kinds of traffic the capture hands
// it, and the heap allocations it makes per datagram (which must stay 0).
//
// Each benchmark cycles through a pool of a few hundred pre-built datagrams of varied sizes,
// clients and payloads, so neither the branch predictor nor the caches see one datagram over
// and over.

#include "bench_datagrams.h"
#include "capture/decoder.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

using namespace zpmoni;

// ---------------------------------------------------------------------------------------------
// Every heap allocation of this binary is counted, so a benchmark can tell how many the decoder
// made while it ran.

namespace {
std::atomic<uint64_t> allocationCount{0};

void* CountedAllocate(std::size_t n)
{
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(n != 0 ? n : 1);
}

void* CountedAllocateAligned(std::size_t n, std::align_val_t alignment)
{
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    void* p = nullptr;
    size_t a = static_cast<size_t>(alignment);
    if (a < sizeof(void*))
        a = sizeof(void*);
    if (posix_memalign(&p, a, n != 0 ? n : 1) != 0)
        return nullptr;
    return p;
}

// Out of line, so the compiler does not pair the free() with the operator new it cannot see
// calling malloc() and warn of a mismatch.
[[gnu::noinline]] void Release(void* p) noexcept { std::free(p); }
}  // namespace

void* operator new(std::size_t n)
{
    if (void* p = CountedAllocate(n))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n)
{
    if (void* p = CountedAllocate(n))
        return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return CountedAllocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return CountedAllocate(n); }
void* operator new(std::size_t n, std::align_val_t a)
{
    if (void* p = CountedAllocateAligned(n, a))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n, std::align_val_t a)
{
    if (void* p = CountedAllocateAligned(n, a))
        return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return CountedAllocateAligned(n, a);
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return CountedAllocateAligned(n, a);
}
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete(void* p, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { Release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { Release(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { Release(p); }

// ---------------------------------------------------------------------------------------------

namespace {

namespace td = testing_datagrams;

constexpr uint16_t kServerPort = 7915;
constexpr int kClients = 20;
constexpr size_t kPoolSize = 512;  // a power of two, so the cycle is a mask
// An ordinary second: the idle sweep only runs in seconds divisible by 15.
constexpr int64_t kOrdinarySecond = 1'700'000'001;
constexpr int64_t kSweepSecond = 1'700'000'010;
static_assert(kOrdinarySecond % 15 != 0 && kSweepSecond % 15 == 0);

uint32_t ServerAddress() { return td::Addr("198.51.100.1"); }
uint32_t ClientAddress(int i)
{
    return td::Addr(("198.51.100." + std::to_string(10 + i)).c_str());
}
uint16_t ClientPort(int i) { return static_cast<uint16_t>(50000 + 7 * i); }

td::Bytes RandomBytes(std::mt19937& rng, size_t n)
{
    td::Bytes b(n);
    for (auto& c : b)
        c = static_cast<uint8_t>(rng());
    return b;
}

// The datagrams laid out back to back in one buffer, each at a 16-byte boundary, as a capture
// ring holds them.
class Pool {
public:
    void Add(const td::Bytes& datagram)
    {
        size_t at = (buffer.size() + 15) & ~size_t{15};
        buffer.resize(at + datagram.size());
        std::memcpy(buffer.data() + at, datagram.data(), datagram.size());
        offsets.push_back(at);
        sizes.push_back(datagram.size());
    }
    // Pointers are taken once all datagrams are in, since the buffer moves while it grows.
    void Seal()
    {
        for (size_t i = 0; i < offsets.size(); ++i)
            items.push_back({buffer.data() + offsets[i], sizes[i]});
    }
    struct Item {
        const uint8_t* data;
        size_t size;
    };
    const Item& operator[](size_t i) const { return items[i]; }
    size_t Size() const { return items.size(); }

private:
    std::vector<uint8_t> buffer;
    std::vector<size_t> offsets;
    std::vector<size_t> sizes;
    std::vector<Item> items;
};

struct NullEvents final : DecoderEvents {
    void OnLogon(int64_t, const PlayerRecord&) override {}
    void OnLogoff(int64_t, const PlayerRecord&) override {}
    void OnJoin(int64_t, const PlayerRecord&) override {}
    void OnCapturedChat(std::string_view) override {}
};

// A decoder as the monitor runs it: the server's address is local, the default port, checksum
// testing on, and an event consumer attached.
struct Monitor {
    ManualClock clock;
    PlayerTable table{clock};
    PackIndex packs;
    Decoder decoder{table, packs, clock};
    NullEvents events;

    Monitor()
    {
        clock.seconds = kOrdinarySecond;
        table.SetResolveNames(false);
        LocalAddressTable local;
        local.entries[0] = td::Addr("127.0.0.1");
        local.entries[1] = ServerAddress();
        decoder.SetLocalAddresses(local);
        decoder.SetPort(kServerPort);
        decoder.SetChecksum(true);
        decoder.SetEvents(&events);
    }

    // Logs the clients on, so each has a record; false when one got none.
    bool LogOnClients()
    {
        for (int i = 0; i < kClients; ++i) {
            td::Segment s;
            s.source = ClientAddress(i);
            s.sourcePort = ClientPort(i);
            s.destination = ServerAddress();
            s.payload = td::Logon("pilot" + std::to_string(i));
            td::Bytes d = td::Datagram(s);
            if (decoder.HandleDatagram(d.data(), d.size()) != 0)
                return false;
            // The server's acknowledgement takes the log-on.
            std::swap(s.source, s.destination);
            std::swap(s.sourcePort, s.destinationPort);
            s.payload.clear();
            d = td::Datagram(s);
            decoder.HandleDatagram(d.data(), d.size());
        }
        int online = 0;
        for (int i = 0; i < PlayerTable::kSlots; ++i)
            online += table.Slot(i).Online();
        return online == kClients;
    }
};

// Cycles the pool through the decoder; reports datagrams per second and allocations per
// datagram.
void RunPool(benchmark::State& state, Decoder& decoder, const Pool& pool)
{
    if (pool.Size() != kPoolSize) {
        state.SkipWithError("the pool has the wrong size");
        return;
    }
    // A zero is only worth reporting if the counting operator new is the one in use.
    const uint64_t probe = allocationCount.load(std::memory_order_relaxed);
    benchmark::DoNotOptimize(std::make_unique<int>(1).get());
    if (allocationCount.load(std::memory_order_relaxed) != probe + 1) {
        state.SkipWithError("allocations are not being counted");
        return;
    }

    size_t i = 0;
    int rejected = 0;
    const uint64_t allocationsBefore = allocationCount.load(std::memory_order_relaxed);
    for (auto _ : state) {
        const Pool::Item& d = pool[i];
        rejected += decoder.HandleDatagram(d.data, d.size, ChecksumStatus::Unknown);
        i = (i + 1) & (kPoolSize - 1);
    }
    const uint64_t allocations = allocationCount.load(std::memory_order_relaxed) - allocationsBefore;
    benchmark::DoNotOptimize(rejected);
    if (rejected != 0)
        state.SkipWithError("the decoder rejected datagrams of the pool");
    state.SetItemsProcessed(state.iterations());
    state.counters["allocs_per_item"] = benchmark::Counter(
        static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}

// Checks that every datagram of the pool is accepted; the benchmark is meaningless otherwise.
bool AllAccepted(Decoder& decoder, const Pool& pool)
{
    for (size_t i = 0; i < pool.Size(); ++i) {
        if (decoder.HandleDatagram(pool[i].data, pool[i].size, ChecksumStatus::Unknown) != 0)
            return false;
    }
    return true;
}

// (a) Traffic of other ports, which receive-all mode delivers too: bulk HTTPS segments, bare
// acknowledgements and mid-sized requests, some of them to or from the server machine itself.
void BM_OtherPorts(benchmark::State& state)
{
    Monitor m;
    std::mt19937 rng(1);
    Pool pool;
    const uint16_t otherPorts[] = {443, 443, 443, 443, 80, 22, 993, 8080};
    for (size_t k = 0; k < kPoolSize; ++k) {
        td::Segment s;
        const uint32_t local = (rng() % 4 == 0) ? ServerAddress() : td::Addr("198.51.100.40");
        const uint32_t remote = td::Addr(("198.51.100." + std::to_string(100 + rng() % 50)).c_str());
        const uint16_t service = otherPorts[rng() % std::size(otherPorts)];
        const uint16_t ephemeral = static_cast<uint16_t>(32768 + rng() % 28000);
        const bool inbound = rng() % 2 == 0;
        s.source = inbound ? remote : local;
        s.destination = inbound ? local : remote;
        s.sourcePort = inbound ? service : ephemeral;
        s.destinationPort = inbound ? ephemeral : service;
        const unsigned kind = rng() % 100;
        size_t payload = 0;
        if (kind < 45) {
            payload = 1460;  // a full segment of a download
        } else if (kind < 80) {
            payload = 0;  // a bare acknowledgement
            s.flags = 0x10;
        } else {
            payload = 60 + rng() % 540;
        }
        s.payload = RandomBytes(rng, payload);
        pool.Add(td::Datagram(s));
    }
    pool.Seal();
    if (!AllAccepted(m.decoder, pool) || m.table.inboundBytes != 0 || m.table.outboundBytes != 0) {
        state.SkipWithError("other-port traffic was not ignored");
        return;
    }
    RunPool(state, m.decoder, pool);
}

// (b) Client datagrams of 60 to 200 bytes carrying an air state, for clients that have a
// record, with both checksum tests run. Argument: 1 to run in a second in which the idle
// sweep runs after each datagram (one second in 15).
void BM_ToServerAirState(benchmark::State& state)
{
    Monitor m;
    if (!m.LogOnClients()) {
        state.SkipWithError("clients got no records");
        return;
    }
    std::mt19937 rng(2);
    Pool pool;
    for (size_t k = 0; k < kPoolSize; ++k) {
        const int client = static_cast<int>(rng() % kClients);
        const size_t total = 60 + rng() % 141;  // 60..200 bytes
        td::Segment s;
        s.source = ClientAddress(client);
        s.sourcePort = ClientPort(client);
        s.destination = ServerAddress();
        s.payload = td::Frame(PKT_AIR_STATE, RandomBytes(rng, total - 40 - 8));
        pool.Add(td::Datagram(s));
    }
    pool.Seal();

    // A corrupted copy must be refused, or the checksum tests are not running.
    td::Bytes corrupted(pool[0].data, pool[0].data + pool[0].size);
    corrupted.back() ^= 0x5A;
    if (m.decoder.HandleDatagram(corrupted.data(), corrupted.size()) != 1) {
        state.SkipWithError("checksum testing is off");
        return;
    }
    if (!AllAccepted(m.decoder, pool)) {
        state.SkipWithError("the pool does not pass the checksum tests");
        return;
    }
    int flying = 0;
    for (int i = 0; i < PlayerTable::kSlots; ++i)
        flying += m.table.Slot(i).Flying();
    if (flying != kClients) {
        state.SkipWithError("air states did not reach the records");
        return;
    }
    m.clock.seconds = state.range(0) != 0 ? kSweepSecond : kOrdinarySecond;
    RunPool(state, m.decoder, pool);
}

// (c) Server datagrams to clients that have a record: each carries 1 to `range(0)` framed
// packets (relayed air states, object additions for other players, other types), at most
// 1500 bytes in all.
void BM_FromServer(benchmark::State& state)
{
    Monitor m;
    if (!m.LogOnClients()) {
        state.SkipWithError("clients got no records");
        return;
    }
    const int maxFrames = static_cast<int>(state.range(0));
    std::mt19937 rng(3);
    Pool pool;
    for (size_t k = 0; k < kPoolSize; ++k) {
        const int client = static_cast<int>(rng() % kClients);
        td::Segment s;
        s.source = ServerAddress();
        s.sourcePort = kServerPort;
        s.destination = ClientAddress(client);
        s.destinationPort = ClientPort(client);
        const int frames = 1 + static_cast<int>(rng() % maxFrames);
        for (int f = 0; f < frames; ++f) {
            td::Bytes frame;
            const unsigned kind = rng() % 10;
            if (kind < 7)
                frame = td::Frame(PKT_AIR_STATE, RandomBytes(rng, 56));
            else if (kind < 8)
                frame = td::AddObject(1, "pilot" + std::to_string(rng() % kClients));
            else
                frame = td::Frame(2 + rng() % 40, RandomBytes(rng, 4 + rng() % 40));
            if (s.payload.size() + frame.size() > 1460)
                break;  // a segment stays within one Ethernet frame
            s.payload.insert(s.payload.end(), frame.begin(), frame.end());
        }
        pool.Add(td::Datagram(s));
    }
    pool.Seal();
    const uint32_t outboundBefore = m.table.outboundBytes;
    if (!AllAccepted(m.decoder, pool) || m.table.outboundBytes == outboundBefore) {
        state.SkipWithError("server traffic was not counted");
        return;
    }
    RunPool(state, m.decoder, pool);
}

BENCHMARK(BM_OtherPorts);
BENCHMARK(BM_ToServerAirState)->ArgName("sweep")->Arg(0)->Arg(1);
BENCHMARK(BM_FromServer)->ArgName("max_frames")->Arg(8)->Arg(19);

}  // namespace

BENCHMARK_MAIN();
