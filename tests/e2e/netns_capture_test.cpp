// SPDX-License-Identifier: MIT
// The monitor's capture on a real link: the stand-in server and the monitor in one network
// namespace, the players in another, a veth pair between them. Needs root.
#include "capture/packetcap.h"
#include "e2e/zpsim_harness.h"
#include "support/netns.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <regex>

namespace {

using namespace std::chrono_literals;

constexpr int kPort = 7915;
const std::string kBots = VethTestbed::kBotsAddress;

// Checksums on, captured chat shown, no reverse lookups (the namespaces have no resolver).
std::string Ini(int interfaceNumber = 0)
{
    return "[ProgramData]\nInterfaceNumber=" + std::to_string(interfaceNumber) +
           "\nChecksum=1\nPackFile=Packlist.txt\nResolveName=0\n[ZpmoniDlg]\nGlimit=0\n";
}

struct Status {
    int flying = -1, online = -1;
    double up = -1, down = -1;
};

// The monitor with the stand-in server in the server's namespace, the players in the other.
struct NetnsRun : ZpsimHarness {
    explicit NetnsRun(const VethTestbed& bed)
        : ZpsimHarness(bed.server.Inside({}), bed.bots.Inside({}), VethTestbed::kServerAddress), bed(bed)
    {
        dir.Write("Packlist.txt", "Pack=Jets\nF-15C_EAGLE\nPack=Props\nP-51D\n");
    }

    // The status lines printed from byte `from` of the output on.
    std::vector<Status> StatusLines(size_t from = 0) const
    {
        std::vector<Status> result;
        for (const std::string& line : Output(from)) {
            Status s;
            if (std::sscanf(line.c_str(), "STATUS\tFLYING %d ONLINE %d   UP %lfkB/s DOWN %lfkB/s", &s.flying,
                            &s.online, &s.up, &s.down) == 4)
                result.push_back(s);
        }
        return result;
    }
    size_t OutputSize() const { return dir.Read("monitor.out").size(); }
    // The first status line comes a second after the capture started.
    bool WaitForCapture() { return WaitFor([&] { return !StatusLines().empty(); }, 10s); }

    // The daily log's lines, oldest file first, without their time stamps, fields joined by "|".
    std::vector<std::string> Daily() const
    {
        std::vector<std::string> files, lines;
        std::error_code error;
        for (const auto& e : std::filesystem::directory_iterator(dir.path / "Log", error))
            files.push_back(e.path().filename().string());
        std::sort(files.begin(), files.end());
        static const std::regex stamped("^[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\t(.*)$");
        for (const std::string& f : files) {
            for (const std::string& line : Lines(f.starts_with("zplog") ? dir.Read("Log/" + f) : "")) {
                std::smatch m;
                EXPECT_TRUE(std::regex_match(line, m, stamped)) << line;
                lines.push_back(std::regex_replace(m[1].str(), std::regex("\t"), "|"));
            }
        }
        return lines;
    }
    // Daily-log lines of the players' address with this word, of this user (any when empty).
    size_t CountDaily(const std::string& word, const std::string& user = "") const
    {
        const std::regex line(kBots + "\\|" + (user.empty() ? "[^|]*" : user) + "\\|" + word + "(\\|.*)?");
        const std::vector<std::string> all = Daily();
        return std::count_if(all.begin(), all.end(), [&](const std::string& l) { return std::regex_match(l, line); });
    }

    // Raw segments with a PKT_LOGON from the players' side, outside any connection.
    bool SendRawLogons(const std::string& name, int count, bool badChecksum, int sourcePort)
    {
        std::vector<std::string> argv = {"/usr/bin/python3", ZPMONI_RAW_SEGMENTS, "--src", kBots, "--dst",
                                         host, "--dport", std::to_string(kPort), "--sport",
                                         std::to_string(sourcePort), "--name", name, "--count",
                                         std::to_string(count)};
        if (badChecksum)
            argv.emplace_back("--bad-checksum");
        return bed.bots.Run(argv, dir.File("raw.out"));
    }

