// SPDX-License-Identifier: MIT
#include "packlist/pack_list_builder.h"

#include "packlist/packlist_command.h"
#include "packlist/known_aircraft.h"
#include "platform/directory_listing.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <map>

using namespace zpmoni;

namespace {

using Files = std::map<std::string, std::string>;

// File texts "->target" make links, "|" a FIFO, "#big" a file beyond the size limit.
void MakeSimulator(const TempFolder& dir, const Files& files)
{
    for (const auto& [path, text] : files) {
        const std::filesystem::path at = dir.path / "sim" / path;
        std::filesystem::create_directories(at.parent_path());
        text.starts_with("->") ? std::filesystem::create_symlink(text.substr(2), at)
        : text == "|"          ? void(mkfifo(at.c_str(), 0600))
                               : std::filesystem::resize_file(dir.Write("sim/" + path, text),
                                                              text == "#big" ? PackListBuilder::kFileLimit + 1 : text.size());
    }
}

// Every file outside the simulator folder with its text.
Files Outside(const TempFolder& dir)
{
    Files files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path))
        if (const auto name = entry.path().lexically_relative(dir.path).string(); !name.starts_with("sim") && name != "out.txt")
            files[name] = entry.is_regular_file() ? ReadText(entry.path()) : "";
    return files;
}

std::string WithoutFolder(std::string text, const std::string& folder)
{
    for (size_t at; (at = text.find(folder)) != std::string::npos; text.replace(at, folder.size(), "SIM")) {}
    return text;
}

struct Built { int status; std::string output, printed; };

// The command-line build in a working folder whose settings name the simulator folder made of
// `files` and the pack list "out.txt", which first holds `before`; with at most `fsize` bytes
// per file. It must end (the alarm fails it otherwise) and leave what lies beside it alone.
Built Build(const Files& files, const std::string& before, std::vector<std::string> args, rlim_t fsize)
{
    TempFolder dir;
    MakeSimulator(dir, files);
    dir.Write("Zpmoni.ini", "[ProgramData]\nFolderPath=sim\nPackFile=out.txt\n");
    if (!before.empty())
        dir.Write("out.txt", before);
    const Files outside = Outside(dir);
    args.insert(args.begin(), {"--workdir", dir.path.string()});
    char printed[8192] = {};
    FILE* out = fmemopen(printed, sizeof printed - 1, "w");
    rlimit limit, small;
    getrlimit(RLIMIT_FSIZE, &limit), small = {fsize, limit.rlim_max}, setrlimit(RLIMIT_FSIZE, &small), alarm(20);
    const int status = RunBuildPacklist(args, SystemDirectoryListing(), out, out);
    alarm(0), setrlimit(RLIMIT_FSIZE, &limit), std::fclose(out);
    EXPECT_EQ(Outside(dir), outside);
    return {status, dir.Read("out.txt"), WithoutFolder(printed, dir.File("sim"))};
}

const Files kJets = {{"aircraft/air_a.lst", "aircraft/a1.dat x\naircraft/a2.dat x\n"},
                     {"aircraft/air_b.lst", "aircraft/b1.dat x\n"}, {"aircraft/a1.dat", "IDENTIFY A1\n"},
                     {"aircraft/a2.dat", "IDENTIFY A2\n"}, {"aircraft/b1.dat", "IDENTIFY B1\n"}};

