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

void MakeSimulator(const TempFolder& dir, const Files& files)
{
    for (const auto& [path, text] : files) {
        std::filesystem::create_directories((dir.path / "sim" / path).parent_path());
        // "->" stands for a list file that cannot be opened.
        text == "->" ? std::filesystem::create_symlink(dir.File("nowhere"), dir.path / "sim" / path)
                     : void(dir.Write("sim/" + path, text));
    }
}

std::string WithoutFolder(std::string text, const std::string& folder)
{
    for (size_t at; (at = text.find(folder)) != std::string::npos;)
        text.replace(at, folder.size(), "SIM");
    return text;
}

struct Built { int status; std::string output, printed; };

// The command-line build in a working folder whose settings name the simulator folder made of
// `files` and the pack list "out.txt", which first holds `before`.
Built Build(const Files& files, const std::string& before, std::vector<std::string> args = {})
{
    TempFolder dir;
    MakeSimulator(dir, files);
    dir.Write("Zpmoni.ini", "[ProgramData]\nFolderPath=sim\nPackFile=out.txt\n");
    if (!before.empty())
        dir.Write("out.txt", before);
    args.insert(args.begin(), {"--workdir", dir.path.string()});
    std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(dir.File("printed").c_str(), "w"), &std::fclose);
    const int status = RunBuildPacklist(args, SystemDirectoryListing(), out.get(), out.get());
    out.reset();
    return {status, dir.Read("out.txt"), WithoutFolder(dir.Read("printed"), dir.File("sim"))};
}

const Files kJets = {{"aircraft/air_a.lst", "aircraft/a1.dat x\naircraft/a2.dat x\n"},
                     {"aircraft/air_b.lst", "aircraft/b1.dat x\n"}, {"aircraft/a1.dat", "IDENTIFY A1\n"},
                     {"aircraft/a2.dat", "IDENTIFY A2\n"}, {"aircraft/b1.dat", "IDENTIFY B1\n"}};

TEST(PackListBuilderTest, AppendsWhatTheFileDoesNotNameYet)
{
    // What the file holds before and after; how the command ends and what it prints first.
    struct Case { const char* name; Files files; std::string before, after; std::vector<std::string> args = {};
                  int status = 0; std::string printed = "Scaning aircraft/air*.lst ...\n"; };
    const std::string built = "\nPack=air_a\nA1\nA2\n\nPack=air_b\nB1\n";
    Files a3After = {{"aircraft/air_a.lst", "aircraft/a1.dat x\naircraft/a3.dat x\n"},
                     {"aircraft/a1.dat", "IDENTIFY A1\n"}, {"aircraft/a3.dat", "IDENTIFY A3\n"}};
    Files a3Before = a3After, windows, lines;
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
        {"lists named", kJets, "", built, {}, 0, "Scaning aircraft/air*.lst ...\nSIM/aircraft/air_a.lst\n"
                                                 "SIM/aircraft/air_b.lst\nDone\n"},
        {"no lists", {{"planes/air_a.lst", "x y\n"}}, "", "", {}, 1, "aircraftフォルダが見つかりません\n"},
        {"unwritable", kJets, "", "", {"--output", "no/such/out.txt"}, 1, "zpmoni: cannot write "},
        {"usage", kJets, "", "", {"--folder"}, 2, "zpmoni: unexpected argument: --folder\n"},
    };
    for (const Case& c : cases) {
        const Built built = Build(c.files, c.before, c.args);
        EXPECT_EQ(built.output, c.after) << c.name;
        EXPECT_TRUE(built.status == c.status && built.printed.starts_with(c.printed)) << c.name << built.printed;
    }
}

TEST(PackListBuilderTest, StopsBeforeTheNextListFile)
{
    struct StopAtFirstStep final : PackListSink {  // as the stop button pressed during the first step
        std::string lines;
        int done = 0;
        std::atomic<int32_t> busy{1};
        void Line(std::string_view line) override { (lines += line) += '\n'; }
        void Progress(int n) override { busy = 0, done = n; }
    } sink;
    TempFolder dir;
    Files files = kJets;
    files["aircraft/air_0.lst"] = "->";  // moves no step
    MakeSimulator(dir, files);
    KnownAircraft known;
    PackListBuilder builder(SystemDirectoryListing(), known);
    builder.Build({dir.File("sim"), builder.FindAircraftLists(dir.File("sim")), dir.File("out.txt")}, sink.busy, sink);
    EXPECT_EQ(WithoutFolder(sink.lines, dir.File("sim")),
              "Scaning aircraft/air*.lst ...\nSIM/aircraft/air_0.lst\nSIM/aircraft/air_a.lst\nDone\n");
    EXPECT_EQ(sink.done, 2);
    EXPECT_EQ(dir.Read("out.txt"), "\nPack=air_a\nA1\nA2\n");
}

}  // namespace
