// SPDX-License-Identifier: MIT
#include "web/console_guard.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <algorithm>

namespace zpmoni {

namespace {

// More live sessions than this and the oldest go: log-ins cannot grow memory without bound.
constexpr size_t kMaxSessions = 1000;
// Addresses kept by the limiter before a sweep of the aged-out ones.
constexpr size_t kLimiterSweepAt = 1024;

std::string Lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string Trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return std::string(text);
}

std::string SessionKey(std::string_view cookie)
{
    return QCryptographicHash::hash(QByteArrayView(cookie.data(), static_cast<qsizetype>(cookie.size())),
                                    QCryptographicHash::Sha256)
        .toStdString();
}

}  // namespace

HostCheck::HostCheck(std::string listenHost, uint16_t port, std::vector<std::string> names, bool tls)
    : scheme(tls ? "https" : "http")
{
    const std::string suffix = ":" + std::to_string(port);
    // The browser leaves the port out when it is the scheme's own.
    const bool defaultPort = (tls && port == 443) || (!tls && port == 80);
    auto add = [&](const std::string& name) {
        if (name.empty())
            return;
        const std::string lower = Lower(name);
        hosts.push_back(lower + suffix);
        if (defaultPort)
            hosts.push_back(lower);
    };
    listenHost = Lower(Trimmed(listenHost));
    add(listenHost);
    if (listenHost.rfind("127.", 0) == 0)
        add("localhost");
    for (const std::string& name : names)
        add(Trimmed(name));
}

bool HostCheck::HostAllowed(std::string_view host) const
{
    if (host.empty())
        return false;
    const std::string lower = Lower(host);
    return std::find(hosts.begin(), hosts.end(), lower) != hosts.end();
}

bool HostCheck::OriginAllowed(std::string_view origin) const
{
    const std::string lower = Lower(origin);
    const std::string prefix = scheme + "://";
    if (lower.size() <= prefix.size() || lower.compare(0, prefix.size(), prefix) != 0)
        return false;  // "null" (a sandboxed page or a file) among them
    return HostAllowed(std::string_view(lower).substr(prefix.size()));
}

bool LoginLimiter::Allowed(const std::string& address, int64_t now)
{
    const auto it = failures.find(address);
    if (it == failures.end())
        return true;
    std::deque<int64_t>& times = it->second;
    while (!times.empty() && times.front() <= now - window)
        times.pop_front();
    if (times.empty()) {
        failures.erase(it);
        return true;
    }
    return static_cast<int>(times.size()) < limit;
}

void LoginLimiter::Failed(const std::string& address, int64_t now)
{
    if (failures.size() >= kLimiterSweepAt) {
        for (auto it = failures.begin(); it != failures.end();) {
            if (it->second.empty() || it->second.back() <= now - window)
                it = failures.erase(it);
            else
                ++it;
        }
    }
    std::deque<int64_t>& times = failures[address];
    while (!times.empty() && times.front() <= now - window)
        times.pop_front();
    times.push_back(now);
    // Only the newest `limit` matter for the refusal.
    while (static_cast<int>(times.size()) > std::max(limit, 1))
        times.pop_front();
}

Result<std::string> SessionStore::Open(const Operator& op, int64_t now)
{
    Result<std::string> cookie = RandomText(32);
    if (!cookie)
        return cookie;
    Result<std::string> csrf = RandomText(32);
    if (!csrf)
        return Failure{csrf.error()};
    if (sessions.size() >= kMaxSessions) {
        for (auto it = sessions.begin(); it != sessions.end();) {
            if (it->second.expires <= now)
                it = sessions.erase(it);
            else
                ++it;
        }
    }
    while (sessions.size() >= kMaxSessions) {
        const auto oldest = std::min_element(sessions.begin(), sessions.end(), [](const auto& a, const auto& b) {
            return a.second.expires < b.second.expires;
        });
        sessions.erase(oldest);
    }
    sessions[SessionKey(cookie.value())] = ConsoleSession{op.name, op.role, csrf.value(), now + lifetime, op.tokenHash};
    return cookie;
}

const ConsoleSession* SessionStore::Find(std::string_view cookie, int64_t now)
{
    if (cookie.empty())
        return nullptr;
    const auto it = sessions.find(SessionKey(cookie));
    if (it == sessions.end())
        return nullptr;
    if (it->second.expires <= now) {
        sessions.erase(it);
        return nullptr;
    }
    return &it->second;
}

void SessionStore::Close(std::string_view cookie)
{
    sessions.erase(SessionKey(cookie));
}

std::string SessionStore::KeyOf(std::string_view cookie)
{
    return SessionKey(cookie);
}

bool SessionStore::Live(const std::string& key, int64_t now) const
{
    const auto it = sessions.find(key);
    return it != sessions.end() && it->second.expires > now;
}

void SessionStore::Retain(const OperatorList& operators)
{
    for (auto it = sessions.begin(); it != sessions.end();) {
        const Operator* op = operators.ByName(it->second.operatorName);
        if (!op || op->role != it->second.role || op->tokenHash != it->second.tokenHash)
            it = sessions.erase(it);
        else
            ++it;
    }
}

bool SecretsEqual(std::string_view a, std::string_view b)
{
    // Every byte of `a` is looked at whatever matched before; a length difference only shows in
    // the result.
    unsigned diff = a.size() == b.size() ? 0u : 1u;
    const size_t n = a.size();
    for (size_t i = 0; i < n; ++i) {
        const unsigned char other = b.empty() ? 0 : static_cast<unsigned char>(b[i % b.size()]);
        diff |= static_cast<unsigned char>(a[i]) ^ other;
    }
    // Keeps the compiler from ending the loop at the first difference.
    volatile unsigned result = diff;
    return result == 0;
}

}  // namespace zpmoni
