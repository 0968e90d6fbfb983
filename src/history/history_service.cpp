// SPDX-License-Identifier: MIT
#include "history/history_service.h"

#include "capture/player_table.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace zpmoni {

namespace {

HistoryService::Key KeyOf(const PlayerRecord& r) { return uint64_t{r.address} << 16 | r.port; }

}  // namespace

int64_t SteadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

HistoryService::HistoryService(std::function<int64_t()> nowMs, HistoryLimits limits)
    : nowMs(std::move(nowMs)), limits(limits)
{
}

HistoryService::~HistoryService() { Stop(); }

Status HistoryService::Open(const std::string& file)
{
    path = file;
    auto opened = HistoryStore::Open(file);
    if (!opened)
        return Failure{opened.error()};
    store = std::move(opened.value());
    return {};
}

void HistoryService::Start(std::function<void(std::string_view)> errors)
{
    onError = std::move(errors);
    if (store && !writer.joinable())
        writer = std::jthread([this](std::stop_token stop) { Run(stop); });
}

void HistoryService::Stop()
{
    if (writer.joinable()) {
        writer.request_stop();
        writer.join();
    }
    (void)WriteDue(true);
}

void HistoryService::Run(std::stop_token stop)
{
    while (!stop.stop_requested()) {
        {
            std::unique_lock held(lock);
            wake.wait_for(held, stop, std::chrono::milliseconds(std::max<int64_t>(limits.periodMs / 4, 1)),
                          [&] { return queue.size() >= limits.batch; });
        }
        (void)WriteDue();
    }
    (void)WriteDue(true);
}

bool HistoryService::Push(Event e)
{
    if (!store)
        return true;
    std::unique_lock held(lock);
    if (queue.size() >= limits.queue) {
        ++dropped;
        held.unlock();
        // Told once until a batch is written again.
        if (!toldFull.exchange(true) && onError)
            onError(std::string(kHistoryFileName) + ": the writer falls behind; events are dropped");
        return false;
    }
    if (queue.empty())
        firstQueuedMs = nowMs();
    queue.push_back(std::move(e));
    if (queue.size() >= limits.batch)
        wake.notify_one();
    return true;
}

uint64_t HistoryService::Dropped() const
{
    std::lock_guard held(lock);
    return dropped;
}

size_t HistoryService::Queued() const
{
    std::lock_guard held(lock);
    return queue.size();
}

void HistoryService::OnLogon(int64_t t, const PlayerRecord& r)
{
    SessionRecord s;
    s.address = Ipv4Address::FromNetworkOrder(r.address);
    s.port = r.port;
    s.user = std::string(r.userName.View());
    s.logon = t;
    Push(Logon{KeyOf(r), std::move(s)});
}

void HistoryService::OnJoin(int64_t, const PlayerRecord& r)
{
    Push(Join{KeyOf(r), {std::string(r.aircraftName.View()), std::string(r.packName.View())}});
}

void HistoryService::OnLogoff(int64_t t, const PlayerRecord& r, uint32_t damageSent)
{
    Push(Logoff{KeyOf(r), t, r.bytesIn, r.bytesOut, damageSent});
}

void HistoryService::PruneDaily(int64_t now, int keepDays)
{
    // Only the event loop calls this, so the day needs no lock.
    const int64_t day = now / 86400;
    if (day == prunedDay)
        return;
    prunedDay = day;
    if (keepDays > 0)
        Push(Prune{now, keepDays});
}

Result<size_t> HistoryService::WriteDue(bool all)
{
    std::vector<Event> batch;
    {
        std::lock_guard held(lock);
        if (queue.empty() || (!all && queue.size() < limits.batch && nowMs() - firstQueuedMs < limits.periodMs))
            return size_t{0};
        const size_t n = all ? queue.size() : std::min(queue.size(), limits.batch);
        std::move(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(n), std::back_inserter(batch));
        queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(n));
        // What is left is as overdue as what went.
    }
    // The open sessions change only with a committed batch.
    auto open = openRows;
    Status s = store->InTransaction([&]() -> Status {
        for (const Event& e : batch)
            if (Status applied = Apply(e, open); !applied)
                return applied;
        return {};
    });
    if (!s) {
        {
            std::lock_guard held(lock);
            dropped += batch.size();
        }
        if (!failing && onError)
            onError(s.error());
        failing = true;
        return Failure{s.error()};
    }
    failing = false;
    toldFull = false;
    openRows = std::move(open);
    return batch.size();
}

Status HistoryService::Apply(const Event& e, std::unordered_map<Key, int64_t>& open)
{
    if (const auto* on = std::get_if<Logon>(&e)) {
        // A session the log-off of which never came ends where the next one at its port begins.
        if (auto was = open.find(on->key); was != open.end())
            if (Status s = store->Close(was->second, on->record.logon, 0, 0, 0); !s)
                return s;
        auto id = store->Insert(on->record);
        if (!id)
            return Failure{id.error()};
        open[on->key] = *id;
    } else if (const auto* join = std::get_if<Join>(&e)) {
        if (auto at = open.find(join->key); at != open.end())
            return store->AddAircraft(at->second, join->aircraft);
    } else if (const auto* off = std::get_if<Logoff>(&e)) {
        if (auto at = open.find(off->key); at != open.end()) {
            if (Status s = store->Close(at->second, off->time, off->bytesIn, off->bytesOut, off->damageSent); !s)
                return s;
            open.erase(at);
        }
    } else if (const auto* prune = std::get_if<Prune>(&e)) {
        if (auto removed = store->Prune(prune->now, prune->keepDays); !removed)
            return Failure{removed.error()};
    }
    return {};
}

}  // namespace zpmoni