    const VethTestbed& bed;
};

bool ExitedWith(int status, int code)
{
    return WIFEXITED(status) && WEXITSTATUS(status) == code;
}

#define ZPT_TESTBED(bed)                                                                           \
    ZPT_SKIP_UNLESS_NETNS_POSSIBLE();                                                              \
    VethTestbed bed;                                                                               \
    ZPT_SKIP_UNLESS_OK(bed)

// With checksum offload on, the veth hands over frames whose TCP checksum is still to be
// filled in: the monitor must decode them all the same.
TEST(NetnsCaptureTest, FollowsPlayersOverAnOffloadingLink)
{
    ZPT_TESTBED(bed);
    NetnsRun run(bed);
    // The players' side leaves checksums to the "hardware": a veth's default, made sure of.
    if (const std::string ethtool = FindProgram("ethtool"); !ethtool.empty()) {
        ASSERT_TRUE(bed.bots.Run({ethtool, "-K", bed.botsLink, "tx", "on"}));
        ASSERT_TRUE(bed.bots.Run({ethtool, "-k", bed.botsLink}, run.dir.File("ethtool.out")));
        ASSERT_NE(run.dir.Read("ethtool.out").find("tx-checksumming: on"), std::string::npos);
    }
    run.StartServer({}, kPort);
    run.StartMonitor(Ini());
    ASSERT_TRUE(run.WaitForCapture()) << run.dir.Read("monitor.out");

    run.RunBots({{"--name", "alpha", "--iff", "1", "--aircraft", "F-15C_EAGLE", "--start", "NORTH_RUNWAY",
                  "--chat", "alpha here", "--duration", "4"},
                 {"--name", "bravo", "--iff", "0", "--aircraft", "MIG-29", "--start", "SOUTH_APRON", "--chat",
                  "bravo here", "--duration", "4", "--leave", "rst"},
                 {"--name", "charlie", "--iff", "2", "--aircraft", "P-51D", "--start", "CARRIER", "--chat",
                  "charlie here", "--duration", "4"}});
    ASSERT_TRUE(WaitFor([&] { return run.CountDaily("LOGOUT") >= 3; }, 5s)) << run.dir.Read("monitor.out");
    ASSERT_TRUE(WaitFor([&] { return run.StatusLines().back().online == 0; }, 5s));

    // Every event once, with the players' address and the fields of their joins, in order.
    const std::vector<std::vector<std::string>> expected = {
        {"alpha|LOGIN", "alpha|JOIN|2|F-15C_EAGLE|NORTH_RUNWAY|Jets", "alpha|LOGOUT"},
        {"bravo|LOGIN", "bravo|JOIN|1|MIG-29|SOUTH_APRON|", "bravo|LOGOUT"},
        {"charlie|LOGIN", "charlie|JOIN|3|P-51D|CARRIER|Props", "charlie|LOGOUT"},
    };
    const std::vector<std::string> daily = run.Daily();
    EXPECT_EQ(daily.size(), 9u);
    for (const auto& events : expected) {
        std::vector<std::string> own;
        std::copy_if(daily.begin(), daily.end(), std::back_inserter(own), [&](const std::string& l) {
            return l.starts_with(kBots + "|" + events[0].substr(0, events[0].find('|') + 1));
        });
        for (std::string& l : own)
            l.erase(0, kBots.size() + 1);
        EXPECT_EQ(own, events);
    }
    const std::vector<Status> status = run.StatusLines();
    EXPECT_TRUE(std::any_of(status.begin(), status.end(), [](const Status& s) { return s.flying == 3 && s.online == 3; }))
        << "no status line counted the three players flying";

    // Each chat line captured once, however many clients the server relayed it to.
    const std::vector<std::string> out = run.Output();
    for (const char* chat : {"CHAT\talpha here", "CHAT\tbravo here", "CHAT\tcharlie here"})
        EXPECT_EQ(std::count(out.begin(), out.end(), chat), 1) << chat;
    EXPECT_TRUE(ExitedWith(run.monitor->Stop(SIGTERM), 0));
    EXPECT_EQ(run.dir.Read("MoniErrLog.txt"), "");
}

// Without offload the checksums on the wire are final and are tested: a segment with a wrong
// one counts towards the traffic and does nothing else, while good ones are decoded.
TEST(NetnsCaptureTest, CountsButIgnoresSegmentsWithWrongChecksums)
{
    const std::string ethtool = FindProgram("ethtool");
    if (ethtool.empty())
        GTEST_SKIP() << "needs ethtool to switch checksum offload off";
    ZPT_TESTBED(bed);
    NetnsRun run(bed);
    ASSERT_TRUE(bed.bots.Run({ethtool, "-K", bed.botsLink, "tx", "off"}));
    run.StartServer({}, kPort);
    run.StartMonitor(Ini());
    ASSERT_TRUE(run.WaitForCapture()) << run.dir.Read("monitor.out");
    ASSERT_TRUE(WaitFor([&] { return run.StatusLines().back().down == 0.0; }, 5s));

    const size_t before = run.OutputSize();
    ASSERT_TRUE(run.SendRawLogons("badraw", 200, true, 40000)) << run.dir.Read("raw.out");
    ASSERT_TRUE(WaitFor(
        [&] {
            const std::vector<Status> s = run.StatusLines(before);
            return std::any_of(s.begin(), s.end(), [](const Status& x) { return x.down > 0; });
        },
        3s))
        << "the rejected segments were not counted";
    // The same segment with its right checksum, sent after them, is decoded: once it is, the
    // bad ones have been through the decoder too.
    ASSERT_TRUE(run.SendRawLogons("goodraw", 1, false, 40001)) << run.dir.Read("raw.out");
    EXPECT_TRUE(WaitFor([&] { return run.CountDaily("LOGIN", "goodraw") == 1; }, 3s));
    EXPECT_EQ(run.CountDaily("LOGIN", "badraw"), 0u) << "a segment with a wrong checksum made a record";

    // A whole session whose checksums the monitor tests in software.
    auto bot = run.Bot({"--name", "checked", "--iff", "4", "--aircraft", "P-51D", "--duration", "1"});
    ASSERT_TRUE(bot->Wait(20s));
    EXPECT_TRUE(WaitFor([&] { return run.CountDaily("LOGOUT", "checked") == 1; }, 5s));
    EXPECT_EQ(run.CountDaily("LOGIN", "checked"), 1u);
    EXPECT_EQ(run.CountDaily("JOIN", "checked"), 1u);
    EXPECT_TRUE(ExitedWith(run.monitor->Stop(SIGTERM), 0));
}

// 24 slots: the 25th player is not tracked, but what it sends still counts.
TEST(NetnsCaptureTest, TracksTwentyFourPlayersAndCountsTheTwentyFifth)
{
    ZPT_TESTBED(bed);
    NetnsRun run(bed);
    run.StartServer({}, kPort);
    run.StartMonitor(Ini());
    ASSERT_TRUE(run.WaitForCapture()) << run.dir.Read("monitor.out");

    // Watchers that send nothing after their log-on, so that the counters stand still.
    auto crowd = run.Bot({"--count", "24", "--name", "pilot", "--stagger", "0.05", "--no-join", "--keepalive",
                          "0", "--duration", "12"},
                         "bots");
    ASSERT_TRUE(WaitFor([&] { return run.CountDaily("LOGIN") == 24; }, 10s)) << run.dir.Read("monitor.out");
    ASSERT_TRUE(WaitFor(
        [&] {
            const Status s = run.StatusLines().back();
            return s.online == 24 && s.down == 0.0;
        },
        5s));

    const size_t before = run.OutputSize();
    auto late = run.Bot({"--name", "latecomer", "--no-join", "--keepalive", "0.05", "--duration", "2.5"});
    ASSERT_TRUE(late->Wait(20s));
    EXPECT_TRUE(ExitedWith(late->ExitStatus(), 0)) << run.dir.Read("bots.out");
    // The server did take the 25th player in.
    EXPECT_EQ(CountRecord(run.ServerRecord(),
                          [](const QJsonObject& o) { return IsPacket(o, "in", 1) && o["user"].toString() == "latecomer"; }),
              1u);
    const std::vector<Status> during = run.StatusLines(before);
    ASSERT_FALSE(during.empty());
    for (const Status& s : during)
        EXPECT_EQ(s.online, 24);
    EXPECT_TRUE(std::any_of(during.begin(), during.end(), [](const Status& s) { return s.down > 0; }))
        << "the 25th player's traffic was not counted";

    ASSERT_TRUE(crowd->Wait(30s));
    EXPECT_TRUE(WaitFor([&] { return run.CountDaily("LOGOUT") == 24; }, 5s));
    for (int i = 1; i <= 24; ++i) {
        const std::string name = "pilot" + std::to_string(i);
        EXPECT_EQ(std::to_string(run.CountDaily("LOGIN", name)) + std::to_string(run.CountDaily("LOGOUT", name)), "11")
            << name;
    }
    EXPECT_EQ(run.CountDaily("LOGIN") + run.CountDaily("LOGOUT"), 48u) << "a record for the 25th player";
    EXPECT_TRUE(ExitedWith(run.monitor->Stop(SIGTERM), 0));
}

// A capture that cannot start says why in the error log, once, and the monitor runs on.
TEST(NetnsCaptureTest, StartFailuresGoToTheErrorLog)
{
    ZPT_TESTBED(bed);
    NetNamespace loopbackOnly("l");
    ZPT_SKIP_UNLESS_OK(loopbackOnly);
    const std::string setpriv = FindProgram("setpriv");
    ASSERT_FALSE(setpriv.empty()) << "needs setpriv (util-linux) to drop privileges";
    struct Case {
        const NetNamespace& where;
        int interfaceNumber;
        bool unprivileged;
        const char* message;
    };
    const Case cases[] = {
        // Only 127.0.0.1 there: entry 0 is the loopback address.
        {loopbackOnly, 0, false, "Error at start capture. Set loopback address."},
        // The table is [198.51.100.1, 127.0.0.1].
        {bed.server, 1, false, "Error at start capture. Set loopback address."},
        {bed.server, 2, false, "Error at start capture. Set out of IPtable range."},
        {bed.server, 9, false, "Error at start capture. Set out of IPtable range."},
        {bed.server, 0, true, "Error at start capture. Fail socket."},
    };
    const std::regex stamped("^[0-9]{2}/[0-1][0-9]/[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] (.*)$");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message + std::to_string(c.interfaceNumber));
        ZpsimHarness run(c.where.Inside({}));
        std::vector<std::string> wrapper;
        if (c.unprivileged) {
            // An ordinary user (nobody), who owns the working folder.
            wrapper = {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
            ASSERT_EQ(::chown(run.dir.path.c_str(), 65534, 65534), 0);
        }
        run.StartMonitor(Ini(c.interfaceNumber), wrapper);
        // Runs on without capture, printing its status, until told to stop.
        EXPECT_TRUE(WaitFor([&] { return run.dir.Read("MoniErrLog.txt").find("capture") != std::string::npos &&
                                         run.dir.Read("monitor.out").find("STATUS") != std::string::npos; },
                            10s))
            << run.dir.Read("monitor.out");
        EXPECT_TRUE(run.monitor->Running());
        EXPECT_TRUE(ExitedWith(run.monitor->Stop(SIGTERM), 0));
        std::vector<std::string> captureLines;
        for (const std::string& l : Lines(run.dir.Read("MoniErrLog.txt"))) {
            std::smatch m;
            ASSERT_TRUE(std::regex_match(l, m, stamped)) << l;
            if (m[1].str().find("capture") != std::string::npos)
                captureLines.push_back(m[1]);
        }
        EXPECT_EQ(captureLines, std::vector<std::string>{c.message});
    }
}

