// SPDX-License-Identifier: MIT
#include "access/deny_file.h"
#include "app/zpmoni_app.h"
#include "base/profile_store.h"
#include "capture/log_files.h"
#include "capture/pack_index.h"
#include "platform/instance_lock.h"
#include "platform/regular_file.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

namespace {

namespace fs = std::filesystem;

// What the monitor took from the file ("" for nothing) and the problem it told ("" for none).
struct Use {
    std::string taken;
    std::string problem;
};

struct OwnFile {
    std::string name;  // below the working folder
    std::string content;
    std::string value;  // what is taken from `content`
    size_t limit;       // 0: no bound applies
    std::function<Use(const std::string& folder)> use;  // reads and, where it does, writes
};

std::string Problem(std::string_view action, const std::string& path, FileResult r)
{
    return FileProblem(action, path, r);
}

// "hello" when a log line went into the file; never opens a FIFO.
std::string Written(const std::string& path)
{
    return ReadRegularFile(path, 1 << 20).data.find("hello") != std::string::npos ? "hello" : "";
}

const OwnFile kFiles[] = {
    {"Zpmoni.lock", "4242\n", "locked:4242\n", 0,
     [](const std::string& folder) {
         InstanceLock lock;
         const bool locked = lock.Acquire(folder) == InstanceLock::Result::Acquired;
         return Use{locked ? "locked:" + ReadText(folder + "/Zpmoni.lock") : "", lock.Problem()};
     }},
    {"Zpmoni.ini", "[ProgramData]\nPort=1234\n", "1234", kSettingsFileLimit,
     [](const std::string& folder) {
         Use u;
         ProfileStore store(folder + "/Zpmoni.ini");
         store.SetFailureReport([&](std::string_view m) { u.problem.append(m); });
         u.taken = store.GetString("ProgramData", "Port", "");
         store.WriteInt("ProgramData", "Glimit", 1);
         return u;
     }},
    {"ipfilter.txt", "1.2.3.4\n", "1.2.3.4", kSettingsFileLimit,
     [](const std::string& folder) {
         const std::string path = folder + "/ipfilter.txt";
         DenyList list;
         Use u{"", Problem("read", path, deny_file::Load(path, list))};
         u.taken = list.empty() ? "" : list[0].address;
         list.push_back({"5.6.7.8", "255.255.255.255", ""});
         u.problem += Problem("write", path, deny_file::Save(path, list));
         return u;
     }},
    {"Packlist.txt", "Pack=P\nF-15\n", "P", kPackListLimit,
     [](const std::string& folder) {
         PackIndex index;
         const std::string path = folder + "/Packlist.txt";
         Use u{"", Problem("read", path, index.Load(path))};
         u.taken = index.Lookup("F-15");
         return u;
     }},
    {"Log/zplog19700101.txt", "", "hello", 0,
     [](const std::string& folder) {
         ManualClock clock;
         Use u;
         DailyLog log(folder, clock);
         log.SetFailureReport([&](std::string_view m) { u.problem.append(m); });
         log.WriteLine("hello");
         u.taken = Written(folder + "/Log/zplog19700101.txt");
         return u;
     }},
    {"MoniErrLog.txt", "", "hello", 0,
     [](const std::string& folder) {
         ManualClock clock;
         ErrorLog log(folder, clock);
         log.Write("hello");
         const std::string in = Written(folder + "/MoniErrLog.txt");
         return Use{in, in.empty() ? "not written" : ""};
     }},
};

enum class Case { Link, Fifo, Folder, Oversize, OtherOwner, LinkedFolder };

// A link, a FIFO, a folder or an oversize file in the place of each of the monitor's own files
// is neither used nor followed, nor does it hold the monitor up; a file of another owner keeps
// its owner and mode through a save.
TEST(OwnFiles, OnlyRegularFilesOfBoundedSizeAreUsed)
{
    bool withoutRoot = false;
    for (const OwnFile& file : kFiles) {
        for (Case c : {Case::Link, Case::Fifo, Case::Folder, Case::Oversize, Case::OtherOwner, Case::LinkedFolder}) {
            SCOPED_TRACE(file.name + " case " + std::to_string(static_cast<int>(c)));
            const bool nested = file.name.find('/') != std::string::npos;
            if ((c == Case::Oversize && file.limit == 0) || (c == Case::LinkedFolder && !nested))
                continue;
            if (c == Case::OtherOwner && ::geteuid() != 0) {
                withoutRoot = true;
                continue;
            }
            TempFolder dir, outside;
            fs::create_directory(dir.path / "Log");
            const std::string path = dir.File(file.name);
            const std::string target = outside.Write(fs::path(file.name).filename().string(), file.content);
            switch (c) {
            case Case::Link:
                fs::create_symlink(target, path);
                break;
            case Case::LinkedFolder:
                fs::remove(dir.path / "Log");
                fs::create_directory_symlink(outside.path, dir.path / "Log");
                break;
            case Case::Fifo:
                ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
                break;
            case Case::Folder:
                fs::create_directory(path);
                break;
            case Case::Oversize:
                WriteText(path, file.content + std::string(file.limit, ';'));
                break;
            case Case::OtherOwner:
                WriteText(path, file.content);
                ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
                ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
                break;
            }
            const Use use = file.use(dir.path.string());
            struct stat st {};
            const bool there = ::lstat(path.c_str(), &st) == 0;
            ASSERT_TRUE(there || c == Case::LinkedFolder);
            EXPECT_EQ(ReadText(target), file.content) << "followed to a file outside";
            if (c == Case::OtherOwner) {
                EXPECT_EQ(use.taken, file.value);
                EXPECT_EQ(use.problem, "");
                EXPECT_EQ(std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid), "65534:65534");
                EXPECT_EQ(st.st_mode & 07777, 0640u);
                continue;
            }
            EXPECT_EQ(use.taken, "");
            EXPECT_NE(use.problem, "");
            EXPECT_EQ(use.problem.find("too large") != std::string::npos, c == Case::Oversize) << use.problem;
            const mode_t kept[] = {S_IFLNK, S_IFIFO, S_IFDIR, S_IFREG, 0, st.st_mode & S_IFMT};
            EXPECT_EQ(st.st_mode & S_IFMT, kept[static_cast<int>(c)]);
        }
    }
    if (withoutRoot)
        GTEST_SKIP() << "files of another owner need root to be made; the other cases ran";
}

// A working folder removed and made anew under its name is another monitor's to use: the first
// one says so once and writes nothing more there.
TEST(OwnFiles, ReplacedWorkingFolderIsLeftAlone)
{
    TempFolder dir, moved;
    fs::remove(moved.path);
    ManualClock clock;
    CZpmoniApp app(dir.path.string(), clock);
    app.profile.WriteInt("A", "k", 1);
    fs::rename(dir.path, moved.path);
    fs::create_directory(dir.path);
    app.profile.WriteInt("A", "k", 2);
    app.denyList = {{"1.2.3.4", "255.255.255.255", ""}};
    EXPECT_FALSE(app.IpFilterFile(false));
    app.dailyLog.WriteLine("hello");
    app.WriteErrorLog("later");
    EXPECT_EQ(fs::directory_iterator(dir.path)->path().filename(), "MoniErrLog.txt");
    EXPECT_EQ(CountOf(dir.Read("MoniErrLog.txt"), "\n"), 1u);
    EXPECT_EQ(ReadText((moved.path / "Zpmoni.ini").string()), "[A]\nk=1\n");
}

}  // namespace
