// SPDX-License-Identifier: MIT
// The monitor supervising the stand-in simulator for real: its X11 window under Xvfb with a
// window manager, and the console server in tmux without a display.
#include "e2e/zpsim_harness.h"

#include <sys/stat.h>

namespace {

struct SupervisorRun {
    TempFolder dir;
    std::unique_ptr<ChildProcess> monitor;

    std::string Record() const { return dir.File("zpsim.jsonl"); }
    size_t Count(const char* ev) const
    {
        return CountRecord(Record(), [&](const QJsonObject& o) { return IsEvent(o, ev); });
    }
    bool Await(const char* ev, size_t n = 1) const
    {
        return WaitFor([&] { return Count(ev) >= n; }, std::chrono::seconds(20));
    }
    std::vector<pid_t> ServerPids() const
    {
        std::vector<pid_t> pids;
        for (const QJsonObject& o : ReadRecord(Record()))
            if (IsEvent(o, "listen"))
                pids.push_back(o["pid"].toInt());
        return pids;
    }
    size_t LogLines(const std::string& text) const
    {
        const std::string out = dir.Read("monitor.out");
        size_t n = 0;
        for (size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1))
            ++n;
        return n;
    }
    void Start(const std::string& settings, const std::string& folder = ZPSIM_BIN)
    {
        setenv("ZPSIM_RECORD", Record().c_str(), 1);
        setenv("ZPMONI_TMUX_SOCKET", ("zpt" + std::to_string(getpid())).c_str(), 1);
        dir.Write("Zpmoni.ini", "[ProgramData]\nPort=0\nStartUp=1\nFolderPath=" + folder + "\n" + settings);
        monitor = std::make_unique<ChildProcess>(
            std::vector<std::string>{ZPMONI_BINARY, "--headless", "--workdir", dir.path.string()},
            dir.File("monitor.out"));
    }
};

bool Exists(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

TEST(SupervisorX11, FindsMinimisesClosesDialogsSendsKeysAndBringsTheServerBack)
{
    if (!Exists("/usr/bin/Xvfb") || !Exists("/usr/bin/openbox"))
        GTEST_SKIP() << "needs Xvfb and openbox";
    SupervisorRun run;
    // A display nobody else uses: other test runs share the machine.
    std::unique_ptr<ChildProcess> xvfb;
    int display = -1;
    for (int d = 60; d < 200 && display < 0; ++d) {
        const std::string n = std::to_string(d), socket = "/tmp/.X11-unix/X" + n;
        if (Exists(socket) || Exists("/tmp/.X" + n + "-lock"))
            continue;
        xvfb = std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/Xvfb", ":" + n,
            "-screen", "0", "800x600x24", "-nolisten", "tcp"}, run.dir.File("xvfb.out"));
        if (WaitFor([&] { return Exists(socket) || !xvfb->Running(); }, std::chrono::seconds(10)) &&
            xvfb->Running())
            display = d;
    }
    ASSERT_GE(display, 0);
    setenv("DISPLAY", (":" + std::to_string(display)).c_str(), 1);
    ChildProcess wm({"/usr/bin/openbox", "--sm-disable"}, run.dir.File("openbox.out"));
    setenv("ZPSIM_ARGS", "--menu-after 1 --error-dialog-after 2", 1);
    run.Start("ExeType=1\nCheckRunning=1\nMinimizeZP=1\nIntercept=1\nInterceptInterval=2\n");

    ASSERT_TRUE(run.Await("window"));
    EXPECT_TRUE(run.Await("iconified"));
    ASSERT_TRUE(run.Await("dialog-closed"));
    EXPECT_EQ(run.Count("menu-open"), 1u);
    EXPECT_EQ(run.Count("menu-closed"), 0u);
    EXPECT_TRUE(WaitFor([&] { return CountRecord(run.Record(), [](const QJsonObject& o) {
        return IsEvent(o, "key") && o["key"] == "I"; }) > 0; }, std::chrono::seconds(10)));

    const pid_t first = run.ServerPids().at(0);
    kill(first, SIGKILL);
    ASSERT_TRUE(run.Await("listen", 2)) << run.dir.Read("monitor.out");
    EXPECT_EQ(run.LogLines("Terminate server"), 1u);
    EXPECT_EQ(run.LogLines("Start server"), 2u);

    // The monitor's end leaves its server running.
    run.monitor->Stop(SIGTERM);
    const pid_t second = run.ServerPids().at(1);
    EXPECT_NE(second, first);
    EXPECT_EQ(kill(second, 0), 0);
    kill(second, SIGTERM);
    unsetenv("ZPSIM_ARGS");
}

TEST(SupervisorConsole, RunsTheConsoleServerInTmuxAndLeavesItDownWithoutCheckRunning)
{
    if (!Exists("/usr/bin/tmux"))
        GTEST_SKIP() << "needs tmux";
    unsetenv("DISPLAY");
    SupervisorRun run;
    run.Start("ExeType=3\nCheckRunning=0\nResetAtInterval=1\nResetIntervalSec=1\n");
    // The scheduled revival arrives as a typed character.
    EXPECT_TRUE(WaitFor([&] { return CountRecord(run.Record(), [](const QJsonObject& o) {
        return IsEvent(o, "key") && o["key"] == "R"; }) > 0; }, std::chrono::seconds(20)));
    const std::string socket = getenv("ZPMONI_TMUX_SOCKET");
    ChildProcess panes({"/usr/bin/tmux", "-L", socket, "list-panes", "-a", "-F", "#{pane_pid}"},
                       run.dir.File("panes.out"));
    ASSERT_TRUE(panes.Wait(std::chrono::seconds(5)));
    EXPECT_EQ(std::stoi(run.dir.Read("panes.out")), run.ServerPids().at(0));

    kill(run.ServerPids().at(0), SIGKILL);
    EXPECT_TRUE(WaitFor([&] { return run.LogLines("Terminate server") == 1; }, std::chrono::seconds(5)));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_EQ(run.Count("listen"), 1u);
    EXPECT_EQ(run.LogLines("Start server"), 1u);
    run.monitor->Stop(SIGTERM);
    ChildProcess({"/usr/bin/tmux", "-L", socket, "kill-server"}, run.dir.File("end.out")).Wait(std::chrono::seconds(5));
}

TEST(SupervisorConsole, StartsAWindowsProgramThroughWineFromPath)
{
    SupervisorRun run;
    run.dir.Write("zemain.exe", std::string("MZ\x90\0", 4));
    chmod(run.dir.Write("wine", "#!/bin/sh\necho $$ \"$@\" >wine.args\nexec sleep 60\n").c_str(), 0755);
    const std::string path = getenv("PATH");
    setenv("PATH", (run.dir.path.string() + ":" + path).c_str(), 1);
    run.Start("ExeType=1\n", run.dir.path.string());
    setenv("PATH", path.c_str(), 1);
    ASSERT_TRUE(WaitFor([&] { return !run.dir.Read("wine.args").empty(); }, std::chrono::seconds(10)));
    const std::string args = run.dir.Read("wine.args");
    EXPECT_EQ(args.substr(args.find(' ')), " " + run.dir.File("zemain.exe") + " -server USERNAME -netport 0\n");
    EXPECT_TRUE(WaitFor([&] { return run.LogLines("Start server") == 1; }, std::chrono::seconds(5)));
    run.monitor->Stop(SIGTERM);
    kill(std::stoi(args), SIGKILL);
}

}  // namespace
