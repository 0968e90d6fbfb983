// SPDX-License-Identifier: MIT
#include "ui/pack_list_builder.h"

#include "app/packlist_command.h"
#include "capture/known_aircraft.h"
#include "platform/directory_listing.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using Files = std::map<std::string, std::string>;

struct Lines final : PackListSink {
    std::string text;
    int done = 0;
    std::atomic<int32_t>* stopAfterFirst = nullptr;
    void Line(std::string_view line) override { (text += line) += '\n'; }
    void Progress(int n) override
    {
        done = n;
        if (stopAfterFirst)
            stopAfterFirst->store(0);
    }
};

struct Built {
    std::string output, lines;
    int done;
};

std::string WithoutFolder(std::string text, const std::string& folder)
{
    for (size_t at; (at = text.find(folder)) != std::string::npos;)
        text.replace(at, folder.size(), "SIM");
    return text;
}

void MakeSimulator(const TempFolder& dir, const Files& files)
{
    for (const auto& [path, text] : files) {
        std::filesystem::create_directories((dir.path / "sim" / path).parent_path());
        if (text == "->")  // a list file that cannot be opened
            std::filesystem::create_symlink(dir.File("nowhere"), dir.path / "sim" / path);
        else
            dir.Write("sim/" + path, text);
    }
}

// Builds from a simulator folder made of `files` into "out.txt" that first holds `before`.
Built Build(const Files& files, const std::string& before, bool stopAfterFirst = false)
{
    TempFolder dir;
    MakeSimulator(dir, files);
    if (!before.empty())
        dir.Write("out.txt", before);
    KnownAircraft known;
    PackListBuilder builder(SystemDirectoryListing(), known);
    const std::string sim = dir.File("sim");
    PackListJob job{sim, builder.FindAircraftLists(sim), dir.File("out.txt")};
    std::atomic<int32_t> busy{1};
    Lines sink;
    sink.stopAfterFirst = stopAfterFirst ? &busy : nullptr;
    builder.Build(job, busy, sink);
    return {dir.Read("out.txt"), WithoutFolder(sink.text, sim), sink.done};
}

const Files kJets = {{"aircraft/air_a.lst", "aircraft/a1.dat x\naircraft/a2.dat x\n"},
                     {"aircraft/air_b.lst", "aircraft/b1.dat x\n"},
                     {"aircraft/a1.dat", "IDENTIFY A1\n"},
                     {"aircraft/a2.dat", "IDENTIFY A2\n"},
                     {"aircraft/b1.dat", "IDENTIFY B1\n"}};

