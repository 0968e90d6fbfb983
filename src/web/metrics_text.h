// SPDX-License-Identifier: MIT
#pragma once

#include "web/console_backend.h"

#include <string>

namespace zpmoni {

// The snapshot in Prometheus' text exposition format (0.0.4), with HELP and TYPE lines;
// `liveClients` is the console's own gauge.
std::string MetricsText(const MetricsSnapshot& m, size_t liveClients, std::string_view version);

}  // namespace zpmoni
