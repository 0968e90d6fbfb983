// SPDX-License-Identifier: MIT
// The program as a process: its client connection against the stand-in server on 127.0.0.1,
// its working-folder lock and its end on a signal.
#include "e2e/zpsim_harness.h"
namespace zpmoni {}  // the namespace helpers name it
#include "support/netns.h"

#include <QDate>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <regex>


namespace {

using namespace std::chrono_literals;

const QString kName = "Glim=+9-3";

// A monitor with the G limiter's connection, and a fresh server for it.
struct LimitRun : ZpsimHarness {
    explicit LimitRun(const std::vector<std::string>& server = {}, const std::string& ini = "")
    {
        StartServer(server);
        StartMonitor("[ZpmoniDlg]\nGlimit=1\n[BanGravity]\nMax=9\nMin=-3\nInterval=1000\n" + ini);
    }
    // What the server recorded of this kind: "in"/"out" packets of a type, or events.
    std::vector<QJsonObject> Seen(const char* dir, int type, const std::function<bool(const QJsonObject&)>& also)
    {
        return Record(ServerRecord(), [&](auto& o) { return (type ? IsPacket(o, dir, type) : IsEvent(o, dir)) && also(o); });
    }
    // Waits for this many of the monitor's handshakes, checked and found right by the server.
    bool LoggedOn(size_t times = 1)
    {
        auto right = [](auto& o) { return o["client"] == kName && o["what"] == "handshake" && o["ok"].toBool(); };
        return WaitFor([&] { return Seen("check", 0, right).size() >= times; }, 20s);
    }
};

TEST(HeadlessLoopbackTest, DamagesOnlyTheAircraftBeyondTheRangeAndComesBackAfterAServerRestart)
{
    LimitRun h;
    ASSERT_TRUE(h.LoggedOn());
    h.RunBots({{"--name", "hot", "--g", "9.5", "--format", "0,4", "--duration", "5"},
               {"--name", "calm", "--g", "5", "--format", "4,0", "--duration", "5"}});
    // The monitor logs on under its limit name and protocol version, and passes every check.
    for (const QJsonObject& o : h.Seen("in", 1, [](auto& o) { return o["user"].toString().startsWith("Glim"); }))
        EXPECT_EQ(o["user"].toString() + " " + QString::number(o["version"].toInt()), kName + " 20080220");
    for (const QJsonObject& o : h.Seen("check", 0, [](auto& o) { return !o["ok"].toBool(); }))
        ADD_FAILURE() << o["what"].toString().toStdString() << ": " << o["detail"].toString().toStdString();

    // What the server sent to and received from the monitor's connection.
    const int conn = h.Seen("in", 1, [](auto& o) { return o["user"].toString() == kName; }).back()["conn"].toInt();
    auto monitors = [&](const char* dir, int type) { return h.Seen(dir, type, [&](auto& o) { return o["conn"].toInt() == conn; }); };
    const std::vector<QJsonObject> hots = h.Seen("out", 5, [&](auto& o) { return o["conn"].toInt() == conn && o["user"] == "hot"; });
    ASSERT_FALSE(hots.empty()) << "the hot aircraft never announced";
    const int hot = hots.back()["object_id"].toInt();
    const std::vector<QJsonObject> damage = monitors("in", 22);
    ASSERT_FALSE(damage.empty()) << "no damage sent";
    for (const QJsonObject& o : damage)
        EXPECT_TRUE(o["target"].toInt() == hot && o["valid"].toBool());
    // The monitor saw 31 to 34 states of the hot aircraft before it damaged it.
    size_t before = 0;
    for (const QJsonObject& o : monitors("out", 11))
        before += o["object_id"].toInt() == hot && o["t"].toDouble() < damage[0]["t"].toDouble();
    EXPECT_GE(before, 31u);
    EXPECT_LE(before, 34u);

    // A server that went away and came back has the monitor again.
    h.server.reset();
    h.StartServer({}, h.port);
    EXPECT_TRUE(h.LoggedOn(2));
    EXPECT_TRUE(h.monitor->Running());
}

TEST(HeadlessLoopbackTest, ChatLogFollowsTheSetting)
{
    for (int chatLog : {1, 0}) {
        LimitRun h({}, "[ProgramData]\nChatLog=" + std::to_string(chatLog) + "\n");
        ASSERT_TRUE(h.LoggedOn());
        // With a control byte, which the terminal must not get as it is.
        h.RunBots({{"--name", "talker", "--chat", "hello\x1b[2Jthere", "--duration", "1"}});
        const std::string line = "CHAT\t(talker)hello\\x1b[2Jthere\n";
        ASSERT_TRUE(WaitFor([&] { return h.Read("monitor.out").find(line) != std::string::npos; }, 5s)) << h.Read("monitor.out");
        EXPECT_EQ(h.monitor->Stop(SIGTERM), 0);  // every line written by then
        const std::string file = "Log/chat" + QDate::currentDate().toString("yyyyMMdd").toStdString() + ".txt";
        EXPECT_EQ(h.Read(file).find("] (talker)hello") != std::string::npos, chatLog == 1);
    }
}

// What a hostile server's big echo requests do to the protocol, its own test shows.
TEST(HeadlessLoopbackTest, HostileServerNeitherCrashesNorStallsTheClient)
{
    // What must be seen afterwards: log-on packets, and a passed handshake.
    const std::tuple<std::vector<std::string>, size_t, bool> cases[] = {
        // An unservable length drops the connection; the retry timer comes back.
        {{"--hostile", "huge-length"}, 2, false},
        {{"--hostile", "dribble", "--dribble-pause", "0.001"}, 1, true},
    };
    for (const auto& [server, logOns, handshake] : cases) {
        SCOPED_TRACE(server[1]);
        LimitRun h(server);
        EXPECT_TRUE(WaitFor([&] { return h.Seen("in", 1, [](auto&) { return true; }).size() >= logOns; }, 15s));
        EXPECT_TRUE(!handshake || h.LoggedOn());
        EXPECT_EQ(h.monitor->Stop(SIGTERM), 0);
        // The drop is told once with its cause, however often the retry meets it again.
        EXPECT_EQ(CountOf(h.Read("MoniErrLog.txt"), "Dropped the connection to the server: a packet length of "),
                  handshake ? 0u : 1u);
    }
}

// The monitor runs the console server in tmux; the server hangs 20 s after it listens (process
// and port kept). Players hear of the coming periodic restart first; then the hang is found by
// the client connection and the server is restarted.
TEST(HeadlessLoopbackTest, WarnsOfARestartInChatAndRestartsAHungServer)
{
    if (!std::filesystem::exists("/usr/bin/tmux"))
        GTEST_SKIP() << "needs tmux";
    ZpsimHarness h;
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof a;
    ASSERT_TRUE(bind(s, reinterpret_cast<sockaddr*>(&a), size) == 0 && getsockname(s, reinterpret_cast<sockaddr*>(&a), &size) == 0);
    close(s), h.port = ntohs(a.sin_port);
    const std::string folder = h.dir.File("zp"), tmux = "zpt" + std::to_string(getpid()) + "hang";
    ASSERT_TRUE(ChildProcess({"/usr/bin/python3", ZPSIM, "make-folder", folder, "--bind", "127.0.0.1", "--probe-interval", "1",
                              "--hang-after", "20", "--record", h.ServerRecord()}, h.dir.File("mk.out")).Wait(10s));
    setenv("ZPMONI_TMUX_SOCKET", tmux.c_str(), 1);
    h.StartMonitor("[ZpmoniDlg]\nGlimit=1\nHangSeconds=4\nServerUser=root\n[ProgramData]\nStartUp=1\nExeType=3\nCheckRunning=1\nFolderPath=" + folder +
                   "\nRebootAtInterval=1\nRebootIntervalSec=75\nRestartWarnings=1\nRestartWarningText=Restart in %d min %s%n\n");
    auto seen = [&](const char* ev) { return CountRecord(h.ServerRecord(), [&](auto& o) { return IsEvent(o, ev); }); };
    EXPECT_TRUE(WaitFor([&] { return seen("listen") >= 2; }, 60s)) << h.Read("monitor.out");
    EXPECT_EQ(seen("hang"), 1u);
    const std::string errors = h.Read("MoniErrLog.txt");
    EXPECT_NE(errors.find("server hung for 4 s, restarting"), std::string::npos) << errors;
    // Sent once, as the text alone; the server relays it under the monitor's name, to the monitor too.
    EXPECT_EQ(CountRecord(h.ServerRecord(), [](auto& o) { return IsPacket(o, "in", 32) && o["text"] == "Restart in 1 min %s%n"; }), 1u);
    EXPECT_NE(h.Read("monitor.out").find(")Restart in 1 min %s%n\n"), std::string::npos) << h.Read("monitor.out");
    EXPECT_EQ(h.monitor->Stop(SIGTERM), 0);
    ChildProcess({"/usr/bin/tmux", "-L", tmux, "kill-server"}, h.dir.File("end.out")).Wait(5s);
}

// A signal ends either run by its ordinary shut-down, which writes the settings; while it runs,
// a second monitor on its folder says who has it and leaves.
TEST(HeadlessLoopbackTest, SignalsEndTheRunWithItsSettingsSaved)
{
    for (bool windowed : {false, true}) {
#ifndef ZPMONI_WINDOWS
        if (windowed)
            break;  // built without windows: there is no windowed run
#endif
        for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
            SCOPED_TRACE((windowed ? "windowed, signal " : "headless, signal ") + std::to_string(signal));
            TempFolder dir;
            const std::string out = dir.File("out"), workdir = dir.path.string();
            const std::vector<std::string> argv = {"/usr/bin/env", "QT_QPA_PLATFORM=offscreen", ZPMONI_BINARY,
                                                   "--workdir", workdir, "--headless"};
            ChildProcess run(windowed ? std::vector<std::string>(argv.begin(), argv.end() - 1) : argv, out);
            // Start-up makes the Log folder after the handler is in place.
            ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(dir.path / "Log"); }, 10s)) << ReadText(out);
            ChildProcess second(argv, dir.File("second"));
            EXPECT_TRUE(second.Wait(10s) && ExitedWith(second.ExitStatus(), 1));
            EXPECT_EQ(dir.Read("second"), "zpmoni: " + workdir + " is in use by another zpmoni (pid " +
                                              std::to_string(run.Pid()) + ")\n");
            EXPECT_TRUE(ExitedWith(run.Stop(signal), 0)) << ReadText(out);
            const std::string ini = dir.Read("Zpmoni.ini");
            EXPECT_NE(ini.find("[ZpmoniDlg]\nCloseInterval=800\n"), std::string::npos);
            EXPECT_NE(ini.find("[Zpconnect]\nZpVersion=20080220\n"), std::string::npos);
            EXPECT_EQ(ini.find("[Position]") != std::string::npos, windowed);
        }
    }
}

