// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace zpmoni {

// What the G limiter page edits. The negative limit is held with its sign; the page shows its
// magnitude.
struct GlimitValues {
    int32_t enable = 0;
    double negative = 0.0;
    double positive = 0.0;
    uint32_t interval = 0;  // damage interval, milliseconds
    uint32_t version = 0;   // protocol version of the log-on
};

}  // namespace zpmoni