// Restarting the capture again and again closes what the previous start opened. The check runs
// in a copy of this program inside the server's namespace, where entry 0 is the veth address.
TEST(NetnsCaptureTest, RestartsLeakNothing)
{
    ZPT_TESTBED(bed);
    TempFolder dir;
    const std::string test = "NetnsInside.DISABLED_RestartsLeakNothing";
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    ChildProcess child(bed.server.Inside({"/usr/bin/env", "ZPMONI_NETNS_INSIDE=1", self,
                                          "--gtest_filter=" + test, "--gtest_also_run_disabled_tests"}),
                       dir.File("inside.out"));
    ASSERT_TRUE(child.Wait(60s));
    EXPECT_TRUE(ExitedWith(child.ExitStatus(), 0)) << dir.Read("inside.out");
    EXPECT_NE(dir.Read("inside.out").find("[       OK ] " + test), std::string::npos) << dir.Read("inside.out");
}

// Open descriptors, mappings of a socket (the receive ring) and notifiers of the capture.
std::array<size_t, 3> Resources(const CPacketcap& capture)
{
    // Notifiers of earlier starts are deleted on the event loop; let it run them first.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    std::array<size_t, 3> r = {0, 0, static_cast<size_t>(capture.findChildren<QSocketNotifier*>().size())};
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++r[0];
    for (const std::string& line : Lines(ReadText("/proc/self/maps")))
        r[1] += line.find("socket:[") != std::string::npos;
    return r;
}

