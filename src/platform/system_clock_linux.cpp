// SPDX-License-Identifier: MIT
#include "platform/system_clock.h"

#include <chrono>

namespace zpmoni {

std::tm SystemLocalTime(int64_t t)
{
    const std::time_t when = static_cast<std::time_t>(t);
    std::tm local{};
    localtime_r(&when, &local);
    return local;
}

int64_t SystemClock::Now() const
{
    return static_cast<int64_t>(std::time(nullptr));
}

uint32_t SystemClock::TickMs() const
{
    return static_cast<uint32_t>(MonotonicMs());
}

int64_t SystemClock::MonotonicMs() const
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return ms.count();
}

}  // namespace zpmoni
