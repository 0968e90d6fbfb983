// SPDX-License-Identifier: MIT
#include "app/replay.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Usage(FILE* to)
{
    std::fputs("usage: zpmoni --replay FILE --local ADDR [--local ADDR]... [--port P]\n"
               "              [--no-checksum] [--packs FILE]\n"
               "       zpmoni --version\n",
               to);
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--version") {
        std::printf("zpmoni %s\n", ZPMONI_VERSION);
        return 0;
    }
    if (!args.empty() && args[0] == "--replay") {
        ReplayOptions options;
        std::string error = ParseReplayArguments({args.begin() + 1, args.end()}, options);
        if (!error.empty()) {
            std::fprintf(stderr, "zpmoni: %s\n", error.c_str());
            Usage(stderr);
            return 2;
        }
        static char buffer[1 << 16];
        std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
        return RunReplay(options, stdout, stderr);
    }
    Usage(stderr);
    return 2;
}
