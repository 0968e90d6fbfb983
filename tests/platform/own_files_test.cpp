// SPDX-License-Identifier: MIT
#include "access/deny_file.h"
#include "app/monitor_app.h"
#include "platform/instance_lock.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

using namespace zpmoni;

namespace {

namespace fs = std::filesystem;

// What the monitor took from the file ("" for nothing) and the problem it told ("" for none).
struct Use { std::string taken, problem; };

// Each of the monitor's own files: its name, what it may hold, what is taken from that, its
// size bound (0: none), and its use (reading, and writing where the monitor writes it).
const std::tuple<std::string, std::string, std::string, size_t, std::function<Use(const std::string&)>> kFiles[] = {
    {"Zpmoni.lock", "4242\n", "locked:4242\n", 0, [](const std::string& f) {
         InstanceLock lock;
         const bool locked = lock.Acquire(f) == InstanceLock::Result::Acquired;
         return Use{locked ? "locked:" + ReadText(f + "/Zpmoni.lock") : "", lock.Problem()};
     }},
    {"Zpmoni.ini", "[ProgramData]\nPort=1234\n", "1234", kSettingsFileLimit, [](const std::string& f) {
         Use u;
         ProfileStore store(f + "/Zpmoni.ini");
         store.SetFailureReport([&](std::string_view m) { u.problem.append(m); });
         u.taken = store.GetString("ProgramData", "Port", "");
         store.WriteInt("ProgramData", "Glimit", 1);
         return u;
     }},
    {"ipfilter.txt", "1.2.3.4\n", "1.2.3.4", kSettingsFileLimit, [](const std::string& f) {
         DenyList list;
         const std::string problem = deny_file::Load(f + "/ipfilter.txt", list).error();
         return Use{list.empty() ? "" : list[0].address,
                    problem + deny_file::Save(f + "/ipfilter.txt", {{"5.6.7.8", "", ""}}).error()};
     }},
    {"Packlist.txt", "Pack=P\nF-15\n", "P", kPackListLimit, [](const std::string& f) {
         PackIndex index;
         const std::string problem = FileProblem("read", f, index.Load(f + "/Packlist.txt"));
         return Use{std::string(index.Lookup("F-15")), problem};
     }},
    // The error log opens its file the same way. Read back without opening a FIFO.
    {"Log/zplog19700101.txt", "", "hello", 0, [](const std::string& f) {
         ManualClock clock;
         DailyLog(f, clock).WriteLine("hello");
         const bool in = ReadRegularFile(f + "/Log/zplog19700101.txt", 99).data.find("hello") != std::string::npos;
         return Use{in ? "hello" : "", in ? "" : "not written"};
     }},
};

enum class Case { Link, Fifo, Folder, Oversize, OtherOwner, LinkedFolder };

// A link, a FIFO, a folder or an oversize file in the place of each of the monitor's own files
// is neither used nor followed, nor does it hold the monitor up; a file of another owner keeps
// its owner and mode through a save.
TEST(OwnFiles, OnlyRegularFilesOfBoundedSizeAreUsed)
{
    const bool root = ::geteuid() == 0;
    for (const auto& [name, content, value, limit, use] : kFiles) {
        for (Case c : {Case::Link, Case::Fifo, Case::Folder, Case::Oversize, Case::OtherOwner, Case::LinkedFolder}) {
            SCOPED_TRACE(name + " case " + std::to_string(static_cast<int>(c)));
            if ((c == Case::Oversize && limit == 0) || (c == Case::LinkedFolder && name.find('/') == name.npos) ||
                (c == Case::OtherOwner && !root))
                continue;
            TempFolder dir, outside;
            fs::create_directory(dir.path / "Log");
            const std::string path = dir.File(name);
            const std::string target = outside.Write(fs::path(name).filename().string(), content);
            if (c == Case::Link)
                fs::create_symlink(target, path);
            else if (c == Case::LinkedFolder)
                fs::remove(dir.path / "Log"), fs::create_directory_symlink(outside.path, dir.path / "Log");
            else if (c == Case::Fifo)
                ::mkfifo(path.c_str(), 0644);
            else if (c == Case::Folder)
                fs::create_directory(path);
            else
                WriteText(path, content + std::string(c == Case::Oversize ? limit : 0, ';'));
            ASSERT_EQ(c == Case::OtherOwner ? ::chown(path.c_str(), 65534, 65534) | ::chmod(path.c_str(), 0640) : 0, 0);
            const Use used = use(dir.path.string());
            struct stat st {};
            ASSERT_TRUE(::lstat(path.c_str(), &st) == 0 || c == Case::LinkedFolder);
            EXPECT_EQ(ReadText(target), content) << "followed to a file outside";
            // Only a regular file of another owner is used; it keeps owner and mode (0640) through a save.
            const bool owner = c == Case::OtherOwner;
            EXPECT_EQ(used.taken, owner ? value : "");
            EXPECT_EQ(used.problem.empty(), owner) << used.problem;
            EXPECT_EQ(used.problem.find("too large") != std::string::npos, c == Case::Oversize) << used.problem;
            const mode_t kept[] = {S_IFLNK, S_IFIFO, S_IFDIR, S_IFREG, S_IFREG, st.st_mode & S_IFMT};
            EXPECT_EQ(st.st_mode & S_IFMT, kept[static_cast<int>(c)]);
            const std::string ids = std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid) + " " + std::to_string(st.st_mode & 07777);
            EXPECT_EQ(owner ? ids : "", owner ? "65534:65534 416" : "");
        }
    }
    if (!root)
        GTEST_SKIP() << "files of another owner need root to be made; the other cases ran";
}

// A working folder removed and made anew under its name is another monitor's to use: the first
// one says so once and writes nothing more there.
TEST(OwnFiles, ReplacedWorkingFolderIsLeftAlone)
{
    TempFolder dir, moved;
    ManualClock clock;
    MonitorApp app(dir.path.string(), clock);
    app.profile.WriteInt("A", "k", 1);
    fs::rename(dir.path, moved.path);  // over the empty folder
    fs::create_directory(dir.path);
    app.profile.WriteInt("A", "k", 2);
    EXPECT_FALSE(app.access.Save());
    app.dailyLog.WriteLine("hello");
    app.WriteErrorLog("later");
    EXPECT_EQ(fs::directory_iterator(dir.path)->path().filename(), "MoniErrLog.txt");
    EXPECT_EQ(CountOf(dir.Read("MoniErrLog.txt"), "\n"), 1u);
    EXPECT_EQ(ReadText((moved.path / "Zpmoni.ini").string()), "[A]\nk=1\n");
}

}  // namespace
