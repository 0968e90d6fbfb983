// SPDX-License-Identifier: MIT
#include "platform/service_notify.h"

#include <gtest/gtest.h>

using namespace zpmoni;

TEST(TerminalLineTest, PriorityOnlyForTheJournalAndAlwaysOneLine)
{
    EXPECT_EQ(TerminalLine(LineKind::Error, "Error at start capture. Fail socket.", true), "<3>Error at start capture. Fail socket.\n");
    EXPECT_EQ(TerminalLine(LineKind::Event, "CHAT\ta\nb\rc", true), "<6>CHAT\ta\\x0ab\\x0dc\n");
    EXPECT_EQ(TerminalLine(LineKind::Error, "Cannnot add filter", false), "Cannnot add filter\n");
}
