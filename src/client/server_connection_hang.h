// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace zpmoni {

// Tells a hung server from a quiet one by the client connection's own traffic. The server is
// hung when nothing came from it for the limit while a connect or log-on of ours waited for an
// answer. A quiet stream alone is not enough: half-way through the limit the connection logs
// on afresh, which a living server answers at once. Times are monotonic milliseconds.
class HangWatch {
public:
    enum class Verdict { None, Probe, Hung };
    void Arm(int64_t limitSeconds) { limitMs = limitSeconds > 0 ? limitSeconds * 1000 : 0; }
    // A connect started or a log-on sent: an answer is due from now.
    void Attempt(int64_t ms);
    // Bytes from the server.
    void Heard(int64_t ms);
    // Nobody listens, or the server closed the connection, or we stopped: down, not hung.
    void Reset();
    Verdict Tick(int64_t ms);
    // How long the server has been silent.
    int64_t SilentSeconds(int64_t ms) const { return since == INT64_MIN ? 0 : (ms - since) / 1000; }

private:
    int64_t limitMs = 0;
    int64_t since = INT64_MIN;  // start of the silence
    bool awaiting = false;      // a connect or log-on is unanswered
    bool probed = false;
    bool reported = false;      // once per hang
};

inline void HangWatch::Attempt(int64_t ms)
{
    if (since == INT64_MIN)
        since = ms;
    awaiting = true;
}

inline void HangWatch::Heard(int64_t ms)
{
    since = ms;
    awaiting = probed = reported = false;
}

inline void HangWatch::Reset()
{
    since = INT64_MIN;
    awaiting = probed = reported = false;
}

inline HangWatch::Verdict HangWatch::Tick(int64_t ms)
{
    if (limitMs == 0 || since == INT64_MIN || reported)
        return Verdict::None;
    const int64_t silent = ms - since;
    if (silent >= limitMs && awaiting) {
        reported = true;
        return Verdict::Hung;
    }
    if (silent >= limitMs / 2 && !awaiting && !probed) {
        probed = true;
        return Verdict::Probe;
    }
    return Verdict::None;
}

}  // namespace zpmoni
