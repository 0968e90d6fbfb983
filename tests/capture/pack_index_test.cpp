// SPDX-License-Identifier: MIT
#include "capture/pack_index.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

namespace {

TEST(PackIndexTest, LoadAndLookUp)
{
    TempFolder dir;
    const std::string path = dir.Write("Packlist.txt",
                                       "Early Bird\n"
                                       "Pack=Basic\r\n"
                                       "F-15C\r\n"
                                       "\n"
                                       "MiG 29  Fulcrum\n"
                                       "Pack=" + std::string(40, 'P') + "\n" +
                                       std::string(100, 'x') + "\n"
                                       "Zero\n"
                                       "pack=not a pack line");
    PackIndex index;
    ASSERT_EQ(index.Load(path), 6);
    EXPECT_EQ(index.PackCount(), 2u);

    struct Case {
        std::string name;
        std::string pack;
    };
    const Case cases[] = {
        {"F-15C", "Basic"},
        {"f-15c", "Basic"},
        {"MIG_29__FULCRUM", "Basic"},  // blanks of the list became '_'
        {"MiG 29  Fulcrum", ""},       // the joined name keeps its blanks
        {"Early Bird", ""},
        {"Early_Bird", ""},            // before the first pack: no pack
        {"Zero", std::string(31, 'P')},
        {std::string(31, 'x'), std::string(31, 'P')},  // the long line was cut, not skipped
        {std::string(31, 'x') + "yz", std::string(31, 'P')},
        {"pack=not_a_pack_line", std::string(31, 'P')},
        {"F-15", ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(index.Lookup(c.name), c.pack) << c.name;
}

TEST(PackIndexTest, HitsMoveToTheFront)
{
    TempFolder dir;
    PackIndex index;
    ASSERT_EQ(index.Load(dir.Write("p.txt", "Pack=A\none\ntwo\nthree\n")), 3);
    EXPECT_EQ(index.AircraftName(0), "one");
    index.Lookup("THREE");
    EXPECT_EQ(index.AircraftName(0), "three");
    EXPECT_EQ(index.AircraftName(1), "one");
    EXPECT_EQ(index.AircraftName(2), "two");
    index.Lookup("nothing");
    EXPECT_EQ(index.AircraftName(0), "three");
}

TEST(PackIndexTest, MissingOrEmptyPathGivesAnEmptyIndex)
{
    TempFolder dir;
    PackIndex index;
    ASSERT_EQ(index.Load(dir.Write("p.txt", "Pack=A\none\n")), 1);
    EXPECT_EQ(index.Load(dir.File("absent.txt")), 0);
    EXPECT_EQ(index.Lookup("one"), "");
    EXPECT_EQ(index.Load(""), 0);
    EXPECT_EQ(index.Load(dir.path.string()), 0);  // a folder is no list
}

}  // namespace
