// SPDX-License-Identifier: MIT
// The supervisor's decisions on a fake platform: what it posts, signals and arms, and when.
#include "server/supervisor.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

using namespace zpmoni;

namespace {

using Lines = std::vector<std::string>;
using Periods = std::array<int, SupervisorTimers::kCount>;

// The whole platform, recording what the supervisor does to it as "ms what" lines in order.
// The windows answer at once, unless held: then their jobs wait for Release.
struct FakePlatform final : WindowSystem, WindowAccess, ServerProcesses, SupervisorTimers, LineWriter {
    int64_t ms = 0;
    Lines lines;
    void Add(const std::string& what) { lines.push_back(std::to_string(ms) + " " + what); }

    std::vector<WindowInfo> top;
    std::optional<WindowInfo> popup;
    std::set<WindowId> gone, iconic;
    bool hold = false;
    std::vector<std::function<void()>> held;
    void Post(std::function<void(WindowSystem&)> work, std::function<void()> answer) override
    {
        auto job = [this, work, answer] { work(*this); if (answer) answer(); };
        hold ? held.push_back(job) : job();
    }
    void Drain() override { Release(); }
    void Release()
    {
        hold = false;
        for (auto& job : std::exchange(held, {}))
            job();
    }
    std::vector<WindowInfo> TopLevelWindows() override { return top; }
    std::optional<WindowInfo> EnabledPopup(WindowId) override { return popup; }
    bool IsWindow(WindowId w) override { return !gone.count(w); }
    bool IsIconic(WindowId w) override { return iconic.count(w) > 0; }
    void PostClose(WindowId w) override { Add("close " + std::to_string(w)); }
    void PostMinimize(WindowId w) override { Add("minimize " + std::to_string(w)); }
    void ShowAndRaise(WindowId) override {}
    void PostKey(WindowId w, KeyKind k, uint8_t c) override
    {
        Add((k == KeyKind::Char ? "char " : "key ") + std::to_string(c) + " " + std::to_string(w));
    }

    uint32_t next = 100;
    bool fail = false;
    std::set<uint32_t> alive;
    void Start(const LaunchSpec& s, std::function<void(Result<uint32_t>)> done) override
    {
        Add("start " + s.argv[0] + (s.console ? " console" : ""));
        auto job = [this, done] { fail ? done(Failure{"no such file"}) : done(*alive.insert(next++).first); };
        hold ? held.push_back(job) : job();
    }
    void Watch(uint32_t pid) override { alive.insert(pid); }
    bool Alive(uint32_t pid) override { return alive.count(pid) > 0; }
    void Signal(uint32_t pid, bool kill) override { Add((kill ? "SIGKILL " : "SIGTERM ") + std::to_string(pid)); }
    void Exit(uint32_t pid) { alive.erase(pid), onExit(pid); }

    Periods period{};
    std::multimap<int64_t, std::function<void()>> steps;
    void Arm(Id id, int p) override { period[id] = p; }
    void Stop(Id id) override { period[id] = 0; }
    void After(int p, std::function<void()> step) override { steps.emplace(ms + p, std::move(step)); }
    void RunUntil(int64_t until)
    {
        for (; !steps.empty() && steps.begin()->first <= until; steps.erase(steps.begin()))
            ms = steps.begin()->first, steps.begin()->second();
        ms = until;
    }

    void WriteLine(std::string_view t) override { Add("event " + std::string(t)); }
};

struct SupervisorTest : ::testing::Test {
    MonitorSettings settings;
    ServerState state;
    FakePlatform fake;
    ManualClock clock;
    Supervisor sup{settings, state, fake, fake, fake, fake, clock};
    bool startEnabled = true;

