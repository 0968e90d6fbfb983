// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>


// A fuzz target is a function of the input bytes. Built for libFuzzer it is the entry point;
// otherwise the regression test calls it on every input that once found a fault.
#ifdef ZPMONI_FUZZ_MAIN
#define FUZZ_TARGET(name)                                                                       \
    int name(const uint8_t* data, size_t size);                                                 \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return name(data, size); } \
    int name(const uint8_t* data, size_t size)
#else
#define FUZZ_TARGET(name) int name(const uint8_t* data, size_t size)
#endif

// The input as a file of the process's own, for readers that take a path; in memory when the
// machine has a tmpfs, since a target writes one for every input.
inline std::string InputFile(const char* name, const uint8_t* data, size_t size)
{
    const std::string path = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/zpmoni-fuzz-" +
                             std::to_string(::getpid()) + "-" + name;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return path;
}
