// SPDX-License-Identifier: MIT
// Local time is UTC in every test, however the runner was started.
#include <cstdlib>
#include <ctime>

namespace {
const bool utc = [] {
    setenv("TZ", "UTC", 1);
    tzset();
    return true;
}();
}  // namespace