    SupervisorTest()
    {
        settings.folderPath = "/zp";
        clock.seconds = 5000;
        sup.onStartEnabled = [this](bool on) { startEnabled = on; };
        sup.onError = [this](std::string_view t) { fake.Add("error " + std::string(t)); };
        sup.onNotice = [this](std::string_view t) { fake.Add("notice " + std::string(t)); };
        fake.onExit = [this](uint32_t pid) { sup.OnProcessExited(pid); };
    }
    // A server stopped, if any, and a fresh one (pid 100) started at 0 ms, its window (7) found by the window search.
    void Running()
    {
        sup.TerminateServer();
        fake.steps.clear(), fake.alive.clear(), fake.next = 100, fake.ms = 0;
        fake.gone.clear(), fake.iconic.clear(), fake.top.clear();
        sup.StartServer();
        fake.top = {{7, "ZEPHRINEWINDOW", "CPU", 100}};
        sup.WindowSearch();
        clock.tick += 60000;  // a server that ran a minute is brought back at once
        fake.lines.clear();
    }
    Lines Taken() { return std::exchange(fake.lines, {}); }
};

TEST_F(SupervisorTest, StartArmsTimersGreysTheItemAndLogsOnlyWhenTheProcessStarts)
{
    sup.closeInterval = 0;  // a period no timer may have
    for (bool fails : {true, false}) {
        SCOPED_TRACE(fails);
        fake.fail = fails;
        clock.seconds += 1000;
        sup.StartServer();
        EXPECT_EQ(Taken(), (fails ? Lines{"0 start /zp/zemain.exe", "0 error Cannot start server: no such file",
                                          "0 notice サーバーを起動できません: no such file"}
                                  : Lines{"0 start /zp/zemain.exe", "0 event Start server"}));
        EXPECT_EQ(fake.period, (fails ? Periods{} : Periods{10, 1000, 1000, 1000}));
        EXPECT_EQ(startEnabled, fails);
        EXPECT_EQ(state.serverProcessId, fails ? 0u : 100u);
        EXPECT_EQ(state.lastReset, clock.seconds);  // a failed start marks the time too
        EXPECT_EQ(state.lastRestart, clock.seconds);
    }
}

// Under CheckRunning a start that failed is tried again a back-off step later, not given up.
TEST_F(SupervisorTest, AFailedStartIsTriedAgainUnderCheckRunning)
{
    settings.checkRunning = 1;
    fake.fail = true;
    sup.StartServer();
    EXPECT_EQ(Taken().back(), "0 error server failed to start 1 times in 1 minutes; next start in 1 s");
    fake.fail = false;
    fake.RunUntil(fake.ms + 1000);
    EXPECT_EQ(state.serverRunning, 1);
}

TEST_F(SupervisorTest, ACrashLoopBacksOffUpToFiveMinutesAndTenMinutesUpEndIt)
{
    settings.checkRunning = 1;
    sup.StartServer();
    // Seconds each run lasts, and the pause after it before the next start.
    const std::pair<uint32_t, int64_t> runs[] = {{0, 1}, {5, 2}, {59, 4}, {0, 8}, {0, 16}, {0, 32}, {0, 64},
        {0, 128}, {0, 256}, {0, 300}, {0, 300}, {61, 0}, {1, 300}, {600, 0}, {0, 1}};
    for (const auto& [lived, pause] : runs) {
        SCOPED_TRACE(pause);
        clock.tick += lived * 1000;
        fake.Exit(state.serverProcessId);
        fake.RunUntil(fake.ms + pause * 1000 - 1);
        EXPECT_EQ(state.serverRunning, pause == 0);
        fake.RunUntil(fake.ms + 1);
        EXPECT_EQ(state.serverRunning, 1);
    }
}

TEST_F(SupervisorTest, TerminateAndTheStopsAndStartsThatMeetIt)
{
    settings.checkRunning = 1;
    const Lines stopped{"0 event Terminate server", "0 key 27 7"};
    auto plus = [](Lines a, const Lines& b) { return a.insert(a.end(), b.begin(), b.end()), a; };
    const std::pair<std::function<void()>, Lines> cases[] = {
        // Terminate: Escape three times, the close request, then signals while the process stays
        // (the window search stopped on finding the window; the minimise timer is left to itself) ...
        {[&] { sup.TerminateServer(), fake.Add(std::to_string(state.lastRestart == kNoMark) + std::to_string(startEnabled)); },
         plus(stopped, {"0 11", "100 key 27 7", "200 key 27 7", "700 close 7", "2700 SIGTERM 100", "4700 SIGKILL 100"})},
        {[&] { sup.TerminateServer(), fake.RunUntil(3000), fake.alive.clear(); },
         plus(stopped, {"100 key 27 7", "200 key 27 7", "700 close 7", "2700 SIGTERM 100"})},
        // ... as characters to the console server; an ended server is asked nothing more.
        {[&] { settings.exeType = 3, sup.TerminateServer(), fake.RunUntil(300), fake.alive.clear(); },
         {"0 event Terminate server", "0 char 27 7", "100 char 27 7", "200 char 27 7"}},
        // Terminate drops the restart still waiting for the spacing after a quick death.
        {[&] { clock.tick -= 700, fake.Exit(100), fake.RunUntil(100), sup.TerminateServer(); },
         {"0 event Terminate server", "0 error server exited 1 times in 1 minutes; next start in 1 s"}},
        // ... and the start waiting for the stopped process's end.
        {[&] { sup.TerminateServer(), sup.StartServer(), fake.RunUntil(50), sup.TerminateServer(),
               fake.RunUntil(150), fake.Exit(100); },
         plus(stopped, {"100 key 27 7"})},
        // A start while running only says so; the window stays known.
        {[&] { sup.StartServer(); EXPECT_EQ(state.serverWindow, 7u); },
         {"0 notice サーバーは既に起動しています"}},
        // Only the process's end takes it down: a window gone is looked for again ...
        {[&] { fake.gone.insert(7), sup.DownCheck(), fake.Add(std::to_string(state.serverWindow) + " search " +
                                                               std::to_string(fake.period[SupervisorTimers::WindowSearch])); },
         {"0 0 search 1000"}},
        // ... and without CheckRunning nothing starts again.
        {[&] { settings.checkRunning = 0, fake.Exit(100); }, {"0 event Terminate server"}},
        // A crash: the dead server's window id, reused by its successor, gets nothing.
        {[&] { fake.Exit(100), fake.top[0].pid = 101; },
         {"0 event Terminate server", "0 start /zp/zemain.exe", "0 event Start server"}},
        // A window that changed hands mid-stop gets no more keys; the process still gets signals.
        {[&] { sup.TerminateServer(), fake.RunUntil(150), fake.top[0].pid = 555; },
         plus(stopped, {"100 key 27 7", "2700 SIGTERM 100", "4700 SIGKILL 100"})},
        // A new start ends what is left of the stop of a window whose process is not known.
        {[&] { sup.TerminateServer(), fake.RunUntil(9000), fake.lines.clear(), fake.ms = 0,
               fake.alive.clear(), sup.TakeControl({7, "ZEPHRINEWINDOW", "CPU", 0}),
               sup.TerminateServer(), fake.RunUntil(150), sup.StartServer(); },
         plus(stopped, {"100 key 27 7", "150 start /zp/zemain.exe", "150 event Start server"})},
        // At the monitor's end a stop under way finishes at once, up to the polite signal.
        {[&] { sup.TerminateServer(), fake.RunUntil(50), sup.FinishPendingStop(); },
         plus(stopped, {"50 key 27 7", "50 key 27 7", "50 close 7", "50 SIGTERM 100"})},
    };
    for (const auto& [act, expected] : cases) {
        SCOPED_TRACE(expected.back());
        settings.checkRunning = 1, settings.exeType = 1;
        Running();
        act();
        fake.RunUntil(10000);
        EXPECT_EQ(Taken(), expected);
        EXPECT_EQ(fake.period[SupervisorTimers::Minimize], 1000);
    }
}

TEST_F(SupervisorTest, TheFirstStartTakesUpTheServerAPreviousMonitorLeftRunning)
{
    settings.checkRunning = 1;
    const std::tuple<int, WindowInfo, Lines> cases[] = {
        {3, {5, "", "zemainsvr-9-1 zpmoni", 55, WindowKind::Console}, {"0 event Take control"}},
        {1, {5, "ZEPHRINEWINDOW", "OpenGL", 55}, {"0 event Take control"}},
        {1, {5, "ZEPHRINEWINDOW", "OpenGL", 55, WindowKind::Dialog}, {"0 start /zp/zemain.exe", "0 event Start server"}},
        {1, {5, "ZEPHRINEWINDOW", "OpenGL", 0}, {"0 start /zp/zemain.exe", "0 event Start server"}},
        {3, {5, "", "bash", 55, WindowKind::Console}, {"0 start /zp/zemainsvr.exe console", "0 event Start server"}}};
    for (const auto& [type, window, expected] : cases) {
        ServerState st;
        Supervisor monitor{settings, st, fake, fake, fake, fake, clock};
        fake.onExit = [&](uint32_t pid) { monitor.OnProcessExited(pid); };
        settings.exeType = type;
        fake.top = {window};
        monitor.StartServer();
        EXPECT_EQ(Taken(), expected) << window.title;
        // Watched, and started again at its end.
        clock.tick += 60000;
        fake.Exit(st.serverProcessId);
        EXPECT_EQ(Taken().back(), "0 event Start server");
        fake.onExit = nullptr;
    }
}

TEST_F(SupervisorTest, MinimizeTimerPostsUntilIconicAndStopsThen)
{
    for (int minimize : {0, 1}) {
        settings.minimizeZP = minimize;
        Running();
        sup.MinimizeWindow();
        sup.MinimizeWindow();
        fake.iconic.insert(7);
        sup.MinimizeWindow();
        EXPECT_EQ(Taken(), (minimize ? Lines{"0 minimize 7", "0 minimize 7"} : Lines{}));
        EXPECT_EQ(fake.period[SupervisorTimers::Minimize], minimize ? 0 : 1000);
    }
}

TEST_F(SupervisorTest, ErrorDialogsAreClosedAndMenusLeftOpen)
{
    Running();
    const std::pair<WindowKind, int> cases[] = {{WindowKind::Dialog, 1}, {WindowKind::Menu, 0}};
    for (const auto& [kind, closed] : cases) {
        fake.popup = WindowInfo{9, "Error", "", 100, kind};
        sup.CloseErrorDialogs();
        EXPECT_EQ(Taken().size(), static_cast<size_t>(closed));
    }
    settings.closeErrorDialog = 0;
    sup.CloseErrorDialogs();
    EXPECT_TRUE(Taken().empty());
}

TEST_F(SupervisorTest, TakeControlFindsTheWindowAndSetsTheTypeByKeywordOrder)
{
    settings.checkRunning = 1;
    fake.top = {{3, "xterm", "zemainsvr.exe", 1}, {4, "", "bash", 2, WindowKind::Console}};
    EXPECT_FALSE(Supervisor::ServerWindowAmong(fake.top));
    const std::tuple<std::string, std::string, int> cases[] = {
        {"ZEPHRINEWINDOW", "ZEPHRINE OpenGL CPU", 1}, {"ZEPHRINEWINDOW", "OpenGL", 0},
        {"Zemaindx.exe", "Direct3D", 2}, {"", "s zemainsvr.exe CPU", 3},
        {"ZEPHRINEWINDOW", "untitled", 3}};
    for (const auto& [cls, title, type] : cases) {
        fake.top.push_back({5, cls, title, 77, cls.empty() ? WindowKind::Console : WindowKind::Main});
        const std::optional<WindowInfo> found = Supervisor::ServerWindowAmong(fake.top);
        ASSERT_TRUE(found) << cls;
        sup.TakeControl(*found);
        EXPECT_EQ(settings.exeType, type) << title;
        EXPECT_FALSE(sup.CanTakeControl());
        EXPECT_EQ(state.serverWindow, 5u);
        EXPECT_EQ(fake.period, (Periods{800, 0, 0, 0}));
        // Under control it is never restarted, and a stop only asks it to close: its pid came
        // from a window, and no signal goes to a process this monitor did not start.
        sup.DownCheck();
        sup.TerminateServer();
        fake.RunUntil(fake.ms + 10000);
        EXPECT_EQ(Taken().back(), std::to_string(fake.ms - 9300) + " close 5");
        fake.top.pop_back();
    }
    EXPECT_EQ(state.serverProcessId, 0u);
}

TEST_F(SupervisorTest, CommandLineAndWindowOfTheProcess)
{
    settings.folderPath = "/opt/zp/";
    EXPECT_EQ(ServerCommandLine(settings), "/opt/zp//zemain.exe -server USERNAME -netport 7915");
    settings.exeType = 4;
    EXPECT_FALSE(ServerLaunch(settings));
    sup.StartServer();
    EXPECT_EQ(Taken().front(), "0 error Cannot start server: ExeType 4 is not one of 0 to 3");
    // The window of the started process, not a pop-up of its own nor another's.
    fake.top = {{1, "a", "", 100, WindowKind::Dialog}, {2, "b", "", 41}, {3, "c", "", 100}};
    settings.exeType = 1;
    sup.StartServer();
    sup.WindowSearch();
    EXPECT_EQ(state.serverWindow, 3u);
}

}  // namespace

