// SPDX-License-Identifier: MIT
#include "base/time_list.h"

#include <gtest/gtest.h>

using namespace zpmoni;

TEST(TimeList, ParseReplacesTheListThenFormat)
{
    std::string thirty;
    for (int i = 0; i < 30; ++i)
        thirty += i < TimeOfDayList::kCapacity ? "1:00|" : "2:00|";
    // text, count, formatted
    const std::tuple<std::string, int32_t, std::string> cases[] = {
        {"", 0, ""},
        {"|", 0, ""},
        {"7:90|25:00|6|x|", 3, "8:30|1:00|6:00|"},
        {"3:05|21:30|", 2, "3:05|21:30|"},
        {"3:5", 1, "3:05|"},
        // The colon must follow the hour directly; blanks before numbers are skipped.
        {"4 :7| 4: 7|5:x|x:5|||12:00", 4, "4:00|4:07|5:00|12:00|"},
        // Truncating division and remainder; a huge hour saturates at 2147483647, then wraps.
        {"23:120|-1:-70|99999999999:0|", 3, "1:00|-2:-10|7:00|"},
        {thirty, TimeOfDayList::kCapacity, thirty.substr(0, 5 * TimeOfDayList::kCapacity)},  // the first 24
    };
    for (const auto& [text, count, formatted] : cases) {
        SCOPED_TRACE(text);
        TimeOfDayList list;
        ParseTimeList("9:09|8:08|", list);
        ParseTimeList(text, list);
        EXPECT_EQ(list.count.load(), count);
        EXPECT_EQ(FormatTimeList(list), formatted);
    }
}
