// SPDX-License-Identifier: MIT
#include "access/access_service.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

using namespace zpmoni;

namespace {

namespace fs = std::filesystem;

// An ipfilter.txt that cannot be written (as root too: something else in its place, or no
// folder) is told in the error log once, also through a ban, and again only after a write in
// between succeeded. Nothing here reaches nftables: the ban is of text that is no address.
TEST(AccessService, AFileThatCannotBeWrittenIsToldOncePerEpisode)
{
    TempFolder dir;
    const std::tuple<fs::path, std::function<void(const fs::path&)>, std::string> cases[] = {
        {dir.path / "a", [](const fs::path& f) { fs::create_directory(f); }, "not a regular file"},
        {dir.path / "b", [&](const fs::path& f) { fs::create_symlink(dir.path / "elsewhere", f); }, "not a regular file"},
        {dir.path / "gone", [](const fs::path& f) { fs::remove(f.parent_path()); }, "No such file or directory"},
    };
    for (const auto& [folder, spoil, cause] : cases) {
        fs::create_directories(folder);
        const fs::path file = folder / "ipfilter.txt";
        std::vector<std::string> told;  // error and action log lines
        AccessService::Links links;
        links.errorLog = [&](std::string_view line) { told.emplace_back(line); };
        links.actionLog = [&](auto, auto action, auto target, auto) { told.push_back(std::string(action) += target); };
        AccessService access(folder.string(), folder.string(), links);
        const std::string problem = "Cannot write " + file.string() + ": " + cause;

        spoil(file);
        EXPECT_EQ(access.Save().error(), problem);
        EXPECT_FALSE(access.Ban("window", "bogus", "typo"));
        EXPECT_FALSE(access.Save() || !access.Summary().fileFailing);
        fs::remove(file);
        fs::create_directories(folder);
        EXPECT_TRUE(access.Save());
        fs::remove(file);
        spoil(file);
        EXPECT_FALSE(access.Save());
        EXPECT_EQ(told, (std::vector<std::string>{problem, "Cannnot add filter", "deny failedbogus", problem})) << cause;
    }
}

}  // namespace