namespace {

// The platform answers later: what came meanwhile decides what the answer may still change.
TEST_F(SupervisorTest, LateAnswersMeetTheStateAsItIsThen)
{
    settings.checkRunning = 1;
    // The first start's look for a running server is out: a second start is refused, and a
    // terminate ends the start before anything is started.
    fake.hold = true;
    sup.StartServer(), sup.StartServer(), sup.TerminateServer(), fake.Release();
    EXPECT_EQ(Taken(), Lines{"0 notice サーバーは既に起動しています"});
    // A terminate while the process is being started stops it once it is known.
    fake.hold = true;
    sup.StartServer(), sup.TerminateServer(), fake.Release(), fake.RunUntil(5000);
    EXPECT_EQ(Taken(), (Lines{"0 start /zp/zemain.exe", "0 event Start server", "0 event Terminate server",
                              "2700 SIGTERM 100", "4700 SIGKILL 100"}));
    // One question per timer while its answer is out; a window answer about a window no longer
    // known changes nothing.
    settings.minimizeZP = 1;
    Running();
    fake.hold = true;
    sup.MinimizeWindow(), sup.MinimizeWindow(), fake.gone.insert(7), sup.DownCheck();
    state.serverWindow = 8;
    fake.Release();
    EXPECT_EQ(Taken(), Lines{"0 minimize 7"});
    EXPECT_EQ(state.serverWindow, 8u);
    EXPECT_EQ(fake.period[SupervisorTimers::WindowSearch], 0);
}

}  // namespace
