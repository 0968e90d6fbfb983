// SPDX-License-Identifier: MIT
#include "platform/service_notify.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

TEST(TerminalLineTest, PriorityOnlyForTheJournalAndAlwaysOneLine)
{
    const struct { LineKind kind; bool journal; const char* text; const char* line; } cases[] = {
        {LineKind::Error, true, "Error at start capture. Fail socket.", "<3>Error at start capture. Fail socket.\n"},
        {LineKind::Event, true, "10.0.0.8\tbob\tLOGIN", "<6>10.0.0.8\tbob\tLOGIN\n"},
        {LineKind::Event, true, "CHAT\ta\nb\rc", "<6>CHAT\ta\\x0ab\\x0dc\n"},
        {LineKind::Error, false, "Cannnot add filter", "Cannnot add filter\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TerminalLine(c.kind, c.text, c.journal), c.line) << c.text;
}

TEST(TerminalLineTest, JournalOnlyWhenTheStreamIsStdoutItself)
{
    struct stat st {};
    ASSERT_EQ(::fstat(STDOUT_FILENO, &st), 0);
    for (ino_t inode : {st.st_ino, st.st_ino + 1}) {
        ::setenv("JOURNAL_STREAM", (std::to_string(st.st_dev) + ":" + std::to_string(inode)).c_str(), 1);
        EXPECT_EQ(StdoutIsJournal(), inode == st.st_ino);
    }
    ::unsetenv("JOURNAL_STREAM");
    EXPECT_FALSE(StdoutIsJournal());
}
