// SPDX-License-Identifier: MIT
#include "packlist/known_aircraft.h"
#include "fuzz/fuzz_target.h"
#include "platform/directory_listing.h"
#include "support/temp_folder.h"
#include "packlist/pack_list_builder.h"

#include <cstdlib>
#include <filesystem>

using namespace zpmoni;

// The same bytes as an aircraft list file, as an aircraft definition file it may name
// ("aircraft/a.dat") and as the pack list file that is appended to. Beside the simulator folder
// lies a definition file that a link, "..", or an absolute name could reach: its identifier
// among the lines appended (where only the input's own may stand) means the build escaped.
FUZZ_TARGET(FuzzPackList)
{
    namespace fs = std::filesystem;
    const fs::path input = InputFile("packs", data, size), base = input.string() + ".d", sim = base / "sim";
    fs::remove_all(base);
    fs::create_directories(sim / "aircraft");
    WriteText(base / "evil.dat", "IDENTIFY ESCAPED\n");
    fs::create_symlink("../../evil.dat", sim / "aircraft/link.dat");
    fs::create_symlink("..", sim / "aircraft/up");
    // Written, not copied: the kernel's file copy can be cut short by the fuzzer's own timer signal.
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    WriteText(sim / "aircraft/air_x.lst", content);
    WriteText(sim / "aircraft/a.dat", content);
    fs::rename(input, sim / "packs.txt");
    KnownAircraft known;
    PackListBuilder builder(SystemDirectoryListing(), known);
    struct : PackListSink { void Line(std::string_view) override {} } sink;
    builder.Build({sim, builder.FindAircraftLists(sim), sim / "packs.txt"}, {}, sink);
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (ReadText(sim / "packs.txt").find("\nESCAPED\n", size) != std::string::npos && IdentifierIn(text) != "ESCAPED")
        std::abort();
    fs::remove_all(base);
    return 0;
}
