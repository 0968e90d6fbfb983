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
    const fs::path gone = dir.path / "gone";
    const std::tuple<fs::path, std::function<void(const fs::path&)>, std::string> cases[] = {
        {dir.path, [](const fs::path& f) { fs::create_directory(f); }, "not a regular file"},
        {dir.path, [&](const fs::path& f) { fs::create_symlink(dir.path / "elsewhere", f); }, "not a regular file"},
        {gone, [&](const fs::path&) { fs::remove(gone); }, "No such file or directory"},
    };
    for (const auto& [folder, spoil, cause] : cases) {
        SCOPED_TRACE(cause);
        fs::create_directories(folder);
        const fs::path file = folder / "ipfilter.txt";
        std::vector<std::string> told, actions;
        AccessService::Links links;
        links.errorLog = [&](std::string_view line) { told.emplace_back(line); };
        links.actionLog = [&](auto who, auto action, auto target, auto) {
            actions.push_back(std::string(who) + " " + std::string(action) + " " + std::string(target));
        };
        AccessService access(folder.string(), folder.string(), links);
        const std::string problem = "Cannot write " + file.string() + ": " + cause;

        spoil(file);
        const Status saved = access.Save();
        EXPECT_EQ(saved.error(), problem);
        EXPECT_FALSE(access.Ban("window", "bogus", "typo"));
        EXPECT_FALSE(access.Save());
        EXPECT_TRUE(access.Summary().fileFailing);
        EXPECT_EQ(told, (std::vector<std::string>{problem, "Cannnot add filter"}));
        EXPECT_EQ(actions, std::vector<std::string>{"window deny failed bogus"});

        fs::remove(file);
        fs::create_directories(folder);
        EXPECT_TRUE(access.Save());
        EXPECT_EQ(ReadText(file.string()), "");
        fs::remove(file);
        spoil(file);
        EXPECT_FALSE(access.Save());
        EXPECT_EQ(told, (std::vector<std::string>{problem, "Cannnot add filter", problem}));
        fs::remove_all(file);
    }
}

}  // namespace
