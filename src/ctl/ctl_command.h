// SPDX-License-Identifier: MIT
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zpmoni {

// zpmoni ctl [--url URL] [--token-file F] [--json] COMMAND ...: the console's API from a shell.
// Exit status 0 done, 1 refused (by the monitor or for want of permission), 2 cannot reach
// (or a usage error).
int RunCtl(int argc, char** argv, const std::vector<std::string>& args, FILE* out, FILE* err);

}  // namespace zpmoni
