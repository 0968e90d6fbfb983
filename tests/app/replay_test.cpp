// SPDX-License-Identifier: MIT
#include "app/replay.h"

#include "../support/temp_folder.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using namespace zpmoni;

namespace {

const std::string kFixtures = ZPMONI_FIXTURES;

// Parses the arguments and replays; status -1 for arguments refused. Output and errors as text.
int Replay(const std::vector<std::string>& args, std::string& out, std::string& err)
{
    ReplayOptions options;
    err = ParseReplayArguments(args, options);
    if (!err.empty())
        return -1;
    FILE* files[2] = {std::tmpfile(), std::tmpfile()};
    const int status = RunReplay(options, files[0], files[1]);
    for (auto [file, text] : {std::pair{files[0], &out}, {files[1], &err}}) {
        std::rewind(file);
        for (int c; (c = std::fgetc(file)) != EOF;)
            text->push_back(static_cast<char>(c));
        std::fclose(file);
    }
    return status;
}

// Every recorded capture against the lines the independent model gives for it.
TEST(ReplayTest, RecordedCapturesGiveTheirExpectedLines)
{
    std::istringstream cases(ReadText(kFixtures + "/cases.txt"));
    int checked = 0;
    for (std::string pcap, extra, expected; std::getline(cases, pcap, '\t') && std::getline(cases, extra, '\t') &&
                                            std::getline(cases, expected);) {
        std::vector<std::string> args = {kFixtures + "/" + pcap, "--local", "198.51.100.1", "--packs", kFixtures + "/Packlist.txt"};
        std::istringstream words(extra);
        for (std::string word; words >> word;)
            args.push_back(word);
        std::string out, err;
        EXPECT_EQ(Replay(args, out, err), 0) << pcap << ": " << err;
        EXPECT_EQ(out, ReadText(kFixtures + "/" + expected)) << pcap << " " << extra;
        // One line for a whole minute of refused log-ons.
        const bool flood = pcap == "forged_logons.pcap" || pcap == "many_clients.pcap";
        EXPECT_EQ(err, flood ? "zpmoni: too many log-ons from 198.51.100.2 within a minute\n" : "") << pcap;
        ++checked;
    }
    EXPECT_GT(checked, 20);
}

TEST(ReplayTest, BadInputGivesAClearResult)
{
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{kFixtures + "/absent.pcap", "--local", "198.51.100.1"}, 2},
        {{kFixtures + "/Packlist.txt", "--local", "198.51.100.1"}, 2},  // not a capture
        {{kFixtures + "/x.pcap"}, -1},
        {{kFixtures + "/x.pcap", "--local", "nowhere", "--port", "70000"}, -1},
        {{"x.pcap", "--local", "198.51.100.1", "--local", "198.51.100.2", "--local", "198.51.100.3", "--local",
          "198.51.100.4", "--local", "198.51.100.5"}, -1},
    };
    for (const auto& [args, status] : cases) {
        std::string out, err;
        EXPECT_EQ(Replay(args, out, err), status) << args[0];
        EXPECT_TRUE(!err.empty() && out.empty()) << args[0];
    }
}

// Frames stamped past year 9999 or before 1970 (a pcapng counting seconds up to the 64-bit
// limit, and one jumping from 0 to it and back) are passed over and counted.
TEST(ReplayTest, FramesWithoutARepresentableTimeArePassedOver)
{
    for (auto [name, skipped, decoded] : {std::tuple{"time_limit", "4", "1"}, {"time_jump", "2", "4"}}) {
        std::string out, err;
        EXPECT_EQ(Replay({kFixtures + "/../fuzz/corpus/capture_file/" + name + ".pcapng", "--local", "198.51.100.1"}, out, err), 0);
        EXPECT_NE(err.find(std::string(": ") + skipped + " frames passed over"), std::string::npos) << err;
        EXPECT_NE(out.find(std::string("# datagrams=") + decoded + " "), std::string::npos) << out;
    }
}

}  // namespace
