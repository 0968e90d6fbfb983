// SPDX-License-Identifier: MIT
#include "support/temp_folder.h"
#include "web/operators.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace zpmoni;

const std::string kHash = "sha256:" + std::string(64, 'a');

TEST(Operators, ParseKeepsGoodLinesAndNamesBadOnesByNumber)
{
    const std::string text = "# comment\n\nalice admin " + kHash + "\r\n" + "bob\tviewer  " + kHash + "\n" +
                             "carol root " + kHash + "\n" +          // 5: role
                             "bad/name viewer " + kHash + "\n" +     // 6: name
                             "dave viewer sha256:abc\n" +            // 7: hash
                             "erin viewer\n" +                       // 8: fields
                             "alice viewer " + kHash + "\n";         // 9: duplicate
    std::vector<std::string> problems;
    const OperatorList list = OperatorList::Parse(text, &problems);
    ASSERT_EQ(list.All().size(), 2u);
    EXPECT_TRUE(list.ByName("alice")->role == OperatorRole::Admin && list.ByName("bob")->role == OperatorRole::Viewer);
    ASSERT_EQ(problems.size(), 5u);
    for (size_t i = 0; i < problems.size(); ++i) {
        EXPECT_EQ(problems[i].rfind("line " + std::to_string(i + 5) + ":", 0), 0u) << problems[i];
        EXPECT_EQ(problems[i].find("sha256:aaaa"), std::string::npos);
    }
}

TEST(Operators, FindMatchesOnlyTheRightToken)
{
    const OperatorList list = OperatorList::Parse("a viewer " + HashToken("zpt_one") + "\nb admin " + HashToken("zpt_two"));
    EXPECT_TRUE(list.Find("zpt_two") && list.Find("zpt_two")->name == "b");
    EXPECT_FALSE(list.Find("zpt_tw") || list.Find(""));
    EXPECT_EQ(HashToken("abc"), "sha256:ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Operators, LoadRefusesFilesOthersCouldReadOrReplace)
{
    TempFolder dir;
    const std::string path = dir.Write("operators.txt", "alice admin " + kHash + "\n");
    struct Case { mode_t mode; bool ok; } cases[] = {{0600, true}, {0400, true}, {0640, false}, {0604, false}};
    for (const Case& c : cases) {
        ::chmod(path.c_str(), c.mode);
        const Result<OperatorList> loaded = OperatorList::Load(path);
        EXPECT_EQ(loaded.ok(), c.ok) << std::oct << c.mode;
        EXPECT_TRUE(c.ok || loaded.error().find("make it 0600") != std::string::npos) << std::oct << c.mode;
    }
    ::chmod(path.c_str(), 0600);
    const std::string link = dir.File("link.txt");
    ::symlink(path.c_str(), link.c_str());
    EXPECT_FALSE(OperatorList::Load(link).ok() || OperatorList::Load(dir.File("missing.txt")).ok());
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
        EXPECT_FALSE(OperatorList::Load(path).ok());
    }
}

TEST(Operators, AddOperatorRoundTrip)
{
    TempFolder dir;
    const std::string path = dir.Write("operators.txt", "# team\nbob viewer " + kHash + "\n");
    ::chmod(path.c_str(), 0600);
    auto add = [&](const char* name, const char* role) {
        char* printed = nullptr;
        size_t size = 0;
        FILE* out = ::open_memstream(&printed, &size);
        EXPECT_EQ(RunAddOperator({name, role, "--workdir", dir.Path().string()}, out, stderr), 0);
        std::fclose(out);
        const std::string text(printed, size);
        std::free(printed);
        EXPECT_NE(text.find("not shown again"), std::string::npos);
        return text.substr(std::min(text.find("zpt_"), text.size()), 47);
    };
    const std::string first = add("alice", "viewer");
    const std::string second = add("alice", "admin");
    const Result<OperatorList> list = OperatorList::Load(path);
    ASSERT_TRUE(list.ok()) << list.error();
    // alice's first token replaced, bob and the comment kept.
    EXPECT_TRUE(list->All().size() == 2 && !list->Find(first) && list->ByName("bob"));
    EXPECT_TRUE(list->Find(second) && list->Find(second)->role == OperatorRole::Admin);
    EXPECT_EQ(dir.Read("operators.txt").rfind("# team\n", 0), 0u);

    auto mode = [](const std::string& file) {
        struct stat st {};
        return ::stat(file.c_str(), &st) == 0 ? st.st_mode & 0777 : 0u;
    };
    TempFolder fresh;
    EXPECT_EQ(RunAddOperator({"carol", "admin", "--workdir", fresh.Path().string()}, stdout, stderr), 0);
    EXPECT_EQ(mode(fresh.File("operators.txt")), 0600u);
    ::chmod(path.c_str(), 0644);
    EXPECT_EQ(RunAddOperator({"carol", "admin", "--workdir", dir.Path().string()}, stdout, stderr), 1);
    EXPECT_EQ(mode(path), 0644u);  // left for its owner to put right
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"carol"}, {"carol", "root"}, {"bad name", "admin"}, {std::string(33, 'x'), "admin"}})
        EXPECT_EQ(RunAddOperator(bad, stdout, stderr), 2);
}
