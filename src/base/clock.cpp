// SPDX-License-Identifier: MIT
#include "base/clock.h"

#include <chrono>

namespace zpmoni {

std::tm UtcTime(int64_t t)
{
    using namespace std::chrono;
    const sys_seconds at{seconds{t}};
    const sys_days day = floor<days>(at);
    const year_month_day date{day};
    const hh_mm_ss time{at - day};
    std::tm out{};
    out.tm_year = static_cast<int>(date.year()) - 1900;
    out.tm_mon = static_cast<int>(static_cast<unsigned>(date.month())) - 1;
    out.tm_mday = static_cast<int>(static_cast<unsigned>(date.day()));
    out.tm_hour = static_cast<int>(time.hours().count());
    out.tm_min = static_cast<int>(time.minutes().count());
    out.tm_sec = static_cast<int>(time.seconds().count());
    out.tm_wday = static_cast<int>(weekday{day}.c_encoding());
    out.tm_yday = static_cast<int>((day - sys_days{date.year() / January / 1}).count());
    return out;
}

std::string FormatTime(const std::tm& t, const char* format)
{
    char text[64];
    const size_t n = std::strftime(text, sizeof text, format, &t);
    return std::string(text, n);
}

int64_t CivilSeconds(const std::tm& t)
{
    using namespace std::chrono;
    // Out-of-range fields (a month of 12, a day of 0) carry over as the calendar does.
    const year_month ym = year{t.tm_year + 1900} / January + months{t.tm_mon};
    const sys_days first{ym / 1};
    const int64_t day = (first + days{t.tm_mday - 1}).time_since_epoch().count();
    return day * 86400 + t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
}

}  // namespace zpmoni
