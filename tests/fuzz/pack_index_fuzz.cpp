// SPDX-License-Identifier: MIT
#include "packlist/pack_index.h"
#include "fuzz/fuzz_target.h"

#include <algorithm>
#include <string_view>

using namespace zpmoni;

// A pack list file of any bytes, then every line of it looked up as an aircraft name.
FUZZ_TARGET(FuzzPackIndex)
{
    const std::string path = InputFile("packs.txt", data, size);
    PackIndex index;
    index.Load(path);
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    while (!rest.empty()) {
        const size_t end = std::min(rest.find('\n'), rest.size());
        (void)index.Lookup(rest.substr(0, end));
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    std::remove(path.c_str());
    return 0;
}
