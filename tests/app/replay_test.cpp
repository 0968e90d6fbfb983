// SPDX-License-Identifier: MIT
#include "app/replay.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::stringstream s(text);
    std::string part;
    while (std::getline(s, part, separator))
        parts.push_back(part);
    return parts;
}

struct ReplayRun {
    int status;
    std::string out;
    std::string err;
};

ReplayRun Replay(const std::vector<std::string>& args)
{
    ReplayRun run{};
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    ReplayOptions options;
    std::string error = ParseReplayArguments(args, options);
    if (!error.empty()) {
        run.status = -1;
        run.err = error;
    } else {
        run.status = RunReplay(options, out, err);
    }
    for (auto [file, text] : {std::pair{out, &run.out}, std::pair{err, &run.err}}) {
        std::fflush(file);
        std::rewind(file);
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            text->append(buffer, n);
        std::fclose(file);
    }
    return run;
}

// Every recorded capture against the lines it must give.
TEST(ReplayTest, RecordedCapturesGiveTheirExpectedLines)
{
    const std::string dir = ZPMONI_FIXTURES;
    const std::string cases = ReadFile(dir + "/cases.txt");
    ASSERT_FALSE(cases.empty()) << "no fixture cases in " << dir;
    int checked = 0;
    for (const std::string& line : Split(cases, '\n')) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields = Split(line, '\t');
        ASSERT_EQ(fields.size(), 3u) << line;
        // Every capture was recorded against the server at 198.51.100.1.
        std::vector<std::string> args = {dir + "/" + fields[0], "--local", "198.51.100.1",
                                         "--packs", dir + "/Packlist.txt"};
        for (const std::string& a : Split(fields[1], ' ')) {
            if (!a.empty())
                args.push_back(a);
        }
        ReplayRun run = Replay(args);
        EXPECT_EQ(run.status, 0) << fields[0] << ": " << run.err;
        EXPECT_EQ(run.out, ReadFile(dir + "/" + fields[2])) << fields[0] << " " << fields[1];
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST(ReplayTest, BadInputGivesAClearResult)
{
    const std::string dir = ZPMONI_FIXTURES;
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {{dir + "/absent.pcap", "--local", "198.51.100.1"}, 2},
        {{dir + "/Packlist.txt", "--local", "198.51.100.1"}, 2},  // not a capture
        {{dir + "/x.pcap"}, -1},
        {{dir + "/x.pcap", "--local", "nowhere"}, -1},
        {{dir + "/x.pcap", "--local", "198.51.100.1", "--port", "70000"}, -1},
        {{dir + "/x.pcap", "--local", "198.51.100.1", "--bogus"}, -1},
        {{"--local", "198.51.100.1", "--local", "198.51.100.2", "--local", "198.51.100.3",
          "--local", "198.51.100.4", "--local", "198.51.100.5", "x.pcap"},
         -1},
    };
    for (const Case& c : cases) {
        ReplayRun run = Replay(c.args);
        EXPECT_EQ(run.status, c.status) << c.args[0];
        EXPECT_FALSE(run.err.empty()) << c.args[0];
        EXPECT_TRUE(run.out.empty()) << c.args[0];
    }
}

}  // namespace
