// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

// The argument vector posix_spawn takes: pointers into argv's strings, ended by a null pointer.
// Valid while argv lives unchanged.
inline std::vector<char*> SpawnArgs(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    return args;
}
