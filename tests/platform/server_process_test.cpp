// SPDX-License-Identifier: MIT
// The processes the monitor starts, watched for real: their end is told once, and only then.
#include "platform/server_process.h"

#include "platform/command_runner.h"
#include "platform/command_runner_queue.h"
#include "server/server_service.h"
#include "support/temp_folder.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <thread>

using namespace zpmoni;

namespace {

// A start as the monitor would make it: as root, as the unprivileged test user.
LaunchSpec Spec(std::vector<std::string> argv, std::string workdir = "/")
{
    return {std::move(argv), std::move(workdir), false, "zpsim"};
}

struct ServerProcessTest : ::testing::Test {
    int argc = 1;
    char name[8] = "test";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};

    // Runs the event loop until `done` or `ms` have passed.
    template <class F> void Spin(int ms, F done)
    {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    // A start, waited for: it answers on the event loop.
    Result<uint32_t> Start(ServerProcesses& processes, const LaunchSpec& spec)
    {
        std::optional<Result<uint32_t>> result;
        processes.Start(spec, [&](Result<uint32_t> r) { result.emplace(std::move(r)); });
        Spin(5000, [&] { return result.has_value(); });
        return result.value_or(Failure{"no answer"});
    }
};

TEST_F(ServerProcessTest, ARefusedPidfdIsWatchedByPollingNotTakenForAnEnd)
{
    for (bool refused : {false, true}) {
        SCOPED_TRACE(refused);
        ProcessCalls calls;
        if (refused)
            calls.pidfdOpen = [](int) { return -1; };
        auto processes = MakeServerProcesses("", calls);
        std::vector<uint32_t> ended;
        processes->onExit = [&](uint32_t pid) { ended.push_back(pid); };
        const Result<uint32_t> started = Start(*processes, Spec({"/bin/sleep", "0.4"}));
        ASSERT_TRUE(started) << started.error();
        const uint32_t pid = *started;
        Spin(200, [&] { return !ended.empty(); });
        EXPECT_TRUE(ended.empty());
        EXPECT_TRUE(processes->Alive(pid));
        Spin(3000, [&] { return !ended.empty(); });
        EXPECT_EQ(ended, std::vector<uint32_t>{pid});
        EXPECT_FALSE(processes->Alive(pid));
        // Reaped: no zombie is left behind.
        EXPECT_EQ(::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG), -1);
    }
}

TEST_F(ServerProcessTest, AFailedStartNamesItsCause)
{
    TempFolder dir;
    dir.Write("text", "#!/bin/sh\n");
    ::mkfifo(dir.File("fifo").c_str(), 0700);  // opened for its header, it would block
    auto processes = MakeServerProcesses("");
    std::vector<std::pair<LaunchSpec, std::string>> cases = {
        {Spec({"/bin/true"}, dir.File("none")), "the folder " + dir.File("none") + " does not exist"},
        {Spec({dir.File("none")}), dir.File("none") + " does not exist or is no file"},
        {Spec({dir.File("fifo")}), dir.File("fifo") + " does not exist or is no file"},
        {Spec({dir.File("text")}), dir.File("text") + " is not executable"},
    };
    if (::geteuid() == 0)  // root starts the server as a named user only
        cases.insert(cases.end(), {{{{"/bin/true"}, "/", false, ""}, "ServerUser in [ZpmoniDlg] is empty: set the user "
                                    "the server runs as (ServerUser=root runs it as root)"},
                                   {{{"/bin/true"}, "/", false, "zpt-none\n"}, "ServerUser zpt-none\\x0a is no user of this system"}});
    for (const auto& [spec, why] : cases) {
        const Result<uint32_t> started = Start(*processes, spec);
        EXPECT_FALSE(started);
        EXPECT_EQ(started.error(), why);
    }
}

