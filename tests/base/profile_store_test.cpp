// SPDX-License-Identifier: MIT
#include "base/profile_store.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <climits>

using namespace zpmoni;

TEST(ProfileStore, FindsValuesWhateverTheCaseAndLineEnd)
{
    // section, key, GetString with default "dflt", GetInt with default 77
    const std::tuple<const char*, const char*, std::string, int32_t> cases[] = {
        {"ProgramData", "FolderPath", "/srv/zp dir", 0},
        {"PROGRAMDATA", "empty", "", 77},
        {"ProgramData", "Num", "12abc", 12},
        {"ProgramData", "Neg", "-42", -42},
        {"ProgramData", "Word", "abc", 0},
        {"ProgramData", "Plus", "+5", 0},
        {"ProgramData", "Big", "99999999999", INT_MAX},
        {"ProgramData", "Long", std::string(4095, 'x'), 0},  // as with a 4096-character buffer
        {"ProgramData", "Commented", "dflt", 77},
        {"ProgramData", "Port", "dflt", 77},
        {"other", "PORT", "5", 5},
        {"Missing", "Port", "dflt", 77},
    };
    const std::string text = "; Port=1 before any section\n[programdata]\n  folderpath = /srv/zp dir  \nEmpty=\nNum=12abc\n"
                             "Neg=-42\nWord=abc\nPlus=+5\nBig=99999999999\nLong=" + std::string(5000, 'x') +
                             "\n;Commented=3\n[ Other ]\nPort=5";
    for (std::string eol : {"\n", "\r\n"}) {
        std::string file = text;
        for (size_t at = 0; eol.size() > 1 && (at = file.find('\n', at)) != std::string::npos; at += 2)
            file.insert(at, "\r");
        TempFolder dir;
        ProfileStore store(dir.Write("Zpmoni.ini", file));
        for (const auto& [section, key, value, number] : cases) {
            SCOPED_TRACE(std::string(section) + "/" + key + (eol == "\n" ? " LF" : " CRLF"));
            EXPECT_EQ(store.GetString(section, key, "dflt"), value);
            EXPECT_EQ(store.GetInt(section, key, 77), number);
        }
    }
}

// A write changes its entry only: every other line stays byte for byte, the file's line end is
// kept, a new key goes to the end of its section's first block, a new section to the end.
TEST(ProfileStore, WriteChangesOnlyItsEntry)
{
    TempFolder dir;
    ProfileStore store(dir.Write("Zpmoni.ini", "; c\r\n[Z]\r\nk=0\r\n[a]\r\n k = 1\r\n; mid\r\nj=2\r\n\r\n[B]\r\n[a]\r\nk=5\r\n[C]\r\nx=1"));
    store.WriteString("A", "K", "9");       // the first block's entry, with the caller's case, no blanks
    store.WriteString("A", "n", "2");       // after the block's last entry, before the blank line
    store.WriteString("b", "n", "a\r\nb");  // under a bare header; a line break ends the value
    store.WriteString("C", "x", "");        // an open last line stays open...
    EXPECT_TRUE(dir.Read("Zpmoni.ini").ends_with("\r\nx=")) << dir.Read("Zpmoni.ini");
    store.WriteString("C", "y", "3");       // ...until a line is appended to it
    store.WriteString("D", "n", "4");
    EXPECT_EQ(dir.Read("Zpmoni.ini"), "; c\r\n[Z]\r\nk=0\r\n[a]\r\nK=9\r\n; mid\r\nj=2\r\nn=2\r\n\r\n[B]\r\nn=a\r\n[a]\r\n"
                                      "k=5\r\n[C]\r\nx=\r\ny=3\r\n[D]\r\nn=4\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1) << "temporary file left";
    // A new file, and a new section after an open last line, take LF.
    ProfileStore(dir.File("new.ini")).WriteString("A", "n", "2");
    EXPECT_EQ(dir.Read("new.ini"), "[A]\nn=2\n");
    ProfileStore(dir.Write("open.ini", "[A]\nk=1")).WriteString("B", "n", "2");
    EXPECT_EQ(dir.Read("open.ini"), "[A]\nk=1\n[B]\nn=2\n");
}

// The writes of a batch are read back inside it and replace the file once, at the end of the
// outermost batch; a replacement that fails is told once and leaves the old file.
TEST(ProfileStore, BatchReplacesTheFileOnce)
{
    TempFolder dir;
    ProfileStore store(dir.Write("Zpmoni.ini", "; kept\n[A]\nk=1\n"));
    std::vector<std::string> synced, told;
    store.SetSync([&](const std::string& path) { return synced.push_back(path), true; });
    store.SetFailureReport([&](std::string_view message) { told.emplace_back(message); });
    {
        ProfileStore::Batch outer(store);
        store.WriteInt("A", "k", 2);
        {
            ProfileStore::Batch inner(store);
            store.WriteString("B", "s", "x");
        }
        EXPECT_EQ(std::to_string(store.GetInt("A", "k", 0)) + store.GetString("B", "s", ""), "2x");
        EXPECT_EQ(dir.Read("Zpmoni.ini"), "; kept\n[A]\nk=1\n");
    }
    EXPECT_EQ(dir.Read("Zpmoni.ini"), "; kept\n[A]\nk=2\n[B]\ns=x\n");
    // The new file on disk before it takes the name, then the folder that holds the name.
    ASSERT_EQ(synced.size(), 2u);
    EXPECT_EQ(synced[0].rfind(dir.File("Zpmoni.ini.tmp"), 0), 0u);
    EXPECT_EQ(synced[1], dir.path.string());

    store.SetPath(dir.File("missing/Zpmoni.ini"));
    {
        ProfileStore::Batch batch(store);
        store.WriteInt("A", "k", 1);
        store.WriteInt("A", "j", 1);
    }
    store.WriteInt("A", "k", 1);
    EXPECT_EQ(told, std::vector<std::string>(2, "Cannot write " + dir.File("missing/Zpmoni.ini") + ": No such file or directory"));
}

// Replacing the file by rename would slip past its write protection (root writes it anyway).
TEST(ProfileStore, ReadOnlyFileStaysUnchanged)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root may write to read-only files";
    TempFolder dir;
    const std::string readOnly = dir.Write("ro.ini", "[A]\nk=1\n");
    std::filesystem::permissions(readOnly, std::filesystem::perms::owner_read);
    ProfileStore(readOnly).WriteInt("A", "k", 2);
    EXPECT_EQ(ReadText(readOnly), "[A]\nk=1\n");
}
