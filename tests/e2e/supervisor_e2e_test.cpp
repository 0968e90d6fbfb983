// SPDX-License-Identifier: MIT
// The monitor supervising the stand-in simulator for real: its X11 window under Xvfb with a
// window manager, and the console server in tmux without a display.
#include "e2e/zpsim_harness.h"

#include <algorithm>
#include <filesystem>

#include <pwd.h>


using std::filesystem::exists;

// The monitor runs the simulator from the folder given; the simulator records its events in server.jsonl.
struct SupervisorRun : ZpsimHarness {
    // The simulator's events `ev` recorded so far (only those for the key `key`, if given).
    std::vector<QJsonObject> Events(const char* ev, const char* key = nullptr) const
    {
        return Record(ServerRecord(), [&](const QJsonObject& o) { return IsEvent(o, ev) && (!key || o["key"] == key); });
    }
    bool Await(const char* ev, size_t n = 1, const char* key = nullptr) const
    {
        return WaitFor([&] { return Events(ev, key).size() >= n; }, std::chrono::seconds(20));
    }
    pid_t ServerPid(size_t i) const { return Events("listen").at(i)["pid"].toInt(); }
    size_t LogLines(const std::string& text) const
    {
        return std::ranges::count_if(Output(), [&](const std::string& l) { return l.find(text) != l.npos; });
    }
    void Start(const std::string& settings, const std::string& folder = ZPSIM_BIN)
    {
        setenv("ZPSIM_RECORD", ServerRecord().c_str(), 1);
        setenv("ZPMONI_TMUX_SOCKET", socket.c_str(), 1);
        // The server runs as the unprivileged test user, and records into this folder.
        std::filesystem::permissions(dir.path, std::filesystem::perms::all);
        StartMonitor("[ZpmoniDlg]\nServerUser=zpsim\n[ProgramData]\nStartUp=1\nFolderPath=" + folder + "\n" + settings);
    }
    // The user the server runs as: the test user under a root monitor, else the monitor's own.
    static const passwd* ServerUser() { return geteuid() == 0 ? getpwnam("zpsim") : getpwuid(geteuid()); }
    // tmux on the console socket, as the server's user's tmux server knows it.
    std::vector<std::string> Tmux(std::vector<std::string> args) const
    {
        args.insert(args.begin(), {"/usr/bin/tmux", "-S", "/tmp/tmux-" + std::to_string(ServerUser()->pw_uid) + "/" + socket});
        return args;
    }
    // The server process holds the user's ids, no capability, and cannot gain privileges.
    void ExpectUnprivileged(pid_t pid) const
    {
        const std::string status = ReadText("/proc/" + std::to_string(pid) + "/status");
        const std::string u = "\t" + std::to_string(ServerUser()->pw_uid), g = "\t" + std::to_string(ServerUser()->pw_gid);
        for (const std::string& line : {"Uid:" + u + u + u + u, "Gid:" + g + g + g + g, std::string("CapPrm:\t0000000000000000"),
                                        std::string("CapEff:\t0000000000000000"), std::string(geteuid() ? "" : "NoNewPrivs:\t1")})
            EXPECT_NE(status.find(line + "\n"), std::string::npos) << line << "\n" << status;
    }
    const std::string socket = "zpt" + std::to_string(getpid());
};

TEST(SupervisorX11, FindsMinimisesClosesDialogsSendsKeysAndBringsTheServerBack)
{
    if (!exists("/usr/bin/Xvfb") || !exists("/usr/bin/openbox"))
        GTEST_SKIP() << "needs Xvfb and openbox";
    SupervisorRun run;
    // A display nobody else uses: other test runs share the machine.
    int n = 60;
    while (exists("/tmp/.X11-unix/X" + std::to_string(n)) || exists("/tmp/.X" + std::to_string(n) + "-lock"))
        ++n;
    const std::string display = ":" + std::to_string(n);
    ChildProcess xvfb({"/usr/bin/Xvfb", display, "-screen", "0", "800x600x24", "-nolisten", "tcp"}, run.dir.File("x"));
    ASSERT_TRUE(WaitFor([&] { return exists("/tmp/.X11-unix/X" + std::to_string(n)); }, std::chrono::seconds(10)));
    setenv("DISPLAY", display.c_str(), 1);
    ChildProcess wm({"/usr/bin/openbox", "--sm-disable"}, run.dir.File("openbox.out"));
    setenv("ZPSIM_ARGS", "--menu-after 1 --error-dialog-after 2", 1);
    run.Start("ExeType=1\nCheckRunning=1\nMinimizeZP=1\nIntercept=1\nInterceptInterval=2\n");

    ASSERT_TRUE(run.Await("window"));
    run.ExpectUnprivileged(run.ServerPid(0));
    EXPECT_TRUE(run.Await("iconified"));
    ASSERT_TRUE(run.Await("dialog-closed"));
    EXPECT_EQ(run.Events("menu-open").size(), 1u);
    EXPECT_EQ(run.Events("menu-closed").size(), 0u);
    EXPECT_TRUE(run.Await("key", 1, "I"));

    kill(run.ServerPid(0), SIGKILL);
    ASSERT_TRUE(run.Await("listen", 2)) << run.dir.Read("monitor.out");
    // Once, not twice: nothing of the dead server's stop reaches its successor's window.
    EXPECT_FALSE(WaitFor([&] { return run.Events("listen").size() > 2; }, std::chrono::seconds(3)));

    // The monitor's end leaves its server running.
    run.monitor->Stop(SIGTERM);
    const pid_t second = run.ServerPid(1);
    EXPECT_EQ(kill(second, 0), 0);
    kill(second, SIGTERM);
    unsetenv("ZPSIM_ARGS");
}