// Started by RestartsLeakNothing inside the namespace; skipped anywhere else.
TEST(NetnsInside, DISABLED_RestartsLeakNothing)
{
    if (!std::getenv("ZPMONI_NETNS_INSIDE"))
        GTEST_SKIP() << "runs inside the namespace that NetnsCaptureTest.RestartsLeakNothing makes";
    int argc = 1;
    char name[] = "netns-inside";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    // Version and header length, protocol, destination port and payload of each datagram.
    std::vector<std::string> seen;
    auto keep = [&](const uint8_t* d, size_t length, ChecksumStatus) {
        seen.push_back(length < 28 ? "short" : std::to_string(d[0]) + "/" + std::to_string(d[9]) + "/" +
                                                   std::to_string(d[22] << 8 | d[23]) + "/" +
                                                   std::string(d + 28, d + length));
    };
    CPacketcap capture;
    // Qt opens what it needs for notifiers at their first use; count from after that.
    ASSERT_EQ(capture.Start(0, kPort, keep), CPacketcap::Running);
    capture.Stop();
    const auto idle = Resources(capture);
    ASSERT_EQ(capture.Start(0, kPort, keep), CPacketcap::Running);
    const auto one = Resources(capture);
    EXPECT_EQ(one, (std::array<size_t, 3>{idle[0] + 1, idle[1] + 1, 1}));
    // Each start without a stop in between replaces the running capture.
    for (int i = 0; i < 99; ++i)
        ASSERT_EQ(capture.Start(0, kPort, keep), CPacketcap::Running) << i;
    EXPECT_EQ(Resources(capture), one);

    // The last start captures, each datagram once.
    const int sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kPort);
    ::inet_pton(AF_INET, VethTestbed::kBotsAddress, &to.sin_addr);
    const std::string payloads[] = {"first", "second", "third"};
    for (const std::string& p : payloads)
        ASSERT_EQ(::sendto(sender, p.data(), p.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
                  static_cast<ssize_t>(p.size()));
    ::close(sender);
    // Until all three came and a little longer, so that a fourth would be seen.
    auto pump = [&] { QCoreApplication::processEvents(QEventLoop::AllEvents, 50); return false; };
    WaitFor([&] { return pump() || seen.size() >= 3; }, 3s);
    WaitFor(pump, 300ms);
    EXPECT_EQ(seen, (std::vector<std::string>{"69/17/7915/first", "69/17/7915/second", "69/17/7915/third"}));
    EXPECT_EQ(capture.Statistics().delivered, 3u);
    capture.Stop();
    EXPECT_EQ(Resources(capture), idle);
}

}  // namespace
