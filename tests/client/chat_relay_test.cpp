// SPDX-License-Identifier: MIT
#include "client/chat_relay.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <vector>

using namespace zpmoni;

namespace {

struct Lines final : ChatView {
    void AppendChatLine(std::string_view text) override { lines.emplace_back(text); }
    std::vector<std::string> lines;
};

constexpr int64_t kBeforeMidnight = 1796515199;  // 2026-12-05 23:59:59 UTC

// A player's line from the connection, shown and logged by the setting, is checked by the
// loopback test against the stand-in simulator.
TEST(ChatRelayTest, ShowsAndLogsByRoadAndSetting)
{
    struct Case {
        const char* name;
        bool captured, glimit, chatLog;
        std::string text;
        bool shown;
        std::string logged;
    };
    const Case cases[] = {
        {"connection, server line", false, true, true, "server restarts", false, ""},
        {"captured, no parenthesis", true, false, true, "hi all", true, ""},
        {"captured, control bytes", true, false, true, "(a)x\ty\x1b[2J\r\nz\x7f", true, "(a)x\\x09y\\x1b[2J\\x0d\\x0az\\x7f"},
        {"captured while the connection relays", true, true, true, "(amy)hi", false, ""},
        {"captured, empty", true, false, true, "", false, ""},
    };
    for (const Case& c : cases) {
        TempFolder dir;
        std::filesystem::create_directory(dir.path / "Log");
        ManualClock clock;
        clock.seconds = kBeforeMidnight;
        Lines view;
        ChatRelay relay(view, dir.path.string(), clock);
        relay.glimit = c.glimit;
        relay.chatLog = c.chatLog;
        if (c.captured)
            relay.OnCapturedChat(c.text);
        else
            relay.OnChat(c.text, c.chatLog);
        EXPECT_EQ(view.lines, c.shown ? std::vector<std::string>{c.text} : std::vector<std::string>{}) << c.name;
        EXPECT_EQ(dir.Read("Log/chat20261205.txt"), c.logged.empty() ? "" : "[23:59:59] " + c.logged + "\n")
            << c.name;
        // The next line, after midnight, goes to the next day's file.
        clock.seconds += 2;
        EXPECT_TRUE(WriteChatLog(dir.path.string(), clock, "(a)two").ok());
        EXPECT_EQ(dir.Read("Log/chat20261206.txt"), "[00:00:01] (a)two\n") << c.name;
    }
}

// A chat log that cannot be written reaches the error log with its cause, once until a line gets
// through again.
TEST(ChatRelayTest, UnwritableLogToldOncePerEpisode)
{
    TempFolder dir;  // no Log folder yet
    ManualClock clock;
    Lines view;
    ChatRelay relay(view, dir.path.string(), clock);
    std::vector<std::string> told;
    relay.logFailure.SetReport([&](std::string_view line) { told.emplace_back(line); });
    for (int folder : {0, 0, 1, 0}) {
        if (folder)
            std::filesystem::create_directory(dir.path / "Log");
        else
            std::filesystem::remove_all(dir.path / "Log");
        relay.OnChat("(a)hi", true);
    }
    EXPECT_EQ(told, std::vector<std::string>(2, "Cannot write the chat log: No such file or directory"));
}

}  // namespace
