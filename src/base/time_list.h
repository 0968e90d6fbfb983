// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace zpmoni {

// One time of day of a schedule. Values are stored as read, so a negative hour or minute gives
// an entry that matches no time of day.
struct TimeOfDayEntry {
    std::atomic<int32_t> hour{0};
    std::atomic<int32_t> minute{0};
};

// A schedule read once a second by the schedule thread while the main thread may replace it.
// Every writer clears the count first, fills the entries, then stores the new count, so the
// reader never sees entries beyond the ones being written; and every writer makes `version` odd
// while it writes, so that Read() returns the old list or the new one, never a mix of both.
struct TimeOfDayList {
    static constexpr int kCapacity = 24;
    std::atomic<int32_t> count{0};
    std::array<TimeOfDayEntry, kCapacity> entries;
    std::atomic<uint32_t> version{0};

    struct Snapshot {
        int32_t count = 0;
        struct { int32_t hour, minute; } entries[kCapacity];
    };

    // Replaces the list for a reader on another thread: count 0, entries, then the new count.
    void Assign(const TimeOfDayList& other);
    // A consistent copy; callable from any thread while one thread writes.
    Snapshot Read() const;
};

// Reads pieces of "hour:minute" each closed by "|" (scanned like "%d:%d|") into the list,
// replacing it as Assign does. Minutes above 59 carry into the hour and the hour wraps at 24;
// pieces that do not begin with a number are skipped; pieces beyond kCapacity are ignored.
void ParseTimeList(std::string_view text, TimeOfDayList& list);

// "%d:%02d|" per entry; an empty list gives "".
std::string FormatTimeList(const TimeOfDayList& list);

}  // namespace zpmoni
