// SPDX-License-Identifier: MIT
#include "client/chat_relay.h"
#include "base/protocol.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Lines final : ChatView {
    void AppendChatLine(std::string_view text) override { lines.emplace_back(text); }
    std::vector<std::string> lines;
};

constexpr int64_t kBeforeMidnight = 1796515199;  // 2026-12-05 23:59:59 UTC

TEST(ChatRelayTest, ShowsAndLogsByRoadAndSetting)
{
    struct Case {
        const char* name;
        bool captured;
        bool glimit, chatLog;
        const char* text;
        bool shown, logged;
    };
    const Case cases[] = {
        {"connection, player line", false, true, true, "(amy)hi", true, true},
        {"connection, log off", false, true, false, "(amy)hi", true, false},
        {"connection, server line", false, true, true, "server restarts", false, false},
        {"captured, no parenthesis", true, false, true, "hi all", true, false},
        {"captured, player line", true, false, true, "(amy)hi", true, true},
        {"captured while the connection relays", true, true, true, "(amy)hi", false, false},
        {"captured, empty", true, false, true, "", false, false},
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
        EXPECT_EQ(view.lines.size(), c.shown ? 1u : 0u) << c.name;
        EXPECT_EQ(dir.Read("Log/chat20261205.txt"),
                  c.logged ? "[23:59:59] " + std::string(c.text) + "\n" : "")
            << c.name;
    }
}

TEST(ChatRelayTest, LogChangesFileWithTheDate)
{
    TempFolder dir;
    std::filesystem::create_directory(dir.path / "Log");
    ManualClock clock;
    clock.seconds = kBeforeMidnight;
    WriteChatLog(dir.path.string(), clock, "(a)one");
    clock.seconds += 2;
    WriteChatLog(dir.path.string(), clock, "(a)two");
    EXPECT_EQ(dir.Read("Log/chat20261205.txt"), "[23:59:59] (a)one\n");
    EXPECT_EQ(dir.Read("Log/chat20261206.txt"), "[00:00:01] (a)two\n");
    // Control bytes cannot forge a line or drive a terminal that shows the log.
    WriteChatLog(dir.path.string(), clock, "(a)x\ty\x1b[2J\r\nz\x7f");
    EXPECT_EQ(dir.Read("Log/chat20261206.txt"), "[00:00:01] (a)two\n[00:00:01] (a)x\\x09y\\x1b[2J\\x0d\\x0az\\x7f\n");
}

TEST(ChatRelayTest, ChatTextStaysInsideItsBody)
{
    const uint8_t closed[] = {0, 0, 0, 0, 0, 0, 0, 0, 'h', 'i', 0, 'x'};
    const uint8_t open[] = {0, 0, 0, 0, 0, 0, 0, 0, 'h', 'i'};
    EXPECT_EQ(ChatText({closed, sizeof closed}), "hi");
    EXPECT_EQ(ChatText({open, sizeof open}), "hi");
    EXPECT_EQ(ChatText({open, 8}), "");
    EXPECT_EQ(ChatText({open, 3}), "");
}

}  // namespace
