// SPDX-License-Identifier: MIT
#pragma once

#include "base/monitor_settings.h"

#include <cstdint>

namespace zpmoni {

// What the start-up page of the settings sheet edits, as the sheet hands it in and takes it back:
// the settings keys of its page, and the main window's own values beside them. Flags are 0 or 1
// once the page has read its check boxes; a page never shown returns them as given.
struct ServerStartValues {
    MonitorSettings settings;
    int32_t displayLogin = 0;
    int32_t displayJoin = 0;
    int32_t createLogfile = 0;
    double closeSeconds = 0.0;  // error-dialog watch period
};

}  // namespace zpmoni
