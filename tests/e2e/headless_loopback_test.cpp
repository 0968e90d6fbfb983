// SPDX-License-Identifier: MIT
// The program as a process: its client connection against the stand-in server on 127.0.0.1,
// its working-folder lock and its end on a signal.
#include "e2e/zpsim_harness.h"

#include <QDate>

namespace {

using namespace std::chrono_literals;

constexpr const char* kLimits = "[ZpmoniDlg]\nGlimit=1\n[BanGravity]\nMax=9\nMin=-3\nInterval=1000\n";
const QString kName = "Glim=+9-3";

// The server's checks of the monitor's connection; those of passed handshakes only.
size_t Checks(const ZpsimHarness& h, bool handshakes = true)
{
    return Record(h.ServerRecord(), [&](const QJsonObject& o) {
               return IsEvent(o, "check") && o["client"].toString() == kName &&
                      (!handshakes || (o["what"].toString() == "handshake" && o["ok"].toBool()));
           }).size();
}

// A monitor with the G limiter's connection, logged on to a fresh server.
struct LimitRun : ZpsimHarness {
    explicit LimitRun(const std::vector<std::string>& server = {}, const std::string& ini = "")
    {
        StartServer(server);
        StartMonitor(kLimits + ini);
    }
    bool LoggedOn(size_t times = 1) { return WaitFor([&] { return Checks(*this) >= times; }, 20s); }
};

TEST(HeadlessLoopbackTest, LogsOnUnderTheLimitNameAndPassesEveryCheck)
{
    LimitRun h;
    ASSERT_TRUE(WaitFor([&] { return Checks(h) >= 1 && Checks(h, false) >= 5; }, 10s));
    for (const QJsonObject& o : Record(h.ServerRecord(), [](auto& o) { return IsPacket(o, "in", 1); }))
        EXPECT_EQ(o["user"].toString() + " " + QString::number(o["version"].toInt()), kName + " 20080220");
    for (const QJsonObject& o : Record(h.ServerRecord(), [](auto& o) { return IsEvent(o, "check") && !o["ok"].toBool(); }))
        ADD_FAILURE() << o["what"].toString().toStdString() << ": " << o["detail"].toString().toStdString();
    EXPECT_EQ(h.monitor->Stop(SIGTERM), 0);
    // The protocol version goes back to the settings at the end.
    EXPECT_NE(h.Read("Zpmoni.ini").find("ZpVersion=20080220"), std::string::npos);
}

TEST(HeadlessLoopbackTest, DamagesOnlyTheAircraftBeyondTheRangeAfterItsGrace)
{
    LimitRun h;
    ASSERT_TRUE(h.LoggedOn());
    h.RunBots({{"--name", "hot", "--g", "9.5", "--format", "0,4", "--duration", "5"},
               {"--name", "calm", "--g", "5", "--format", "4,0", "--duration", "5"}});
    // What the server sent to and received from the monitor's (latest) connection.
    const int conn = Record(h.ServerRecord(), [](auto& o) { return IsPacket(o, "in", 1) && o["user"].toString() == kName; }).back()["conn"].toInt();
    auto toMonitor = [&](const char* dir, int type) {
        return Record(h.ServerRecord(), [&](auto& o) { return IsPacket(o, dir, type) && o["conn"].toInt() == conn; });
    };
    int hot = -1, calm = -1;
    for (const QJsonObject& o : toMonitor("out", 5))
        (o["user"].toString() == "hot" ? hot : calm) = o["object_id"].toInt();
    ASSERT_NE(hot, -1);
    ASSERT_NE(calm, -1);
    const std::vector<QJsonObject> damage = toMonitor("in", 22);
    ASSERT_FALSE(damage.empty()) << "no damage sent";
    for (const QJsonObject& o : damage)
        EXPECT_TRUE(o["target"].toInt() == hot && o["valid"].toBool());
    // The monitor saw 31 to 34 states of the hot aircraft before it damaged it.
    size_t before = 0;
    for (const QJsonObject& o : toMonitor("out", 11))
        before += o["object_id"].toInt() == hot && o["t"].toDouble() < damage[0]["t"].toDouble();
    EXPECT_GE(before, 31u);
    EXPECT_LE(before, 34u);
    for (const char* who : {"bot:hot", "bot:calm"}) {
        EXPECT_EQ(Record(h.dir.File("bots.jsonl"), [&](auto& o) { return IsPacket(o, "in", 22) && o["who"].toString() == who; }).empty(),
                  std::string(who) == "bot:calm");
    }
}

TEST(HeadlessLoopbackTest, ChatLogFollowsTheSetting)
{
    for (int chatLog : {1, 0}) {
        LimitRun h({}, "[ProgramData]\nChatLog=" + std::to_string(chatLog) + "\n");
        ASSERT_TRUE(h.LoggedOn());
        // With a control byte, which the terminal must not get as it is.
        h.RunBots({{"--name", "talker", "--chat", "hello\x1b[2Jthere", "--duration", "1"}});
        ASSERT_TRUE(WaitFor([&] { return h.Read("monitor.out").find("CHAT\t(talker)") != std::string::npos; }, 5s));
        EXPECT_EQ(h.monitor->Stop(SIGTERM), 0);  // every line written by then
        EXPECT_NE(h.Read("monitor.out").find("CHAT\t(talker)hello\\x1b[2Jthere\n"), std::string::npos);
        const std::string file = "Log/chat" + QDate::currentDate().toString("yyyyMMdd").toStdString() + ".txt";
        EXPECT_EQ(h.Read(file).find("] (talker)hello") != std::string::npos, chatLog == 1);
    }
}

TEST(HeadlessLoopbackTest, ComesBackAfterAServerRestart)
{
    LimitRun h;
    ASSERT_TRUE(h.LoggedOn());
    h.server.reset();
    h.StartServer({}, h.port);
    EXPECT_TRUE(h.LoggedOn(2));
    EXPECT_TRUE(h.monitor->Running());
}

TEST(HeadlessLoopbackTest, HostileServerNeitherCrashesNorStallsTheClient)
{
    // What must be seen afterwards: log-on packets, a passed handshake, the echo after a big one.
    const std::tuple<std::vector<std::string>, size_t, bool, const char*> cases[] = {
        // An unservable length drops the connection; the retry timer comes back.
        {{"--hostile", "huge-length"}, 2, false, nullptr},
        {{"--hostile", "big-echo"}, 2, false, nullptr},
        // An echo that fits the stream but not the send buffer is skipped; later ones answered.
        {{"--hostile", "big-echo", "--big-echo-size", "8100"}, 1, false, "after-big-echo"},
        {{"--hostile", "dribble", "--dribble-pause", "0.001"}, 1, true, nullptr},
    };
    for (const auto& [server, logOns, handshake, echo] : cases) {
        SCOPED_TRACE(server[1]);
        LimitRun h(server);
        auto echoes = [&](const std::function<bool(const QJsonObject&)>& is) {
            return Record(h.ServerRecord(), [&](auto& o) { return IsPacket(o, "in", 43) && is(o); }).size();
        };
        EXPECT_TRUE(WaitFor([&] {
            return Record(h.ServerRecord(), [](auto& o) { return IsPacket(o, "in", 1); }).size() >= logOns &&
                   (!handshake || Checks(h) > 0) &&
                   (!echo || echoes([&](auto& o) { return QByteArray::fromHex(o["hex"].toString().toLatin1()) == echo; }));
        }, 15s));
        EXPECT_EQ(echoes([](auto& o) { return o["len"].toInt() > 8000; }), 0u) << "an oversized echo was sent";
        EXPECT_EQ(h.monitor->Stop(SIGTERM), 0);
    }
}

// One monitor per working folder; the second says who has it and leaves.
TEST(HeadlessLoopbackTest, SecondMonitorOnTheFolderIsRefused)
{
    ZpsimHarness h;
    h.StartMonitor("");
    ASSERT_TRUE(WaitFor([&] { return h.Read("monitor.out").find("STATUS") != std::string::npos; }, 10s));
    ChildProcess second({ZPMONI_BINARY, "--headless", "--workdir", h.dir.path.string()}, h.dir.File("second.out"));
    ASSERT_TRUE(second.Wait(10s));
    EXPECT_TRUE(WIFEXITED(second.ExitStatus()) && WEXITSTATUS(second.ExitStatus()) == 1);
    EXPECT_EQ(h.Read("second.out"), "zpmoni: " + h.dir.path.string() + " is in use by another zpmoni (pid " +
                                        std::to_string(h.monitor->Pid()) + ")\n");
    EXPECT_TRUE(h.monitor->Running());
}

// A signal ends either run by its ordinary shut-down, which writes the settings.
TEST(HeadlessLoopbackTest, SignalsEndTheRunWithItsSettingsSaved)
{
    for (bool windowed : {false, true}) {
#ifndef ZPMONI_WINDOWS
        if (windowed)
            GTEST_SKIP() << "built without windows";
#endif
        for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
            SCOPED_TRACE((windowed ? "windowed, signal " : "headless, signal ") + std::to_string(signal));
            TempFolder dir;
            std::vector<std::string> argv = {"/usr/bin/env", "QT_QPA_PLATFORM=offscreen", ZPMONI_BINARY, "--workdir",
                                             dir.path.string()};
            if (!windowed)
                argv.push_back("--headless");
            ChildProcess run(argv, dir.File("out"));
            // Start-up makes the Log folder after the handler is in place.
            ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(dir.path / "Log"); }, 10s)) << dir.Read("out");
            const int status = run.Stop(signal);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << dir.Read("out");
            EXPECT_NE(dir.Read("Zpmoni.ini").find("[ZpmoniDlg]\nCloseInterval=800\n"), std::string::npos);
            EXPECT_EQ(dir.Read("Zpmoni.ini").find("[Position]") != std::string::npos, windowed);
        }
    }
}

}  // namespace
