// SPDX-License-Identifier: MIT
#include "fuzz/fuzz_target.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>


int FuzzDecoder(const uint8_t*, size_t);
int FuzzStream(const uint8_t*, size_t);
int FuzzSettings(const uint8_t*, size_t);
int FuzzPackIndex(const uint8_t*, size_t);
int FuzzListState(const uint8_t*, size_t);
int FuzzCaptureFile(const uint8_t*, size_t);
int FuzzDenyFile(const uint8_t*, size_t);
int FuzzPackList(const uint8_t*, size_t);

// Every input that once found a fault, and the seeds, through the target it belongs to: a fault
// back in the code crashes, aborts or (in the sanitizer build) is reported here.
TEST(FuzzRegressions, KeptInputsRunClean)
{
    const std::pair<const char*, int (*)(const uint8_t*, size_t)> targets[] = {
        {"decoder", FuzzDecoder},      {"stream", FuzzStream},         {"settings", FuzzSettings},
        {"pack_index", FuzzPackIndex}, {"list_state", FuzzListState}, {"capture_file", FuzzCaptureFile},
        {"deny_file", FuzzDenyFile},   {"pack_list", FuzzPackList}};
    int inputs = 0;
    for (auto [name, target] : targets) {
        for (const char* kind : {"regressions", "corpus"}) {
            std::error_code none;  // a target may have kept no inputs of a kind
            for (const auto& file : std::filesystem::directory_iterator(std::filesystem::path(ZPMONI_FUZZ_DIR) / kind / name, none)) {
                std::ifstream in(file.path(), std::ios::binary);
                const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
                target(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
                ++inputs;
            }
        }
    }
    EXPECT_GE(inputs, 12);
}
