// SPDX-License-Identifier: MIT
#pragma once

#include "base/monitor_settings.h"

#include <cstdio>
#include <string>
#include <vector>

namespace zpmoni {

struct ReplayOptions {
    std::string file;
    std::vector<std::string> localAddresses;
    int port = kDefaultPort;
    bool checksum = true;
    std::string packFile;
};

// Parses the arguments that follow --replay; an error text when they make no sense.
std::string ParseReplayArguments(const std::vector<std::string>& args, ReplayOptions& options);

// Runs a capture file through the decoder and prints its events and a summary to `out`.
// Exit status: 0, or 2 when the file cannot be read (message on `err`).
int RunReplay(const ReplayOptions& options, FILE* out, FILE* err);

}  // namespace zpmoni
