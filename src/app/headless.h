// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace zpmoni {

// Runs the monitor without windows on a QCoreApplication until SIGINT or SIGTERM. Prints every
// daily-log line as it is written, the chat, and the status line whenever it changes; error-log
// lines go to stderr too.
int RunHeadless(int argc, char** argv, const std::string& workdir);

}  // namespace zpmoni