TEST(PackListBuilderTest, AppendsWhatTheFileDoesNotNameYet)
{
    // What the file holds before and after; how the command ends and what it prints first.
    struct Case { const char* name; Files files; std::string before, after; std::vector<std::string> args = {};
                  int status = 0; std::string printed = "Scaning aircraft/air*.lst ...\n"; rlim_t fsize = RLIM_INFINITY; };
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
    // A folder that the game server could have written: links out of it and to devices, "..",
    // absolute names, special files, identifiers that would be lines of their own.
    Files hostile = {{"aircraft/air_h.lst", "..\\outside\\evil.dat x\n/dev/zero x\nC:\\evil.dat x\naircraft/out.dat x\n"
                      "aircraft/zero.dat x\naircraft/fifo.dat x\naircraft/pack.dat x\naircraft/tab.dat x\naircraft/nul.dat x\n"
                      "aircraft/cr.dat x\nlinked/ok.dat x\naircraft/ok.dat x\n"}, {"aircraft/air_fifo.lst", "|"},
                     {"aircraft/air_\nPack=Evil.lst", "aircraft/ok.dat x\n"}, {"aircraft/air_big.lst", "#big"},
                     {"aircraft/air_zero.lst", "->/dev/zero"}, {"aircraft/out.dat", "->../../outside/evil.dat"},
                     {"aircraft/zero.dat", "->/dev/zero"}, {"aircraft/fifo.dat", "|"}, {"aircraft/ok.dat", "IDENTIFY OK\n"},
                     {"aircraft/pack.dat", "IDENTIFY Pack=Evil\n"}, {"aircraft/tab.dat", "IDENTIFY A\tB\n"},
                     {"aircraft/nul.dat", std::string("IDENTIFY N\0L\n", 13)}, {"aircraft/cr.dat", "IDENTIFY \"C\rR\"\r\n"},
                     {"linked", "->aircraft"}, {"../outside/evil.dat", "IDENTIFY EVIL\n"}},
          link = kJets;
    link["../out.txt"] = "->outside/evil.dat", link["../outside/evil.dat"] = "keep\n";
    const std::string refused = "Refused, ", outside = refused + "outside the simulator folder: ",
                      unusable = refused + "unusable identifier: aircraft/";
    const std::string hostileSays = "SIM/aircraft/air_\\x0aPack=Evil.lst\nSIM/aircraft/air_big.lst\n" + refused +
        "larger than 16 MiB: aircraft/air_big.lst\nSIM/aircraft/air_fifo.lst\n" + refused +
        "not a regular file: aircraft/air_fifo.lst\nSIM/aircraft/air_h.lst\n" + outside + "..\\outside\\evil.dat\n" +
        outside + "/dev/zero\n" + outside + "C:\\evil.dat\n" + refused + "a link: aircraft/out.dat\n" + refused +
        "a link: aircraft/zero.dat\n" + refused + "not a regular file: aircraft/fifo.dat\n" + unusable + "pack.dat\n" +
        unusable + "tab.dat\n" + unusable + "nul.dat\n" + unusable + "cr.dat\n" + refused + "a link: linked/ok.dat\n"
        "SIM/aircraft/air_zero.lst\n" + refused + "a link: aircraft/air_zero.lst\nDone\n";
    const Case cases[] = {
        {"new file", kJets, "", built, {}, 0, "Scaning aircraft/air*.lst ...\nSIM/aircraft/air_a.lst\nSIM/aircraft/air_b.lst\nDone\n"},
        {"built before", kJets, built, built},
        {"operator's pack", a3After, "Pack=MyJets\nA1\n", "Pack=MyJets\nA1\n\nPack=MyJets\nA3\n"},
        {"new first", a3Before, "Pack=MyJets\nA1\n", "Pack=MyJets\nA1\n\nPack=air_a\nA3\n"},
        {"windows folder", windows, "", "\nPack=AIR_JETS\nF-16C_FALCON\nT-2\n"},
        {"odd lines", lines, "", "\nPack=air_x\nLONG\n"},
        {"no lists", {{"planes/air_a.lst", "x y\n"}}, "", "", {}, 1, "aircraftフォルダが見つかりません\n"},
        {"unwritable", kJets, "", "", {"--output", "no/such/out.txt"}, 1, "Cannot open: "},
        {"hostile", hostile, "", "\nPack=air__Pack=Evil\nOK\n\nPack=air_h\nOK\n", {}, 0, hostileSays},
        {"output a link", link, "", "keep\n", {}, 1, "Scaning aircraft/air*.lst ...\nRefused, a link: "},
        {"disk full", kJets, "", "", {}, 1, "\nCannot write: ", 5},
        {"usage", kJets, "", "", {"--folder"}, 2, "zpmoni: unexpected argument: --folder\n"},
    };
    for (const Case& c : cases) {
        const Built built = Build(c.files, c.before, c.args, c.fsize);
        EXPECT_EQ(built.output, c.after) << c.name;
        EXPECT_TRUE(built.status == c.status && built.printed.find(c.printed) != std::string::npos) << c.name << built.printed;
        EXPECT_EQ(built.printed.ends_with("Done\n"), c.status == 0) << c.name;
    }
}

TEST(PackListBuilderTest, StopsWithinAListFile)
{
    struct StopAtRefusal final : PackListSink {  // as the stop button pressed there
        std::string lines;
        std::stop_source stop;
        void Line(std::string_view line) override { (lines += line) += '\n', line.starts_with("Refused") && stop.request_stop(); }
        void Progress(int) override { lines += "step\n"; }
    } sink;
    TempFolder dir;
    MakeSimulator(dir, {{"aircraft/air_0.lst", "aircraft/a1.dat x\n/abs x\naircraft/a2.dat x\n"}, {"aircraft/a1.dat", "IDENTIFY A1\n"}});
    KnownAircraft known;
    PackListBuilder builder(SystemDirectoryListing(), known);
    EXPECT_TRUE(builder.Build({dir.File("sim"), builder.FindAircraftLists(dir.File("sim")), dir.File("out.txt")}, sink.stop.get_token(), sink));
    EXPECT_EQ(WithoutFolder(sink.lines, dir.File("sim")), "Scaning aircraft/air*.lst ...\nSIM/aircraft/air_0.lst\n"
                                                          "Refused, outside the simulator folder: /abs\nDone\n");
    EXPECT_EQ(dir.Read("out.txt"), "\nPack=air_0\nA1\n");
}

}  // namespace