TEST_F(ServerProcessTest, ChildrenGetNoStrayDescriptorsAndNoToolFromARelativePath)
{
    const int stray = ::open("/dev/null", O_RDONLY);  // inherited, as a careless library would
    const std::string fd = std::to_string(stray);
    EXPECT_FALSE(RunCapture({"/usr/bin/readlink", "/proc/self/fd/" + fd}));
    EXPECT_TRUE(RunCapture({"/usr/bin/readlink", "/proc/self/fd/1"}));
    auto processes = MakeServerProcesses("");
    const uint32_t pid = Start(*processes, Spec({"/bin/sleep", "5"})).value();
    Spin(300, [] { return false; });
    const auto fds = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd");
    EXPECT_EQ(std::distance(begin(fds), end(fds)), 3);
    // Only what it started gets signals: not a process it merely watches, never pid 1.
    processes->Signal(1, true);
    auto other = MakeServerProcesses("");
    other->Watch(pid);
    other->Signal(pid, true);
    Spin(100, [] { return false; });
    EXPECT_EQ(::kill(static_cast<pid_t>(pid), 0), 0);
    processes->Signal(pid, true);
    ::close(stray);

    TempFolder dir;
    const std::string tool = "zpt-tool-" + std::to_string(::getpid());
    std::filesystem::permissions(dir.Write(tool, "#!/bin/sh\n"), std::filesystem::perms::owner_all);
    const std::string path = ::getenv("PATH"), cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    for (const std::string& entry : {std::string("."), dir.Path().string()}) {
        ::setenv("PATH", entry.c_str(), 1);
        const bool trusted = entry.front() == '/' && !Privileged();
        EXPECT_EQ(FindInPath(tool), trusted ? dir.File(tool) : "") << entry;
    }
    ::setenv("PATH", path.c_str(), 1);
    std::filesystem::current_path(cwd);
}

// Jobs run in order on the queue's thread, their answers on the event loop's; at the end, with
// no event loop, Drain waits for the jobs and runs the answers and what they post in turn.
TEST_F(ServerProcessTest, QueuedJobsRunInOrderOffTheEventLoopAndAnswerOnIt)
{
    JobQueue queue;
    const std::thread::id here = std::this_thread::get_id();
    std::vector<int> order;
    std::vector<bool> answeredHere;
    for (int i = 0; i < 3; ++i)
        queue.Post([&, i] { order.push_back(std::this_thread::get_id() == here ? -1 : i); },
                   [&] { answeredHere.push_back(std::this_thread::get_id() == here); });
    Spin(2000, [&] { return answeredHere.size() == 3; });
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(answeredHere, std::vector<bool>(3, true));
    int answers = 0;
    queue.Post([] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); },
               [&] { ++answers, queue.Post({}, [&] { ++answers; }); });
    queue.Drain();
    EXPECT_EQ(answers, 2);
}

// The operator's operations on a real process: each says whether it was taken, and why not.
TEST_F(ServerProcessTest, TheServiceStartsAndStopsTheServerAndSaysWhatItRefused)
{
    TempFolder dir;
    std::filesystem::permissions(dir.Write("zemain.exe", "#!/bin/sh\nexec sleep 30\n"), std::filesystem::perms::owner_all);
    MonitorSettings settings;
    settings.folderPath = dir.Path().string();
    settings.serverUser = "root";
    ManualClock clock;
    struct : LineWriter {
        std::vector<std::string> lines;
        void WriteLine(std::string_view line) override { lines.emplace_back(line); }
    } events;
    SharedSettings published;
    ServerService service(settings, published, events, clock);
    EXPECT_EQ(service.Start().error(), "the server is not supervised now");
    service.Supervise([] {}, [](std::string_view) {});
    EXPECT_TRUE(service.Start());
    EXPECT_EQ(service.Start().error(), "the server is already running");
    Spin(5000, [&] { return service.CurrentStatus().running; });
    const uint32_t pid = service.CurrentStatus().pid;
    EXPECT_EQ(::kill(static_cast<pid_t>(pid), 0), 0);
    EXPECT_TRUE(service.Stop());
    EXPECT_EQ(service.Stop().error(), "no server is running");
    Spin(5000, [&] { return ::kill(static_cast<pid_t>(pid), 0) != 0; });
    EXPECT_EQ(events.lines, (std::vector<std::string>{"Start server", "Terminate server"}));
    EXPECT_NE(::kill(static_cast<pid_t>(pid), 0), 0);
}

}  // namespace
