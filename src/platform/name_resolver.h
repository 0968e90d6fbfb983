// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace zpmoni {

// Reverse lookups of IPv4 addresses (network byte order) that answer later or at once from a
// cache; what asks decides what to do with the answer.
class NameResolver {
public:
    // The registered name, or nothing when the address has none.
    using Answer = std::function<void(const std::optional<std::string>& name)>;

    virtual ~NameResolver() = default;
    // False when the lookup cannot be taken (queue full, shut down): no answer comes then.
    virtual bool Resolve(uint32_t address, Answer answer) = 0;
};

// The registered name of an address by getnameinfo (NI_NAMEREQD: a dotted number is no name).
// Blocks for as long as the reverse zone takes.
std::optional<std::string> LookupHostName(uint32_t address);

// At most kThreads lookups at a time, at most kQueued waiting, and the answers of the last
// kCacheSeconds kept (failures too, so that a slow reverse zone is asked once per address).
// A burst of new players from a slow zone therefore costs neither threads nor memory beyond
// these bounds, and whatever does not fit keeps its dotted address.
class ResolverPool final : public NameResolver {
public:
    using Lookup = std::function<std::optional<std::string>(uint32_t address)>;
    // Hands an answer's delivery to the thread that is to run it; without one, answers run on
    // the lookup threads.
    using Post = std::function<void(std::function<void()> delivery)>;

    static constexpr int kThreads = 4;
    static constexpr size_t kQueued = 64;
    static constexpr size_t kCached = 256;
    static constexpr std::chrono::seconds kCacheSeconds{600};

    explicit ResolverPool(Lookup lookup = &LookupHostName, Post post = {});
    ~ResolverPool() override;  // Shutdown() with its default limit, unless shut down already
    ResolverPool(const ResolverPool&) = delete;
    ResolverPool& operator=(const ResolverPool&) = delete;

    bool Resolve(uint32_t address, Answer answer) override;

    // Drops what waits, delivers no answer from now on, and waits up to `limit` for the running
    // lookups to end; those still stuck are left to end by themselves. True when none runs.
    bool Shutdown(std::chrono::milliseconds limit = std::chrono::seconds(1));

private:
    struct State;
    std::shared_ptr<State> state;
};

// Lookups by LookupHostName whose answers run on the calling thread's event loop, by queued
// call, so that what they write needs no lock. Delivers nothing once destroyed.
std::unique_ptr<NameResolver> MakeEventLoopResolver();

}  // namespace zpmoni
