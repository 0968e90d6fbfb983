// SPDX-License-Identifier: MIT
// The operator console in a real browser: the monitor runs without windows in the server's
// namespace, supervising the stand-in server, with its console on that namespace's loopback;
// the demo's bots fly from the players' namespace, one address each. Headless Chromium, driven
// by tests/browser/console_browser.py inside the server's namespace, logs in, bans a bot from its
// row, chats, restarts the server and photographs every page; zpmoni ctl reads the status and
// bans and unbans an address, each change seen in the namespace's nftables rules.
// Needs root, chromium and chromedriver, nftables, tmux and the user zpsim.
// The monitor runs as a process of its own here: none of its code is linked in.
namespace zpmoni {}

#include "support/netns.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <pwd.h>

#include <filesystem>
#include <sstream>

using namespace zpmoni;

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The namespace is the test's own: the port is free there.
constexpr const char* kConsole = "127.0.0.1:18790";

// The demo's settings with the supervisor, the console and the given extra lines.
std::string Settings(const std::string& demo, const std::string& zpsimBin)
{
    std::string ini;
    std::istringstream in(demo);
    for (std::string line; std::getline(in, line);) {
        ini += line + "\n";
        if (line == "[ProgramData]")
            ini += "FolderPath=" + zpsimBin + "\nExeType=3\nHandleName=CONSOLE\nStartUp=1\nCheckRunning=1\n";
        if (line == "[ZpmoniDlg]")
            ini += "ServerUser=zpsim\n";
    }
    return ini + "[Web]\nEnable=1\nListen=" + kConsole + "\n";
}

// What the test starts, ended however it ends: the bot loop (leader of its own process group)
// with its bots, the monitor, then the servers the monitor started (it leaves them running) by
// their recorded pids, and the tmux server of the test's socket.
struct Started {
    ~Started()
    {
        if (bots) {
            kill(-bots->Pid(), SIGTERM);
            bots->Stop(SIGTERM);
        }
        monitor.reset();
        std::istringstream lines(ReadText(record));
        for (std::string line; std::getline(lines, line);) {
            const size_t at = line.find("\"pid\": ");
            if (line.find("\"ev\": \"listen\"") != std::string::npos && at != std::string::npos)
                kill(std::stoi(line.substr(at + 7)), SIGTERM);
        }
        RunCommand({"/usr/sbin/runuser", "-u", "zpsim", "--", "/usr/bin/tmux", "-L", NetnsPrefix(), "kill-server"});
        for (const char* name : {"ZPSIM_RECORD", "ZPSIM_BIND", "ZPSIM_ARGS", "ZPMONI_TMUX_SOCKET"})
            unsetenv(name);
    }
    std::string record;
    std::unique_ptr<ChildProcess> monitor, bots;
};

