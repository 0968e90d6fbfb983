// SPDX-License-Identifier: MIT
// The program as a process: its client connection against the stand-in server on 127.0.0.1,
// its working-folder lock and its end on a signal.
#include "e2e/zpsim_harness.h"

#include <QDate>

namespace {

using namespace std::chrono_literals;

constexpr const char* kLimits = "[ZpmoniDlg]\nGlimit=1\n[BanGravity]\nMax=9\nMin=-3\nInterval=1000\n";
const QString kName = "Glim=+9-3";

size_t Checks(const ZpsimHarness& h, bool passedHandshake)
{
    return CountRecord(h.ServerRecord(), [&](const QJsonObject& o) {
        return IsEvent(o, "check") && o["client"].toString() == kName &&
               (!passedHandshake || (o["what"].toString() == "handshake" && o["ok"].toBool()));
    });
}

bool LoggedOn(const ZpsimHarness& h, size_t times = 1)
{
    return Checks(h, true) >= times;
}

TEST(HeadlessLoopbackTest, LogsOnUnderTheLimitNameAndPassesEveryCheck)
{
    ZpsimHarness h;
    h.StartServer();
    h.StartMonitor(kLimits);
    ASSERT_TRUE(WaitFor([&] { return LoggedOn(h) && Checks(h, false) >= 5; }, 10s));
    for (const QJsonObject& o : ReadRecord(h.ServerRecord())) {
        const QString seen = IsPacket(o, "in", 1) ? o["user"].toString() + " " + QString::number(o["version"].toInt())
                             : IsEvent(o, "check") && !o["ok"].toBool() ? o["what"].toString() + ": " + o["detail"].toString()
                                                                        : kName + " 20080220";
        EXPECT_EQ(seen.toStdString(), kName.toStdString() + " 20080220") << "a log-on or a failed check";
    }
    EXPECT_EQ(h.monitor->Stop(SIGTERM), 0);
    // The protocol version goes back to the settings at the end.
    EXPECT_NE(h.dir.Read("Zpmoni.ini").find("ZpVersion=20080220"), std::string::npos);
}

TEST(HeadlessLoopbackTest, DamagesOnlyTheAircraftBeyondTheRangeAfterItsGrace)
{
    ZpsimHarness h;
    h.StartServer();
    h.StartMonitor(kLimits);
    ASSERT_TRUE(WaitFor([&] { return LoggedOn(h); }, 10s));
    h.RunBots({{"--name", "hot", "--g", "9.5", "--format", "0,4", "--duration", "5"},
               {"--name", "calm", "--g", "5", "--format", "4,0", "--duration", "5"}});

    // The monitor's connection: the latest log-on under its name.
    int monitorConn = -1, hotId = -1, calmId = -1;
    double firstDamage = 0;
    const std::vector<QJsonObject> record = ReadRecord(h.ServerRecord());
    for (const QJsonObject& o : record) {
        if (IsPacket(o, "in", 1) && o["user"].toString() == kName)
            monitorConn = o["conn"].toInt();
        if (IsPacket(o, "out", 5) && o["conn"].toInt() == monitorConn)
            (o["user"].toString() == "hot" ? hotId : calmId) = o["object_id"].toInt();
        if (IsPacket(o, "in", 22) && o["conn"].toInt() == monitorConn) {
            EXPECT_EQ(o["target"].toInt(), hotId);
            EXPECT_TRUE(o["valid"].toBool());
            firstDamage = firstDamage == 0 ? o["t"].toDouble() : firstDamage;
        }
    }
    ASSERT_NE(hotId, -1);
    ASSERT_NE(calmId, -1);
    ASSERT_GT(firstDamage, 0) << "no damage sent";
    // The monitor saw 31 to 34 states of the hot aircraft before it damaged it.
    size_t statesBefore = 0;
    for (const QJsonObject& o : record) {
        statesBefore += IsPacket(o, "out", 11) && o["conn"].toInt() == monitorConn &&
                        o["object_id"].toInt() == hotId && o["t"].toDouble() < firstDamage;
    }
    EXPECT_GE(statesBefore, 31u);
    EXPECT_LE(statesBefore, 34u);
    for (const char* who : {"bot:hot", "bot:calm"}) {
        EXPECT_EQ(CountRecord(h.dir.File("bots.jsonl"),
                              [&](const QJsonObject& o) { return IsPacket(o, "in", 22) && o["who"].toString() == who; }) > 0,
                  std::string(who) == "bot:hot");
    }
}

TEST(HeadlessLoopbackTest, ChatLogFollowsTheSetting)
{
    for (int chatLog : {1, 0}) {
        ZpsimHarness h;
        h.StartServer();
        h.StartMonitor(std::string(kLimits) + "[ProgramData]\nChatLog=" + std::to_string(chatLog) + "\n");
        ASSERT_TRUE(WaitFor([&] { return LoggedOn(h); }, 10s));
        // A control byte in the chat: escaped on the terminal.
        h.RunBots({{"--name", "talker", "--chat", "hello\x1b[2Jthere", "--duration", "1"}});
        ASSERT_TRUE(WaitFor([&] { return h.dir.Read("monitor.out").find("CHAT\t(talker)") != std::string::npos; }, 5s));
        EXPECT_EQ(h.monitor->Stop(SIGTERM), 0);  // every line written by then
        EXPECT_NE(h.dir.Read("monitor.out").find("CHAT\t(talker)hello\\x1b[2Jthere\n"), std::string::npos);
        const std::string file = "Log/chat" + QDate::currentDate().toString("yyyyMMdd").toStdString() + ".txt";
        EXPECT_EQ(h.dir.Read(file).find("] (talker)hello") != std::string::npos, chatLog == 1);
    }
}

TEST(HeadlessLoopbackTest, ComesBackAfterAServerRestart)
{
    ZpsimHarness h;
    h.StartServer();
    h.StartMonitor(kLimits);
    ASSERT_TRUE(WaitFor([&] { return LoggedOn(h); }, 10s));
    h.server.reset();
    h.StartServer({}, h.port);
    EXPECT_TRUE(WaitFor([&] { return LoggedOn(h, 2); }, 20s));
    EXPECT_TRUE(h.monitor->Running());
}

TEST(HeadlessLoopbackTest, HostileServerNeitherCrashesNorStallsTheClient)
{
    // What must be seen afterwards: a new log-on, the handshake, or the echo after a big one.
    const std::pair<std::vector<std::string>, std::function<bool(const ZpsimHarness&)>> cases[] = {
        // An unservable length drops the connection; the retry timer comes back.
        {{"--hostile", "huge-length"}, [](auto& h) { return CountRecord(h.ServerRecord(), [](auto& o) { return IsPacket(o, "in", 1); }) >= 2; }},
        {{"--hostile", "big-echo"}, [](auto& h) { return CountRecord(h.ServerRecord(), [](auto& o) { return IsPacket(o, "in", 1); }) >= 2; }},
        // An echo that fits the stream but not the send buffer is skipped; later ones answered.
        {{"--hostile", "big-echo", "--big-echo-size", "8100"},
         [](auto& h) {
             return CountRecord(h.ServerRecord(), [](const QJsonObject& o) {
                        return IsPacket(o, "in", 43) && QByteArray::fromHex(o["hex"].toString().toLatin1()) == "after-big-echo";
                    }) > 0;
         }},
        {{"--hostile", "dribble", "--dribble-pause", "0.001"}, [](auto& h) { return LoggedOn(h); }},
    };
    for (const auto& [server, proof] : cases) {
        SCOPED_TRACE(server[1]);
        ZpsimHarness h;
        h.StartServer(server);
        h.StartMonitor(kLimits);
        EXPECT_TRUE(WaitFor([&] { return proof(h); }, 15s));
        EXPECT_EQ(CountRecord(h.ServerRecord(), [](const QJsonObject& o) { return IsPacket(o, "in", 43) && o["len"].toInt() > 8000; }),
                  0u)
            << "an oversized echo was sent";
        EXPECT_EQ(h.monitor->Stop(SIGTERM), 0);
    }
}

// One monitor per working folder; the second says who has it and leaves.
TEST(HeadlessLoopbackTest, SecondMonitorOnTheFolderIsRefused)
{
    ZpsimHarness h;
    h.StartMonitor("");
    ASSERT_TRUE(WaitFor([&] { return h.dir.Read("monitor.out").find("STATUS") != std::string::npos; }, 10s));
    ChildProcess second({ZPMONI_BINARY, "--headless", "--workdir", h.dir.path.string()}, h.dir.File("second.out"));
    ASSERT_TRUE(second.Wait(10s));
    EXPECT_TRUE(WIFEXITED(second.ExitStatus()) && WEXITSTATUS(second.ExitStatus()) == 1);
    EXPECT_EQ(h.dir.Read("second.out"), "zpmoni: " + h.dir.path.string() + " is in use by another zpmoni (pid " +
                                            std::to_string(h.monitor->Pid()) + ")\n");
    EXPECT_TRUE(h.monitor->Running());
}

// A signal ends either run by its ordinary shut-down, which writes the settings.
TEST(HeadlessLoopbackTest, SignalsEndTheRunWithItsSettingsSaved)
{
    for (bool windowed : {false, true}) {
        for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
            SCOPED_TRACE((windowed ? "windowed, signal " : "headless, signal ") + std::to_string(signal));
#ifndef ZPMONI_WINDOWS
            if (windowed)
                GTEST_SKIP() << "built without windows";
#endif
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
