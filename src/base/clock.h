// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace zpmoni {

// Every "now" of the logic layer comes from here, so tests and the offline replay drive time.
class Clock {
public:
    virtual ~Clock() = default;
    // Calendar seconds since 1970.
    virtual int64_t Now() const = 0;
    // Millisecond tick that wraps at 2^32, like the tick counter the rates are built on.
    virtual uint32_t TickMs() const = 0;
    // The calendar fields of t in the local time zone.
    virtual std::tm LocalTime(int64_t t) const = 0;
    // Milliseconds on a clock that setting the calendar clock does not move: elapsed time is
    // measured on it. A clock without one of its own (a replay of recorded times) counts its
    // calendar seconds.
    virtual int64_t MonotonicMs() const { return Now() * 1000; }
};

// Seconds from 1970-01-01 00:00 to the broken-down time, taken as UTC: the local calendar
// as a line of seconds, without the C library's time-zone state.
int64_t CivilSeconds(const std::tm& t);

// The calendar fields of t in UTC, without the C library's time-zone state.
std::tm UtcTime(int64_t t);
// strftime of a broken-down time; at most 63 characters.
std::string FormatTime(const std::tm& t, const char* format);

// A clock that only moves when told to; its local time is UTC unless given another zone.
// Its monotonic reading follows `seconds` except for the steps it was told of.
class ManualClock final : public Clock {
public:
    int64_t Now() const override { return seconds; }
    uint32_t TickMs() const override { return tick; }
    std::tm LocalTime(int64_t t) const override { return zone(t); }
    int64_t MonotonicMs() const override { return (seconds - stepped) * 1000; }
    // Sets the calendar clock by `by` seconds, as an administrator or time daemon would.
    void Step(int64_t by) { seconds += by, stepped += by; }
    int64_t seconds = 0;
    int64_t stepped = 0;
    uint32_t tick = 0;
    std::tm (*zone)(int64_t) = UtcTime;
};

}  // namespace zpmoni