TEST(ConsoleBrowserTest, AnOperatorBansChatsAndRestartsFromTheBrowserAndFromCtl)
{
    for (const char* program : {"/usr/bin/chromium", "/usr/bin/chromedriver", "/usr/bin/tmux"})
        if (access(program, X_OK) != 0)
            GTEST_SKIP() << program << " is not installed";
    const std::string nft = FindProgram("nft");
    if (nft.empty() || getpwnam("zpsim") == nullptr)
        GTEST_SKIP() << "needs nftables' nft and the user zpsim (scripts/install-deps)";
    TempFolder dir;
    ZPT_TESTBED(net);
    for (int k = 11; k <= 15; ++k)
        ASSERT_TRUE(net.bots.Ip({"addr", "add", "198.51.100." + std::to_string(k) + "/24", "dev", net.botsLink}));

    const std::string source = ZPMONI_SOURCE_DIR;
    fs::copy_file(source + "/res/demo/Packlist.txt", dir.File("Packlist.txt"));
    dir.Write("Zpmoni.ini", Settings(ReadText(source + "/res/demo/Zpmoni.ini"), source + "/tools/zpsim/bin"));
    // The server runs as zpsim and records into this folder.
    fs::permissions(dir.path, fs::perms::all);
    Started run;
    const std::string record = run.record = dir.Write("zpsim.jsonl", "");
    const passwd* zpsim = getpwnam("zpsim");
    ASSERT_EQ(chown(record.c_str(), zpsim->pw_uid, zpsim->pw_gid), 0);
    for (const auto& [name, value] : {std::pair<const char*, std::string>{"ZPSIM_RECORD", record}, {"ZPSIM_BIND", "0.0.0.0"},
                                      {"ZPSIM_ARGS", "--skip-air-states"}, {"ZPMONI_TMUX_SOCKET", NetnsPrefix()}})
        setenv(name, value.c_str(), 1);

    // Each operator's token, read from the last line --add-operator prints, into a file of its own.
    auto addOperator = [&](const std::string& name, const char* role) {
        const std::string out = dir.File(name + ".out");
        EXPECT_TRUE(RunCommand({ZPMONI_BINARY, "--add-operator", name, role, "--workdir", dir.path.string()}, out))
            << ReadText(out);
        std::string token = ReadText(out);
        token = token.substr(0, token.find_last_not_of('\n') + 1);
        token = token.substr(token.rfind('\n') + 1);
        EXPECT_TRUE(token.size() >= 20 && token.find(' ') == std::string::npos) << token;
        const std::string file = dir.Write(name + ".token", token + "\n");
        fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
        return file;
    };
    const std::string tokenFile = addOperator("tester", "admin"), viewerFile = addOperator("watcher", "viewer");

    const std::string url = std::string("http://") + kConsole + "/";
    auto ctl = [&](std::vector<std::string> args, const std::string& output) {
        args.insert(args.begin(), {ZPMONI_BINARY, "ctl", "--url", url, "--token-file", tokenFile});
        fs::remove(dir.File(output));
        return net.server.Run(args, dir.File(output));
    };
    run.monitor = std::make_unique<ChildProcess>(
        net.server.Inside({ZPMONI_BINARY, "--headless", "--workdir", dir.path.string()}), dir.File("monitor.out"));
    // zpmoni ctl: the status as JSON once the console answers, a ban that reaches the kernel's
    // rules and an unban that takes it away.
    ASSERT_TRUE(WaitFor([&] { return ctl({"--json", "status"}, "status.json"); }, 30s))
        << dir.Read("status.json") << dir.Read("monitor.out") << dir.Read("MoniErrLog.txt");
    run.bots = std::make_unique<ChildProcess>(
        net.bots.Inside({"setsid", source + "/res/demo/bots.sh", VethTestbed::kServerAddress, "11"}), dir.File("bots.out"));
    auto ruleset = [&] {
        fs::remove(dir.File("ruleset.txt"));
        EXPECT_TRUE(net.server.Run({nft, "list", "ruleset"}, dir.File("ruleset.txt")));
        return dir.Read("ruleset.txt");
    };

    EXPECT_NE(dir.Read("status.json").find("\"players\""), std::string::npos) << dir.Read("status.json");
    EXPECT_EQ(ruleset().find("198.51.100.99"), std::string::npos);
    EXPECT_TRUE(ctl({"ban", "198.51.100.99", "from", "ctl"}, "ban.out")) << dir.Read("ban.out");
    EXPECT_NE(ruleset().find("198.51.100.99"), std::string::npos) << dir.Read("ruleset.txt");
    EXPECT_NE(dir.Read("ipfilter.txt").find("198.51.100.99"), std::string::npos);
    EXPECT_TRUE(ctl({"unban", "198.51.100.99"}, "unban.out")) << dir.Read("unban.out");
    EXPECT_EQ(ruleset().find("198.51.100.99"), std::string::npos) << dir.Read("ruleset.txt");
    // The status line ctl reads is the one the monitor shows (headless, it prints it).
    std::string line;
    EXPECT_TRUE(WaitFor([&] {
        const std::string key = "\"statusLine\":\"", json = ctl({"--json", "status"}, "status.json") ? dir.Read("status.json") : "";
        const size_t at = json.find(key) + key.size();
        line = at < key.size() ? "" : json.substr(at, json.find('"', at) - at);
        return !line.empty() && dir.Read("monitor.out").find("STATUS\t" + line + "\n") != std::string::npos;
    }, 10s)) << line << "\n" << dir.Read("monitor.out");

    // The browser, in the same namespace, reaches the console on its loopback.
    const std::string screens = ZPMONI_SCREENS_DIR;
    fs::create_directories(screens);
    auto browse = [&](const std::string& token, std::vector<std::string> args) {
        args.insert(args.begin(), {"/usr/bin/python3", source + "/tests/browser/console_browser.py", "--url", url,
                                   "--token-file", token, "--screens", screens, "--min-players", "3",
                                   "--player-timeout", "90"});
        fs::remove(dir.File("browser.out"));
        ChildProcess browser(net.server.Inside(args), dir.File("browser.out"));
        const bool ended = browser.Wait(300s);
        EXPECT_TRUE(ended && ExitedWith(browser.ExitStatus(), 0))
            << dir.Read("browser.out") << "\n--- monitor:\n" << dir.Read("monitor.out").substr(0, 4000);
        std::printf("%s", dir.Read("browser.out").c_str());
    };
    // A viewer is offered nothing that acts; an admin bans, chats and restarts.
    browse(viewerFile, {"--viewer", "--prefix", "console-viewer"});
    browse(tokenFile, {"--record", record, "--admin-actions"});
    // The bot banned from its row stays in the rules and in the list, with the operator's name.
    const std::string banned = dir.Read("ipfilter.txt");
    EXPECT_EQ(banned.rfind("198.51.100.1", 0), 0u) << banned;  // a bot's address, .11 to .15
    EXPECT_NE(banned.find("by=web:tester"), std::string::npos) << banned;
    EXPECT_NE(ruleset().find(banned.substr(0, banned.find('\t'))), std::string::npos) << banned;
    for (const char* page : {"overview", "players", "events", "chat", "bans", "server"})
        for (const char* width : {"wide", "phone"})
            EXPECT_GT(fs::exists(screens + "/console-" + page + "-" + width + ".png")
                          ? fs::file_size(screens + "/console-" + page + "-" + width + ".png") : 0u, 2000u)
                << page << " " << width;

    EXPECT_TRUE(ExitedWith(run.monitor->Stop(), 0)) << dir.Read("monitor.out");
}

}  // namespace
