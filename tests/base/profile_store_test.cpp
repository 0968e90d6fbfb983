// SPDX-License-Identifier: MIT
#include "base/profile_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <numeric>

#include "support/temp_folder.h"

namespace {

struct ReadCase { const char* section; const char* key; const char* text; int32_t number; };

class ProfileStoreRead : public ::testing::TestWithParam<const char*> {};

TEST_P(ProfileStoreRead, FindsValuesWhateverTheCaseAndLineEnd)
{
    std::string eol = GetParam();
    std::string text = "; Port=1 before any section\n[programdata]\n  folderpath = /srv/zp dir  \nEmpty=\n"
                       "Num=12abc\nNeg=-42\nWord=abc\nPlus=+5\nBig=99999999999\n;Commented=3\n[ Other ]\nPort=5";
    for (size_t pos = 0; (pos = text.find('\n', pos)) != std::string::npos; pos += eol.size())
        text.replace(pos, 1, eol);
    TempFolder dir;
    WriteText(dir.File("Zpmoni.ini"), text);
    ProfileStore store(dir.File("Zpmoni.ini"));

    // GetString with default "dflt", GetInt with default 77.
    const ReadCase cases[] = {
        {"ProgramData", "FolderPath", "/srv/zp dir", 0},
        {"PROGRAMDATA", "empty", "", 77},
        {"ProgramData", "Num", "12abc", 12},
        {"ProgramData", "Neg", "-42", -42},
        {"ProgramData", "Word", "abc", 0},
        {"ProgramData", "Plus", "+5", 0},
        {"ProgramData", "Big", "99999999999", INT_MAX},
        {"ProgramData", "Commented", "dflt", 77},
        {"ProgramData", "Port", "dflt", 77},
        {"other", "PORT", "5", 5},
        {"Missing", "Port", "dflt", 77},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(store.GetString(c.section, c.key, "dflt"), c.text);
        EXPECT_EQ(store.GetInt(c.section, c.key, 77), c.number);
    }
}

INSTANTIATE_TEST_SUITE_P(LineEnds, ProfileStoreRead, ::testing::Values("\n", "\r\n"));

TEST(ProfileStore, LongTextIsCut)
{
    TempFolder dir;
    ProfileStore store(dir.File("Zpmoni.ini"));
    store.WriteString("A", "k", std::string(5000, 'x'));
    EXPECT_EQ(store.GetString("A", "k", ""), std::string(4095, 'x'));
}

// before == nullptr: no file yet.
struct WriteCase { const char* name; const char* before; const char* section; const char* key; const char* value;
                   const char* after; };

TEST(ProfileStore, WriteChangesOnlyItsEntry)
{
    const WriteCase cases[] = {
        {"new file", nullptr, "A", "n", "2", "[A]\nn=2\n"},
        {"replace keeps CRLF and comments", "; c\r\n[a]\r\n k = 1\r\n; mid\r\nj=2\r\n", "A", "K", "9",
         "; c\r\n[a]\r\nK=9\r\n; mid\r\nj=2\r\n"},
        {"same key elsewhere", "[B]\nk=1\n[A]\nk=2\n", "A", "k", "3", "[B]\nk=1\n[A]\nk=3\n"},
        {"append before blank lines", "[A]\nk=1\n\n[B]\nx=1\n", "A", "n", "2", "[A]\nk=1\nn=2\n\n[B]\nx=1\n"},
        {"append to bare header", "[A]\r\n[B]\r\n", "a", "n", "2", "[A]\r\nn=2\r\n[B]\r\n"},
        {"new section CRLF", "[A]\r\nk=1\r\n", "B", "n", "2", "[A]\r\nk=1\r\n[B]\r\nn=2\r\n"},
        {"new section after open last line", "[A]\nk=1", "B", "n", "2", "[A]\nk=1\n[B]\nn=2\n"},
        {"replace open last line", "[A]\nk=1", "A", "k", "", "[A]\nk="},
        {"append after open last line", "[A]\nk=1", "A", "n", "2", "[A]\nk=1\nn=2\n"},
        {"line break cut", "", "A", "n", "a\r\nb", "[A]\nn=a\n"},
    };
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder dir;
        std::string path = dir.File("Zpmoni.ini");
        if (c.before)
            WriteText(path, c.before);
        ProfileStore(path).WriteString(c.section, c.key, c.value);
        EXPECT_EQ(ReadText(path), c.after);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1) << "temporary file left";
    }
}

TEST(ProfileStore, BytesRoundTrip)
{
    EXPECT_EQ(ProfileStore::EncodeBytes(std::vector<uint8_t>{0x3C}), "MD");
    EXPECT_EQ(ProfileStore::DecodeBytes("MDA"), std::vector<uint8_t>{0x3C});

    std::vector<uint8_t> all(256);
    std::iota(all.begin(), all.end(), uint8_t{0});
    TempFolder dir;
    ProfileStore store(dir.File("Zpmoni.ini"));
    store.WriteBytes("ConnectDlg", "ListCtrl", all);
    EXPECT_EQ(store.GetBytes("connectdlg", "listctrl"), all);
    store.WriteBytes("ConnectDlg", "ListCtrl", {});
    EXPECT_EQ(store.GetString("ConnectDlg", "ListCtrl", "d"), "");
    EXPECT_TRUE(store.GetBytes("ConnectDlg", "ListCtrl").empty());
    EXPECT_TRUE(store.GetBytes("ConnectDlg", "Absent").empty());
}

// The writes of a batch are read back inside it and replace the file once, at the end of the
// outermost batch; a replacement that fails is told once and leaves the old file.
TEST(ProfileStore, BatchReplacesTheFileOnce)
{
    TempFolder dir;
    ProfileStore store(dir.Write("Zpmoni.ini", "; kept\n[A]\nk=1\n"));
    std::vector<std::string> synced, told;
    store.SetSync([&](const std::string& path) { synced.push_back(path); return true; });
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
    EXPECT_TRUE(told.empty());

    ProfileStore lost(dir.File("missing/Zpmoni.ini"));
    lost.SetFailureReport([&](std::string_view message) { told.emplace_back(message); });
    {
        ProfileStore::Batch batch(lost);
        lost.WriteInt("A", "k", 1);
        lost.WriteInt("A", "j", 1);
    }
    lost.WriteInt("A", "k", 1);
    EXPECT_EQ(told, std::vector<std::string>(2, "Cannot write " + dir.File("missing/Zpmoni.ini")));
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

} // namespace
