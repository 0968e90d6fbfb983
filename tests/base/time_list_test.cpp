// SPDX-License-Identifier: MIT
#include "base/time_list.h"

#include <gtest/gtest.h>

namespace {

struct ParseCase {
    const char* text;
    int32_t count;
    const char* formatted;
};

TEST(TimeList, ParseThenFormat)
{
    const ParseCase cases[] = {
        {"", 0, ""},
        {"|", 0, ""},
        {"7:90|25:00|6|x|", 3, "8:30|1:00|6:00|"},
        {"3:05|21:30|", 2, "3:05|21:30|"},
        {"3:5", 1, "3:05|"},
        {"4 :7|", 1, "4:00|"},           // the colon must follow the hour directly
        {" 4: 7|", 1, "4:07|"},
        {"5:x|x:5|", 1, "5:00|"},
        {"23:120|", 1, "1:00|"},
        {"-1:-70|", 1, "-2:-10|"},       // truncating division and remainder
        {"99999999999:0|", 1, "7:00|"},  // saturates at 2147483647, then wraps
        {"||12:00", 1, "12:00|"},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.text);
        TimeOfDayList list;
        ParseTimeList(c.text, list);
        EXPECT_EQ(list.count.load(), c.count);
        EXPECT_EQ(FormatTimeList(list), c.formatted);
    }
}

TEST(TimeList, KeepsTheFirstTwentyFourPieces)
{
    std::string text;
    for (int i = 0; i < 30; ++i)
        text += i < TimeOfDayList::kCapacity ? "1:00|" : "2:00|";
    TimeOfDayList list;
    ParseTimeList(text, list);
    EXPECT_EQ(list.count.load(), TimeOfDayList::kCapacity);
    EXPECT_EQ(FormatTimeList(list), text.substr(0, 5 * TimeOfDayList::kCapacity));
}

TEST(TimeList, ReplacingDropsOldEntries)
{
    TimeOfDayList list;
    ParseTimeList("1:00|2:00|3:00|", list);
    TimeOfDayList other;
    ParseTimeList("4:10|", other);
    list.Assign(other);
    EXPECT_EQ(FormatTimeList(list), "4:10|");
    ParseTimeList("|", list);
    EXPECT_EQ(list.count.load(), 0);
}

} // namespace
