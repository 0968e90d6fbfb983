// SPDX-License-Identifier: MIT
#pragma once

#include "base/result.h"
#include "history/history_store.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <variant>

namespace zpmoni {

struct PlayerRecord;

// Milliseconds on the steady clock: when a batch is due.
int64_t SteadyMs();

// How the writer batches: a batch is written at the latest periodMs after its first event, or
// as soon as it has `batch` events; events waiting beyond `queue` are dropped (and counted).
struct HistoryLimits {
    int64_t periodMs = 200;
    size_t batch = 500;
    size_t queue = 100000;
};

// The player history as the running monitor keeps it: the decoder's events go into a bounded
// queue that a writer thread empties in batched transactions, so the event loop never waits on
// the disk. A killed writer loses at most the batch it was writing; the file stays whole.
class HistoryService {
public:
    // A live session: the player's address (network order) and port.
    using Key = uint64_t;
    struct Logon {
        Key key;
        SessionRecord record;
    };
    struct Join {
        Key key;
        FlownAircraft aircraft;
    };
    struct Logoff {
        Key key;
        int64_t time;
        uint64_t bytesIn, bytesOut;
        uint32_t damageSent;
    };
    struct Prune {
        int64_t now;
        int keepDays;
    };
    using Event = std::variant<Logon, Join, Logoff, Prune>;

    explicit HistoryService(std::function<int64_t()> nowMs = SteadyMs, HistoryLimits limits = {});
    // Writes what is queued, then ends the thread.
    ~HistoryService();
    HistoryService(const HistoryService&) = delete;
    HistoryService& operator=(const HistoryService&) = delete;

    // Opens (or creates) the file on the calling thread, so a failure is known at once. Without
    // a file every event is let go.
    Status Open(const std::string& path);
    bool IsOpen() const { return store != nullptr; }
    const std::string& Path() const { return path; }
    // The writer thread; `onError` hears of a failed batch (from the writer thread) or of a full
    // queue (from the caller's), each once until a batch succeeds again.
    void Start(std::function<void(std::string_view)> onError = {});
    // Writes what is queued and ends the thread.
    void Stop();

    // From the decoder, on the event loop: never waits on the disk.
    void OnLogon(int64_t t, const PlayerRecord& r);
    void OnJoin(int64_t t, const PlayerRecord& r);
    // The session closes with the bytes the record counted and the G-limit damage sent to it.
    void OnLogoff(int64_t t, const PlayerRecord& r, uint32_t damageSent = 0);
    // Retention: at most once a calendar day (UTC), old sessions are deleted (keepDays 0 keeps all).
    void PruneDaily(int64_t now, int keepDays);

    // False when the queue is full: the event is dropped and counted.
    bool Push(Event e);
    uint64_t Dropped() const;
    // Writes one batch if one is due (or everything queued when `all`); how many events it
    // wrote. The writer thread's round; without a thread, a test drives it on a clock of its own.
    Result<size_t> WriteDue(bool all = false);
    size_t Queued() const;

private:
    Status Apply(const Event& e, std::unordered_map<Key, int64_t>& open);
    void Run(std::stop_token stop);

    std::function<int64_t()> nowMs;
    const HistoryLimits limits;
    std::string path;
    std::unique_ptr<HistoryStore> store;  // the writer's own
    std::function<void(std::string_view)> onError;
    bool failing = false;
    // Rows of the sessions still open, by key: only the writer touches it.
    std::unordered_map<Key, int64_t> openRows;
    int64_t prunedDay = -1;

    mutable std::mutex lock;
    std::condition_variable_any wake;
    std::deque<Event> queue;
    int64_t firstQueuedMs = 0;
    uint64_t dropped = 0;
    std::atomic<bool> toldFull{false};
    std::jthread writer;
};

}  // namespace zpmoni
