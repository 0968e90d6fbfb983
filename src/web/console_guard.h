// SPDX-License-Identifier: MIT
#pragma once

#include "web/operators.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zpmoni {

// Request bodies larger than this are refused (413).
inline constexpr size_t kMaxRequestBody = 64 * 1024;

// Which Host and Origin headers name this console: the listen address with its port,
// "localhost" with the port when the listen address is loopback, and the configured names.
class HostCheck {
public:
    // `listenHost` as in Listen ("127.0.0.1"), `names` the HostNames setting's entries.
    HostCheck(std::string listenHost, uint16_t port, std::vector<std::string> names, bool tls);
    // A Host header value ("127.0.0.1:8790"); case-insensitive in the name, the port must match.
    bool HostAllowed(std::string_view host) const;
    // An Origin header value ("http://127.0.0.1:8790"); scheme must be the console's.
    bool OriginAllowed(std::string_view origin) const;

private:
    std::vector<std::string> hosts;  // "name:port", lowercase
    std::string scheme;              // "http" or "https"
};

// Failed log-ins per client address: at most `limit` in any `windowSeconds`; beyond that the
// address is refused until the oldest failure is out of the window.
class LoginLimiter {
public:
    explicit LoginLimiter(int limit = 5, int64_t windowSeconds = 60) : limit(limit), window(windowSeconds) {}
    // Whether a log-in attempt from `address` may be tried now.
    bool Allowed(const std::string& address, int64_t now);
    void Failed(const std::string& address, int64_t now);

private:
    int limit;
    int64_t window;
    // Bounded: addresses whose failures have aged out are dropped.
    std::unordered_map<std::string, std::deque<int64_t>> failures;
};

// A browser's log-in: who it is and the token that must accompany its state changes.
struct ConsoleSession {
    std::string operatorName;
    OperatorRole role = OperatorRole::Viewer;
    std::string csrf;
    int64_t expires = 0;
    std::string tokenHash;  // of the token that opened it: a new token for the name ends it
};

// The sessions the cookie names. Session ids and CSRF tokens are random (256 bits); only the
// id's hash is kept, so a memory dump shows no usable cookie.
class SessionStore {
public:
    explicit SessionStore(int64_t lifetimeSeconds = 12 * 3600) : lifetime(lifetimeSeconds) {}
    // A new session for the operator; the cookie value to set, or a failure of the random source.
    Result<std::string> Open(const Operator& op, int64_t now);
    // The live session of a cookie value; expired ones are gone.
    const ConsoleSession* Find(std::string_view cookie, int64_t now);
    void Close(std::string_view cookie);
    // The key a cookie's session is kept under (its hash), for a connection that outlives the
    // request which opened it to ask later whether its session still stands.
    static std::string KeyOf(std::string_view cookie);
    bool Live(const std::string& key, int64_t now) const;
    // Sessions of operators no longer in the list (or whose role or token changed) end.
    void Retain(const OperatorList& operators);
    size_t Count() const { return sessions.size(); }

private:
    int64_t lifetime;
    std::unordered_map<std::string, ConsoleSession> sessions;  // by the cookie's hash
};

// Compares two secrets in time that depends on their lengths only.
bool SecretsEqual(std::string_view a, std::string_view b);

}  // namespace zpmoni
