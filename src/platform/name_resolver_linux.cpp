// SPDX-License-Identifier: MIT
#include "platform/name_resolver.h"

#include <QObject>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

namespace zpmoni {

std::optional<std::string> LookupHostName(uint32_t address)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    char host[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr,
                    0, NI_NAMEREQD) != 0)
        return std::nullopt;
    return std::string(host);
}

// Shared with the lookup threads, so that a thread stuck in a lookup past the shut-down still
// has something valid to return to; it then finds `closed` and delivers nothing.
struct ResolverPool::State : std::enable_shared_from_this<State> {
    using Clock = std::chrono::steady_clock;
    struct Cached {
        std::optional<std::string> name;
        Clock::time_point at;
    };

    State(Lookup lookup, Post post) : lookup(std::move(lookup)), post(std::move(post)) {}

    const Lookup lookup;
    const Post post;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable ended;
    bool closed = false;
    int threads = 0;
    int idle = 0;
    size_t waiting = 0;                  // answers not yet delivered, over all addresses
    std::deque<uint32_t> queue;          // addresses no thread has taken yet
    std::unordered_map<uint32_t, std::vector<Answer>> pending;  // queued or running, by address
    std::unordered_map<uint32_t, Cached> cache;

    void Work();
    void Deliver(Answer answer, const std::optional<std::string>& name);
    void Remember(uint32_t address, const std::optional<std::string>& name);
};

void ResolverPool::State::Work()
{
    std::unique_lock lock(mutex);
    for (;;) {
        ++idle;
        wake.wait(lock, [this] { return closed || !queue.empty(); });
        --idle;
        if (closed)
            break;
        const uint32_t address = queue.front();
        queue.pop_front();
        lock.unlock();
        const std::optional<std::string> name = lookup(address);
        lock.lock();
        if (closed)
            break;
        Remember(address, name);
        auto it = pending.find(address);
        if (it == pending.end())
            continue;
        std::vector<Answer> answers = std::move(it->second);
        pending.erase(it);
        waiting -= answers.size();
        // Under the lock: a shut-down that has returned has seen the last delivery end (or be
        // posted; a posted one looks again before it runs).
        for (Answer& answer : answers)
            Deliver(std::move(answer), name);
    }
    --threads;
    ended.notify_all();
}

void ResolverPool::State::Deliver(Answer answer, const std::optional<std::string>& name)
{
    if (!post) {
        answer(name);
        return;
    }
    post([self = shared_from_this(), answer = std::move(answer), name] {
        {
            std::lock_guard lock(self->mutex);
            if (self->closed)
                return;
        }
        answer(name);
    });
}

void ResolverPool::State::Remember(uint32_t address, const std::optional<std::string>& name)
{
    const Clock::time_point now = Clock::now();
    if (cache.size() >= kCached && !cache.contains(address)) {
        auto oldest = cache.begin();
        for (auto it = cache.begin(); it != cache.end(); ++it) {
            if (it->second.at < oldest->second.at)
                oldest = it;
        }
        cache.erase(oldest);
    }
    cache[address] = Cached{name, now};
}

ResolverPool::ResolverPool(Lookup lookup, Post post)
    : state(std::make_shared<State>(std::move(lookup), std::move(post)))
{
}

ResolverPool::~ResolverPool()
{
    // After an explicit shut-down a second wait would only add to the first one's limit.
    bool closed;
    {
        std::lock_guard lock(state->mutex);
        closed = state->closed;
    }
    if (!closed)
        Shutdown();
}

bool ResolverPool::Resolve(uint32_t address, Answer answer)
{
    std::unique_lock lock(state->mutex);
    if (state->closed)
        return false;
    if (auto hit = state->cache.find(address); hit != state->cache.end()) {
        if (State::Clock::now() - hit->second.at < kCacheSeconds) {
            const std::optional<std::string> name = hit->second.name;
            lock.unlock();
            answer(name);
            return true;
        }
        state->cache.erase(hit);
    }
    if (state->waiting >= kQueued)
        return false;
    std::vector<Answer>& answers = state->pending[address];
    // An address already queued or being looked up gets the one answer of that lookup.
    if (answers.empty())
        state->queue.push_back(address);
    answers.push_back(std::move(answer));
    ++state->waiting;
    if (state->idle > 0 || state->threads >= kThreads) {
        state->wake.notify_one();
        return true;
    }
    try {
        std::thread([s = state] { s->Work(); }).detach();
        ++state->threads;
    } catch (const std::system_error&) {
        if (state->threads == 0) {
            // Nobody would ever take it: it stays unresolved, as if the queue were full.
            answers.pop_back();
            if (answers.empty()) {
                state->pending.erase(address);
                state->queue.pop_back();
            }
            --state->waiting;
            return false;
        }
    }
    return true;
}

bool ResolverPool::Shutdown(std::chrono::milliseconds limit)
{
    std::unique_lock lock(state->mutex);
    state->closed = true;
    state->queue.clear();
    state->pending.clear();
    state->waiting = 0;
    state->wake.notify_all();
    return state->ended.wait_for(lock, limit, [this] { return state->threads == 0; });
}

namespace {

class EventLoopResolver final : public NameResolver {
public:
    EventLoopResolver()
        : pool(&LookupHostName, [this](std::function<void()> delivery) {
              QMetaObject::invokeMethod(&context, std::move(delivery), Qt::QueuedConnection);
          })
    {
    }

    bool Resolve(uint32_t address, Answer answer) override { return pool.Resolve(address, std::move(answer)); }

private:
    // Lives on the thread that made the resolver; the calls still queued go with it. The pool,
    // shut down first, posts nothing after its end.
    QObject context;
    ResolverPool pool;
};

}  // namespace

std::unique_ptr<NameResolver> MakeEventLoopResolver()
{
    return std::make_unique<EventLoopResolver>();
}

}  // namespace zpmoni
