// SPDX-License-Identifier: MIT
// The console's view of the monitor, over the real application object and services (nothing
// started: no capture, no rules installed, no server).
#include "app/console_backend.h"
#include "app/monitor_app.h"
#include "app/monitor_controller.h"
#include "support/temp_folder.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <thread>

using namespace zpmoni;

namespace {

TEST(ConsoleBackendTest, ClassifiesDailyLogLines)
{
    const std::pair<const char*, EventKind> cases[] = {
        {"198.51.100.7\tpilot\tLOGIN", EventKind::Logon}, {"198.51.100.7\tpilot\tLOGOUT", EventKind::Logoff},
        {"198.51.100.7\tpilot\tJOIN\t1\tF-15\tNORTH\tJets", EventKind::Join},
        {"198.51.100.7\tLOGIN\tLOGOUT", EventKind::Logoff},  // a user named LOGIN
        {"Ban expired: 198.51.100.0/24 (spam)", EventKind::Ban}, {"Start server", EventKind::Server},
        {"Ground obj reconstruct", EventKind::Server}, {"Start server now", EventKind::Other},
        {"198.51.100.7\tpilot", EventKind::Other}, {"", EventKind::Other},
    };
    for (const auto& [line, kind] : cases)
        EXPECT_EQ(EventKindName(ClassifyEventLine(line)), EventKindName(kind)) << line;
}

TEST(ConsoleBackendTest, RatesAreAveragedOverTenSecondsAndBounded)
{
    // Each tick's time and bytes in per second (out is twice), and the samples kept.
    const struct { std::vector<std::pair<int64_t, double>> ticks; std::vector<RatesRing::Sample> samples; } cases[] = {
        {{{100, 10}, {101, 30}}, {}},
        {{{100, 10}, {101, 20}, {102, 30}, {103, 0}, {104, 0}, {105, 0}, {106, 0}, {107, 0}, {108, 0}, {109, 40}},
         {{109, 10, 20}}},
        // Missed ticks: the average is over the ticks there were.
        {{{100, 100}, {105, 300}, {112, 50}}, {{112, 150, 300}}},
        // A clock set back begins a new interval.
        {{{100, 100}, {50, 8}, {59, 2}}, {{59, 5, 10}}},
    };
    for (const auto& c : cases) {
        RatesRing ring;
        for (const auto& [t, in] : c.ticks)
            ring.Add(t, in, 2 * in);
        EXPECT_EQ(std::vector(ring.Samples().begin(), ring.Samples().end()), c.samples);
    }
    RatesRing ring;
    for (int64_t t = 0; t < 10 * 400; ++t)
        ring.Add(t, 1, 1);
    EXPECT_TRUE(ring.Samples().size() == RatesRing::kCapacity && ring.Samples().back().time == 10 * 400 - 1);
}

struct NoChat final : ChatView { void AppendChatLine(std::string_view) override {} };

struct Monitor {
    Monitor()
    {
        clock.seconds = kNow;
        folder.Write("Zpmoni.ini", "[Web]\nEnable=1\nHostNames= a.example , b.example,,\n");
        std::filesystem::create_directories(folder.Path() / "Log");
    }
    static constexpr int64_t kNow = 1796644800;  // 2026-12-07 12:00:00 UTC
    int argc = 1;
    char name[8] = "backend", *argv[2] = {name, nullptr};
    QCoreApplication qapp{argc, argv};
    TempFolder folder;
    ManualClock clock;
    MonitorApp app{folder.Path().string(), clock};
    NoChat chat;
    MonitorController controller{app, chat};
};

TEST(ConsoleBackendTest, KeepsTheLastDayOfEventsAndWhatComesFromAnyThread)
{
    Monitor m;
    m.folder.Write("Log/zplog20261206.txt", "11:59:59\t198.51.100.1\told\tLOGIN\n12:00:01\t198.51.100.2\tkept\tLOGIN\n"
                                            "not a line\n");
    m.folder.Write("Log/zplog20261207.txt", "08:00:00\tStart server\n09:00:00\t198.51.100.2\tkept\tLOGOUT\n"
                                            "10:00:00\tcut sh");
    MonitorConsoleBackend backend(m.app, m.controller);
    PlayerRecord r;
    r.addressText = "198.51.100.3", r.userName = "new";
    m.controller.Events().LogonEntry(Monitor::kNow, r);
    std::thread([&] { m.app.dailyLog.WriteLine("Ground obj reconstruct"); }).join();
    QCoreApplication::processEvents();

    const QJsonObject all = backend.Events(0);
    std::vector<std::string> seen;
    for (const QJsonValue e : all["events"].toArray())
        seen.push_back(std::to_string(e["seq"].toInt()) + " " + e["kind"].toString().toStdString() + " " +
                       std::to_string(e["time"].toInteger() - Monitor::kNow) + " " + e["text"].toString().toStdString());
    EXPECT_EQ(seen, (std::vector<std::string>{"1 logon -86399 12:00:01\t198.51.100.2\tkept\tLOGIN",
                                              "2 server -14400 08:00:00\tStart server",
                                              "3 logoff -10800 09:00:00\t198.51.100.2\tkept\tLOGOUT",
                                              "4 logon 0 12:00:00\t198.51.100.3\tnew\tLOGIN",
                                              "5 server 0 12:00:00\tGround obj reconstruct"}));
    EXPECT_TRUE(all["last"].toInt() == 5 && backend.Events(4)["events"].toArray().size() == 1);
    // What the supervisor and the schedule wrote to the daily log.
    EXPECT_EQ(QJsonDocument(backend.Server()["log"].toArray()).toJson(QJsonDocument::Compact),
              QString(R"([{"text":"Start server","time":%1},{"text":"Ground obj reconstruct","time":%2}])")
                  .arg(Monitor::kNow - 14400).arg(Monitor::kNow).toUtf8());
}

TEST(ConsoleBackendTest, AnswersFromTheServices)
{
    Monitor m;
    LoadSettings(m.app.profile, m.app.settings);
    EXPECT_EQ(WebOptionsOf(m.app.settings).hostNames, (std::vector<std::string>{"a.example", "b.example"}));
    MonitorConsoleBackend backend(m.app, m.controller);
    PlayerRecord& p = m.app.capture.Table().Slot(3);
    p.address = 0x0B6433C6, p.addressText = "198.51.100.11", p.port = 51234, p.userName = "pilot1";
    p.aircraftName = "F-15", p.flags = PlayerRecord::kOnline | PlayerRecord::kFlying, p.logonTime = Monitor::kNow;
    m.app.access.SetList({{"198.51.100.11", "255.255.255.255", "flooding | by=web:alice until=2026-12-08T00:00:00Z"},
                          {"198.51.100.0", "255.255.255.0", "spam"}});
    std::vector<QJsonObject> published;
    backend.publish = [&](const QJsonObject& o) { published.push_back(o); };
    backend.OnTick({});
    p.bytesIn = 3000, p.bytesOut = 500;
    ++m.clock.seconds;
    backend.OnTick({});

    const QJsonObject status = backend.Status(), player = backend.Players()[0].toObject();
    EXPECT_EQ(status["players"].toObject(), (QJsonObject{{"online", 1}, {"flying", 1}}));
    EXPECT_TRUE(status["server"]["supervised"] == false && status["server"]["lastRestartCause"].isNull());
    EXPECT_EQ(status["bans"]["entries"], 2);
    EXPECT_EQ((std::vector<QJsonValue>{player["user"], player["aircraft"], player["rateIn"], player["rateOut"]}),
              (std::vector<QJsonValue>{"pilot1", "F-15", 3000, 500}));
    // The /32 mask left out; the time of a temporary ban read from its comment; nothing installed.
    std::vector<std::string> bans;
    for (const QJsonValue b : backend.Bans()["bans"].toArray())
        bans.push_back(b["mask"].toString().toStdString() + "|" + b["block"].toString().toStdString() + "|" +
                       (b["until"].isNull() ? "-" : std::to_string(b["until"].toInteger() - Monitor::kNow)) + "|" +
                       (b["inForce"].toBool() ? "in" : "out"));
    EXPECT_EQ(bans, (std::vector<std::string>{"|198.51.100.11/32|43200|out", "255.255.255.0|198.51.100.0/24|-|out"}));
    // status and players each tick; the ban list once, as it did not change in between
    std::vector<QString> types;
    for (const QJsonObject& o : published)
        types.push_back(o["type"].toString());
    EXPECT_EQ(types, (std::vector<QString>{"status", "players", "bans", "status", "players"}));
    const MetricsSnapshot metrics = backend.Metrics();
    EXPECT_TRUE(metrics.playersOnline == 1 && metrics.bansInForce == 0 && metrics.restartsByCause.size() == 4);

    // Refusals in the services' own words.
    using K = ConsoleAction::Kind;
    const std::pair<K, std::string> refused[] = {
        {K::Say, "not connected to the server"}, {K::Start, "the server is not supervised now"},
        {K::Restart, "the server is not supervised now"}};
    for (const auto& [kind, words] : refused) {
        ConsoleAction a;
        a.kind = kind, a.text = "hello";
        const Status done = backend.Perform("web:alice", a);
        EXPECT_TRUE(!done && done.error() == words) << words;
    }
    EXPECT_EQ(m.app.server.Restarts().byCause, (std::array<uint64_t, 4>{}));
}

}  // namespace
