// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>

// Every "now" of the logic layer comes from here, so tests and the offline replay drive time.
class Clock {
public:
    virtual ~Clock() = default;
    // Calendar seconds since 1970.
    virtual int64_t Now() const = 0;
    // Millisecond tick that wraps at 2^32, like the tick counter the rates are built on.
    virtual uint32_t TickMs() const = 0;
};

class SystemClock final : public Clock {
public:
    int64_t Now() const override { return static_cast<int64_t>(std::time(nullptr)); }
    uint32_t TickMs() const override
    {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
        return static_cast<uint32_t>(ms.count());
    }
};

// A clock that only moves when told to.
class ManualClock final : public Clock {
public:
    int64_t Now() const override { return seconds; }
    uint32_t TickMs() const override { return tick; }
    int64_t seconds = 0;
    uint32_t tick = 0;
};
