// SPDX-License-Identifier: MIT
// The monitor's client connection against the stand-in server on 127.0.0.1.
#include "e2e/zpsim_harness.h"

#include <QDate>

namespace {

constexpr const char* kLimits = "[ZpmoniDlg]\nGlimit=1\n[BanGravity]\nMax=9\nMin=-3\nInterval=1000\n";
const std::string kName = "Glim=+9-3";

bool LoggedOn(const ZpsimHarness& h, int times = 1)
{
    return CountRecord(h.ServerRecord(), [](const QJsonObject& o) {
               return IsEvent(o, "check") && o["what"].toString() == "handshake" &&
                      o["ok"].toBool() && o["client"].toString().toStdString() == kName;
           }) >= static_cast<size_t>(times);
}

TEST(HeadlessLoopbackTest, LogsOnUnderTheLimitNameAndPassesEveryCheck)
{
    ZpsimHarness h;
    h.StartServer();
    h.StartMonitor(kLimits);
    ASSERT_TRUE(WaitFor([&] { return LoggedOn(h); }, std::chrono::seconds(10)));
    ASSERT_TRUE(WaitFor(
        [&] {
            return CountRecord(h.ServerRecord(), [](const QJsonObject& o) {
                       return IsEvent(o, "check") && o["client"].toString().toStdString() == kName;
                   }) >= 5;
        },
        std::chrono::seconds(10)));
    for (const QJsonObject& o : ReadRecord(h.ServerRecord())) {
        if (IsPacket(o, "in", 1)) {
            EXPECT_EQ(o["user"].toString().toStdString(), kName);
            EXPECT_EQ(o["version"].toInt(), 20080220);
        }
        if (IsEvent(o, "check")) {
            EXPECT_TRUE(o["ok"].toBool()) << o["what"].toString().toStdString() << ": "
                                          << o["detail"].toString().toStdString();
        }
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
    ASSERT_TRUE(WaitFor([&] { return LoggedOn(h); }, std::chrono::seconds(10)));
    h.RunBots({{"--name", "hot", "--g", "9.5", "--format", "0,4", "--duration", "5"},
               {"--name", "calm", "--g", "5", "--format", "4,0", "--duration", "5"}});

    const int monitorConn = h.MonitorConnection(kName);
    int hotId = -1;
    int calmId = -1;
    double firstDamage = 0;
    std::vector<QJsonObject> record = ReadRecord(h.ServerRecord());
    for (const QJsonObject& o : record) {
        if (IsPacket(o, "out", 5) && o["conn"].toInt() == monitorConn) {
            (o["user"].toString() == "hot" ? hotId : calmId) = o["object_id"].toInt();
        }
        if (IsPacket(o, "in", 22) && o["conn"].toInt() == monitorConn) {
            EXPECT_EQ(o["target"].toInt(), hotId);
            EXPECT_TRUE(o["valid"].toBool());
            if (firstDamage == 0)
                firstDamage = o["t"].toDouble();
        }
    }
    ASSERT_NE(hotId, -1);
    ASSERT_NE(calmId, -1);
    ASSERT_GT(firstDamage, 0) << "no damage sent";
    // The monitor saw at least 31 states of the hot aircraft before it damaged it.
    size_t statesBefore = 0;
    for (const QJsonObject& o : record) {
        statesBefore += IsPacket(o, "out", 11) && o["conn"].toInt() == monitorConn &&
                        o["object_id"].toInt() == hotId && o["t"].toDouble() < firstDamage;
    }
    EXPECT_GE(statesBefore, 31u);
    EXPECT_LE(statesBefore, 34u);
    EXPECT_GT(CountRecord(h.dir.File("bots.jsonl"), [](const QJsonObject& o) {
                  return IsPacket(o, "in", 22) && o["who"].toString() == "bot:hot";
              }),
              0u);
    EXPECT_EQ(CountRecord(h.dir.File("bots.jsonl"), [](const QJsonObject& o) {
                  return IsPacket(o, "in", 22) && o["who"].toString() == "bot:calm";
              }),
              0u);
}

TEST(HeadlessLoopbackTest, ChatLogFollowsTheSetting)
{
    for (int chatLog : {1, 0}) {
        ZpsimHarness h;
        h.StartServer();
        h.StartMonitor(std::string(kLimits) + "[ProgramData]\nChatLog=" + std::to_string(chatLog) +
                       "\n");
        ASSERT_TRUE(WaitFor([&] { return LoggedOn(h); }, std::chrono::seconds(10)));
        h.RunBots({{"--name", "talker", "--chat", "hello there", "--duration", "1"}});
        const std::string file =
            "Log/chat" + QDate::currentDate().toString("yyyyMMdd").toStdString() + ".txt";
        if (chatLog) {
            EXPECT_TRUE(WaitFor([&] { return !h.dir.Read(file).empty(); }, std::chrono::seconds(5)));
            EXPECT_NE(h.dir.Read(file).find("] (talker)hello there\n"), std::string::npos);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            EXPECT_EQ(h.dir.Read(file), "");
        }
        // Shown in the terminal either way.
        EXPECT_NE(h.dir.Read("monitor.out").find("CHAT\t(talker)hello there"), std::string::npos);
    }
}

TEST(HeadlessLoopbackTest, ComesBackWithinSixSecondsOfAServerRestart)
{
    ZpsimHarness h;
    h.StartServer();
    const int port = h.port;
    h.StartMonitor(kLimits);
    ASSERT_TRUE(WaitFor([&] { return LoggedOn(h); }, std::chrono::seconds(10)));
    h.StopServer();
    h.StartServer({}, port);
    const auto restarted = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitFor([&] { return LoggedOn(h, 2); }, std::chrono::seconds(10)));
    EXPECT_LE(std::chrono::steady_clock::now() - restarted, std::chrono::milliseconds(6500));
    EXPECT_TRUE(h.monitor->Running());
}

TEST(HeadlessLoopbackTest, HostileServerNeitherCrashesNorStallsTheClient)
{
    struct Case {
        std::vector<std::string> server;
        const char* proof;  // what must be seen afterwards
    };
    const Case cases[] = {
        // An unservable length drops the connection; the retry timer comes back.
        {{"--hostile", "huge-length"}, "reconnect"},
        {{"--hostile", "big-echo"}, "reconnect"},
        // An echo that fits the stream but not the send buffer is skipped; later ones answered.
        {{"--hostile", "big-echo", "--big-echo-size", "8100"}, "after-big-echo"},
        {{"--hostile", "dribble", "--dribble-pause", "0.001"}, "handshake"},
    };
    for (const Case& c : cases) {
        ZpsimHarness h;
        h.StartServer(c.server);
        h.StartMonitor(kLimits);
        const std::string proof = c.proof;
        bool seen = WaitFor(
            [&] {
                if (proof == "reconnect")
                    return CountRecord(h.ServerRecord(), [](auto& o) { return IsPacket(o, "in", 1); }) >= 2;
                if (proof == "handshake")
                    return LoggedOn(h);
                return CountRecord(h.ServerRecord(), [](const QJsonObject& o) {
                           return IsPacket(o, "in", 43) &&
                                  QByteArray::fromHex(o["hex"].toString().toLatin1()) == "after-big-echo";
                       }) > 0;
            },
            std::chrono::seconds(15));
        EXPECT_TRUE(seen) << c.server[1] << " " << proof;
        EXPECT_TRUE(h.monitor->Running()) << c.server[1];
        EXPECT_EQ(CountRecord(h.ServerRecord(), [](const QJsonObject& o) {
                      return IsPacket(o, "in", 43) && o["len"].toInt() > 8000;
                  }),
                  0u)
            << "an oversized echo was sent";
        EXPECT_EQ(h.monitor->Stop(SIGTERM), 0) << c.server[1];
    }
}

}  // namespace