// A GET to the console at 127.0.0.1:port inside the namespace; the body, empty when it failed.
std::string ConsoleGet(const std::string& ns, int port, const std::string& path, const std::string& token)
{
    int fd = -1;
    {
        InNamespace inside(ns);
        if (inside.entered)
            fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    }
    sockaddr_in a{};
    a.sin_family = AF_INET, a.sin_port = htons(static_cast<uint16_t>(port)), a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string answer;
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                "\r\nAuthorization: Bearer " + token + "\r\nConnection: close\r\n\r\n";
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size()))
        for (char buffer[4096]; answer.size() < (1u << 20);) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            answer.append(buffer, static_cast<size_t>(n));
        }
    ::close(fd);
    const size_t body = answer.find("\r\n\r\n");
    return answer.starts_with("HTTP/1.1 200") && body != std::string::npos ? answer.substr(body + 4) : "";
}

// The console of a headless monitor in the server's namespace, asked with a viewer's token while
// two bots fly: its status and its metrics count them as the capture does.
TEST(HeadlessLoopbackTest, ConsoleAnswersWithThePlayersOnline)
{
    ZPT_TESTBED(bed);
    ZpsimHarness h(bed.server.Inside({}), bed.bots.Inside({}), VethTestbed::kServerAddress);
    ASSERT_TRUE(RunCommand({ZPMONI_BINARY, "--add-operator", "watcher", "viewer", "--workdir", h.dir.path.string()},
                           h.dir.File("operator.out")));
    std::smatch token;
    const std::string added = h.Read("operator.out");
    ASSERT_TRUE(std::regex_search(added, token, std::regex("zpt_[A-Za-z0-9_-]+"))) << added;
    h.StartServer({}, 7915);
    const int port = 18790;  // the namespace is the test's own: nothing else listens there
    h.StartMonitor("[ProgramData]\nInterfaceNumber=0\nResolveName=0\n[ZpmoniDlg]\nGlimit=0\n[Web]\nEnable=1\n"
                   "Listen=127.0.0.1:" + std::to_string(port) + "\n");
    std::vector<std::unique_ptr<ChildProcess>> bots;
    for (const char* name : {"alpha", "bravo"})
        bots.push_back(std::make_unique<ChildProcess>(
            bed.bots.Inside({"/usr/bin/python3", ZPSIM, "bot", "--host", h.host, "--port", "7915", "--name", name,
                             "--aircraft", "F-15C_EAGLE", "--duration", "10"}),
            h.dir.File(std::string(name) + ".out")));

    QJsonObject status;
    EXPECT_TRUE(WaitFor([&] {
        status = QJsonDocument::fromJson(QByteArray::fromStdString(ConsoleGet(bed.server.Name(), port, "/api/v1/status", token.str()))).object();
        return status["players"].toObject()["online"].toInt() == 2;
    }, 15s)) << h.Read("monitor.out");
    EXPECT_TRUE(status["statusLine"].toString().contains("ONLINE 2")) << status["statusLine"].toString().toStdString();
    const std::string metrics = ConsoleGet(bed.server.Name(), port, "/metrics", token.str());
    EXPECT_NE(metrics.find("\nzpmoni_players_online 2\n"), std::string::npos) << metrics;
    EXPECT_EQ(ConsoleGet(bed.server.Name(), port, "/api/v1/status", "zpt_wrong"), "");
    EXPECT_TRUE(ExitedWith(h.monitor->Stop(SIGTERM), 0));
}

}  // namespace
