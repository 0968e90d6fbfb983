// SPDX-License-Identifier: MIT
#include "packlist/pack_index.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

using namespace zpmoni;

// Case, blanks, packs before the first pack line and long pack names are pinned by the recorded
// captures; here what a list written elsewhere may hold.
TEST(PackIndexTest, LinesWithCarriageReturnsAndOverlongLines)
{
    TempFolder dir;
    PackIndex index;
    const std::string longLine(100, 'x');
    ASSERT_EQ(index.Load(dir.Write("p.txt", "Pack=A\r\nF-15C\r\n" + longLine + "\nZero")).status, FileStatus::Ok);
    EXPECT_EQ(index.Lookup("F-15C"), "A");
    EXPECT_EQ(index.Lookup(longLine.substr(0, 31)), "A");  // cut, not skipped
    EXPECT_EQ(index.Lookup("Zero"), "A");                  // the line after it still counts
    for (const std::string& unreadable : {std::string(), dir.File("absent.txt"), dir.path.string()}) {
        EXPECT_NE(index.Load(unreadable).status, FileStatus::Ok) << unreadable;
        EXPECT_EQ(index.Lookup("F-15C"), "") << unreadable;
    }
}