TEST(PackListBuilderTest, AppendsWhatTheFileDoesNotNameYet)
{
    struct Case {
        const char* name;
        Files files;
        std::string before, after;
    };
    const std::string built = "\nPack=air_a\nA1\nA2\n\nPack=air_b\nB1\n";
    Files a3After = kJets, a3Before = kJets, windows, lines;
    a3After["aircraft/air_a.lst"] = "aircraft/a1.dat x\naircraft/a3.dat x\n";
    a3After["aircraft/a3.dat"] = "IDENTIFY A3\n";
    a3After.erase("aircraft/air_b.lst");
    a3Before = a3After;
    a3Before["aircraft/air_a.lst"] = "aircraft/a3.dat x\naircraft/a1.dat x\n";
    windows = {{"Aircraft/AIR_JETS.LST", "aircraft\\F16.DAT aircraft\\f16.dnm\r\nAIRCRAFT\\Sub\\t2.dat\tx\r\n"},
               {"Aircraft/f16.dat", "REM\r\nIDENTIFY \"F-16C FALCON\"  \r\n"},
               {"Aircraft/sub/T2.DAT", "IDENTIFY T-2\r\nIDENTIFY second\r\n"}};
    lines = {{"aircraft/air_x.lst", "noblank\n" + std::string(1500, 'z') + " x\naircraft/missing.dat x\n"
                                    "aircraft/empty.dat x\naircraft/long.dat x\n"},
             {"aircraft/empty.dat", "IDENTIFY \"\" \n"},
             {"aircraft/long.dat", std::string(255, 'q') + "IDENTIFY CUT\nIDENTIFY LONG\n"}};
    const Case cases[] = {
        {"new file", kJets, "", built},
        {"built before", kJets, built, built},
        {"operator's pack", a3After, "Pack=MyJets\nA1\n", "Pack=MyJets\nA1\n\nPack=MyJets\nA3\n"},
        {"new first", a3Before, "Pack=MyJets\nA1\n", "Pack=MyJets\nA1\n\nPack=air_a\nA3\n"},
        {"windows folder", windows, "", "\nPack=AIR_JETS\nF-16C_FALCON\nT-2\n"},
        {"odd lines", lines, "", "\nPack=air_x\nLONG\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Build(c.files, c.before).output, c.after) << c.name;
}

TEST(PackListBuilderTest, ReportsEachListFileAndStopsBetweenThem)
{
    Files files = kJets;
    files["aircraft/air_0.lst"] = "->";
    Built run = Build(files, "");
    EXPECT_EQ(run.lines, "Scaning aircraft/air*.lst ...\nSIM/aircraft/air_0.lst\nSIM/aircraft/air_a.lst\n"
                         "SIM/aircraft/air_b.lst\nDone\n");
    EXPECT_EQ(run.done, 3);
    run = Build(kJets, "", true);
    EXPECT_EQ(run.lines, "Scaning aircraft/air*.lst ...\nSIM/aircraft/air_a.lst\nDone\n");
    EXPECT_EQ(run.output, "\nPack=air_a\nA1\nA2\n");
    EXPECT_EQ(Build({{"planes/air_a.lst", "x y\n"}}, "").lines, "Scaning aircraft/air*.lst ...\nDone\n");
}

TEST(PackListBuilderTest, CommandLineBuildsWhatTheSettingsName)
{
    TempFolder dir;
    MakeSimulator(dir, kJets);
    dir.Write("Zpmoni.ini", "[ProgramData]\nFolderPath=sim\nPackFile=packs.txt\n");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out, err;
    };
    const std::string done = "Scaning aircraft/air*.lst ...\nSIM/aircraft/air_a.lst\nSIM/aircraft/air_b.lst\nDone\n";
    const Case cases[] = {
        {{"--workdir", dir.path.string()}, 0, done, ""},
        {{"--workdir", dir.path.string(), "--folder", "nowhere"}, 1, "", "aircraftフォルダが見つかりません\n"},
        {{"--workdir", dir.path.string(), "--output", "no/such/folder"}, 1, "", "zpmoni: cannot write "},
        {{"--folder"}, 2, "", "zpmoni: unexpected argument: --folder\n"},
    };
    for (const Case& c : cases) {
        std::unique_ptr<FILE, int (*)(FILE*)> out(std::tmpfile(), &std::fclose), err(std::tmpfile(), &std::fclose);
        EXPECT_EQ(RunBuildPacklist(c.args, SystemDirectoryListing(), out.get(), err.get()), c.status);
        std::string texts[2];
        for (int i = 0; i < 2; ++i) {
            FILE* f = i == 0 ? out.get() : err.get();
            texts[i].resize(static_cast<size_t>(std::ftell(f)));
            std::rewind(f);
            EXPECT_EQ(std::fread(texts[i].data(), 1, texts[i].size(), f), texts[i].size());
        }
        EXPECT_EQ(WithoutFolder(texts[0], dir.File("sim")), c.out);
        EXPECT_TRUE(texts[1].starts_with(c.err)) << texts[1];
    }
    EXPECT_EQ(dir.Read("packs.txt"), "\nPack=air_a\nA1\nA2\n\nPack=air_b\nB1\n");
}

}  // namespace
