// SPDX-License-Identifier: MIT
#include "base/time_list.h"

#include "base/ascii.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <optional>
#include <thread>

namespace zpmoni {

namespace {

// "%d" at pos: skips white space, then an optional sign and at least one digit. Values beyond
// 32 bits saturate instead of overflowing.
std::optional<int32_t> ScanInt(std::string_view text, size_t& pos)
{
    std::string_view rest = text.substr(pos);
    const bool negative = TakeSpaceAndSign(rest);
    const size_t digitsStart = text.size() - rest.size();
    size_t p = digitsStart;
    int64_t value = 0;
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
        value = std::min(value * 10 + (text[p] - '0'), kLimit);
        ++p;
    }
    if (p == digitsStart)
        return std::nullopt;
    if (negative)
        value = -value;
    pos = p;
    return static_cast<int32_t>(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}

int32_t ClampedCount(const TimeOfDayList& list)
{
    return std::clamp(list.count.load(), int32_t{0}, int32_t{TimeOfDayList::kCapacity});
}

} // namespace

void TimeOfDayList::Assign(const TimeOfDayList& other)
{
    if (&other == this)
        return;
    int32_t n = ClampedCount(other);
    version.fetch_add(1);
    count.store(0);
    for (int32_t i = 0; i < n; ++i) {
        entries[i].hour.store(other.entries[i].hour.load());
        entries[i].minute.store(other.entries[i].minute.load());
    }
    count.store(n);
    version.fetch_add(1);
}

TimeOfDayList::Snapshot TimeOfDayList::Read() const
{
    Snapshot copy;
    for (;;) {
        const uint32_t before = version.load();
        if (before & 1) {
            std::this_thread::yield();
            continue;
        }
        copy.count = ClampedCount(*this);
        for (int32_t i = 0; i < copy.count; ++i)
            copy.entries[i] = {entries[i].hour.load(), entries[i].minute.load()};
        if (version.load() == before)
            return copy;
    }
}

void ParseTimeList(std::string_view text, TimeOfDayList& list)
{
    list.version.fetch_add(1);
    list.count.store(0);
    int32_t n = 0;
    size_t piece = 0;
    while (n < TimeOfDayList::kCapacity) {
        size_t pos = piece;
        if (std::optional<int32_t> hour = ScanInt(text, pos)) {
            int32_t minute = 0;
            if (pos < text.size() && text[pos] == ':') {
                ++pos;
                minute = ScanInt(text, pos).value_or(0);
            }
            // 64 bits so that a huge hour plus the carried minutes cannot overflow; C++ division
            // truncates toward zero and the remainder takes the dividend's sign, as wanted.
            int64_t h = int64_t{*hour} + minute / 60;
            list.entries[n].hour.store(static_cast<int32_t>(h % 24));
            list.entries[n].minute.store(minute % 60);
            ++n;
        }
        size_t bar = text.find('|', piece);
        if (bar == std::string_view::npos)
            break;
        piece = bar + 1;
    }
    list.count.store(n);
    list.version.fetch_add(1);
}

std::string FormatTimeList(const TimeOfDayList& list)
{
    std::string text;
    int32_t n = ClampedCount(list);
    for (int32_t i = 0; i < n; ++i) {
        char piece[32];
        int len = std::snprintf(piece, sizeof piece, "%d:%02d|", static_cast<int>(list.entries[i].hour.load()),
                                static_cast<int>(list.entries[i].minute.load()));
        text.append(piece, static_cast<size_t>(len));
    }
    return text;
}

}  // namespace zpmoni
