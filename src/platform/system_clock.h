// SPDX-License-Identifier: MIT
#pragma once

#include "base/clock.h"

namespace zpmoni {

// The calendar fields of t in the system's local time zone.
std::tm SystemLocalTime(int64_t t);

// The machine's clocks: calendar seconds, a monotonic millisecond tick, the system's time zone.
class SystemClock final : public Clock {
public:
    int64_t Now() const override;
    uint32_t TickMs() const override;
    std::tm LocalTime(int64_t t) const override { return SystemLocalTime(t); }
    int64_t MonotonicMs() const override;
};

}  // namespace zpmoni