TEST(SupervisorConsole, RunsTheConsoleServerInTmuxAndNoticesItsEnd)
{
    if (!exists("/usr/bin/tmux"))
        GTEST_SKIP() << "needs tmux";
    unsetenv("DISPLAY");
    SupervisorRun run;
    // What tmux's parser would split or expand, a large environment and a secret in it.
    const std::string folder = run.dir.File("zp#S;#(touch pwned)");
    std::filesystem::create_directory_symlink(ZPSIM_BIN, folder);
    setenv("PROMPT_COMMAND", "history -a;", 1);
    setenv("ZPT_SECRET_TOKEN", std::string(20000, 's').c_str(), 1);
    run.Start("ExeType=3\nCheckRunning=0\nResetAtInterval=1\nResetIntervalSec=1\nHandleName=x;\n", folder);
    unsetenv("ZPT_SECRET_TOKEN");
    unsetenv("PROMPT_COMMAND");
    EXPECT_TRUE(run.Await("key", 1, "R"));  // the scheduled revival, typed as a character
    EXPECT_EQ(run.Events("listen").at(0)["server_name"], "x;");
    EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(run.ServerPid(0)) + "/cwd"), std::filesystem::canonical(folder));
    ChildProcess panes(run.Tmux({"list-panes", "-a", "-F", "#{pane_pid} #{pid}"}), run.dir.File("panes.out"));
    ASSERT_TRUE(panes.Wait(std::chrono::seconds(5)));
    const std::string pids = run.dir.Read("panes.out");
    EXPECT_EQ(std::stoi(pids), run.ServerPid(0));
    run.ExpectUnprivileged(run.ServerPid(0));
    // The tmux server's command line, world-readable for its whole life, holds no secret and
    // no configuration of anybody's.
    const std::string tmuxLine = ReadText("/proc/" + pids.substr(pids.find(' ') + 1, pids.find('\n') - pids.find(' ') - 1) + "/cmdline");
    EXPECT_EQ(tmuxLine.find("sss"), std::string::npos);
    EXPECT_NE(tmuxLine.find(std::string("-f\0/dev/null", 12)), std::string::npos);
    EXPECT_FALSE(exists(run.dir.File("pwned")) || exists("/nonexistent/pwned") || exists("/pwned"));

    // A new monitor takes up the server its predecessor left running, and starts no second one.
    run.monitor->Stop(SIGTERM);
    run.Start("ExeType=3\nCheckRunning=0\n", folder);
    EXPECT_TRUE(WaitFor([&] { return run.LogLines("Take control") == 1; }, std::chrono::seconds(5)));
    EXPECT_EQ(run.Events("listen").size(), 1u);

    // Its end is noticed; whether it is brought back is the supervisor's own decision, tested alone.
    kill(run.ServerPid(0), SIGKILL);
    EXPECT_TRUE(WaitFor([&] { return run.LogLines("Terminate server") == 1; }, std::chrono::seconds(5)));
    run.monitor->Stop(SIGTERM);
    ChildProcess(run.Tmux({"kill-server"}), run.dir.File("end.out")).Wait(std::chrono::seconds(5));
}

TEST(SupervisorConsole, StartsAWindowsProgramThroughWineFromPathUnlessPrivileged)
{
    SupervisorRun run;
    run.dir.Write("zemain.exe", std::string("MZ\x90\0", 4));
    std::filesystem::permissions(run.dir.Write("wine", "#!/bin/sh\necho $$ \"$@\" >wine.args\nexec sleep 60\n"),
                                 std::filesystem::perms::owner_all);
    const std::string path = getenv("PATH");
    setenv("PATH", (run.dir.path.string() + ":" + path).c_str(), 1);
    run.Start("ExeType=1\n", run.dir.path.string());
    setenv("PATH", path.c_str(), 1);
    if (geteuid() == 0) {  // root trusts only the system's folders
        EXPECT_TRUE(WaitFor([&] { return run.dir.Read("MoniErrLog.txt").find("wine, needed") != std::string::npos; },
                            std::chrono::seconds(10)));
        EXPECT_EQ(run.dir.Read("wine.args"), "");
        return;
    }
    ASSERT_TRUE(WaitFor([&] { return !run.dir.Read("wine.args").empty(); }, std::chrono::seconds(10)));
    const std::string args = run.dir.Read("wine.args");
    EXPECT_EQ(args.substr(args.find(' ')), " " + run.dir.File("zemain.exe") + " -server USERNAME -netport 0\n");
    run.monitor->Stop(SIGTERM);
    kill(std::stoi(args), SIGKILL);
}
