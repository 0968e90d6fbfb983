// SPDX-License-Identifier: MIT
// The monitor's capture on a real link: the stand-in server and the monitor in one network
// namespace, the players in another, a veth pair between them. Needs root.
#include "capture/packetcap.h"
#include "e2e/zpsim_harness.h"
#include "support/netns.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <sched.h>

#include <algorithm>
#include <regex>

namespace {

using namespace std::chrono_literals;

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

// The monitor with the stand-in server (port 7915) in the server's namespace, players in the other.
struct NetnsRun : ZpsimHarness {
    explicit NetnsRun(const VethTestbed& bed)
        : ZpsimHarness(bed.server.Inside({}), bed.bots.Inside({}), VethTestbed::kServerAddress), bed(bed)
    {
        dir.Write("Packlist.txt", "Pack=Jets\nF-15C_EAGLE\nPack=Props\nP-51D\n");
        StartServer({}, 7915);
        StartMonitor(Ini());
        // The first status line comes a second after the capture started.
        EXPECT_TRUE(WaitFor([&] { return !StatusLines().empty(); }, 10s)) << Read("monitor.out");
    }

    // The status lines printed from byte `from` of the output on.
    std::vector<Status> StatusLines(size_t from = 0) const
    {
        std::vector<Status> result;
        for (const std::string& line : Output(from)) {
            Status s;
            if (std::sscanf(line.c_str(), "STATUS\tFLYING %d ONLINE %d   UP %lfkB/s DOWN %lfkB/s", &s.flying, &s.online,
                            &s.up, &s.down) == 4)
                result.push_back(s);
        }
        return result;
    }
    bool AnyStatus(size_t from, const std::function<bool(const Status&)>& is) const
    {
        const std::vector<Status> s = StatusLines(from);
        return std::any_of(s.begin(), s.end(), is);
    }

    // The players' daily-log lines without their time stamps ("USER|WORD|..."); every line is stamped.
    std::vector<std::string> Daily() const
    {
        std::vector<std::string> files, lines;
        std::error_code none;
        for (const auto& e : std::filesystem::directory_iterator(dir.path / "Log", none))
            files.push_back(e.path().filename().string());
        std::sort(files.begin(), files.end());  // by date
        std::string all;
        for (const std::string& f : files)
            all += f.starts_with("zplog") ? Read("Log/" + f) : "";
        const std::regex stamped("^[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\t" + kBots + "\t(.*)$");
        for (const std::string& line : Lines(all)) {
            std::smatch m;
            EXPECT_TRUE(std::regex_match(line, m, stamped)) << line;
            lines.push_back(std::regex_replace(m[1].str(), std::regex("\t"), "|"));
        }
        return lines;
    }
    // Daily-log lines with this word, of this user (of any when empty).
    size_t CountDaily(const std::string& word, const std::string& user = "[^|]*") const
    {
        const std::vector<std::string> all = Daily();
        const std::regex line(user + "\\|" + word + "(\\|.*)?");
        return std::count_if(all.begin(), all.end(), [&](const std::string& l) { return std::regex_match(l, line); });
    }

    // Raw segments with a PKT_LOGON from the players' side, outside any connection.
    bool SendRawLogons(const std::string& name, int count, bool badChecksum)
    {
        std::vector<std::string> argv = {"/usr/bin/python3", ZPMONI_RAW_SEGMENTS, "--src", kBots, "--dst", host,
                                         "--sport", std::to_string(40000 + badChecksum), "--name", name, "--count",
                                         std::to_string(count)};
        if (badChecksum)
            argv.push_back("--bad-checksum");
        return bed.bots.Run(argv, dir.File("raw.out"));
    }

    const VethTestbed& bed;
};

bool ExitedWith(int status, int code) { return WIFEXITED(status) && WEXITSTATUS(status) == code; }

#define ZPT_TESTBED(bed)                                                                           \
    ZPT_SKIP_UNLESS_NETNS_POSSIBLE();                                                              \
    VethTestbed bed;                                                                               \
    ZPT_SKIP_UNLESS_OK(bed)

// With checksum offload on, the veth hands over frames whose TCP checksum is still to be filled
// in: decoded all the same. Without it the checksums on the wire are final and are tested: a
// segment with a wrong one counts towards the traffic and does nothing else.
TEST(NetnsCaptureTest, FollowsPlayersWithAndWithoutChecksumOffload)
{
    const std::string ethtool = FindProgram("ethtool");
    if (ethtool.empty())
        GTEST_SKIP() << "needs ethtool to switch checksum offload";
    for (const char* offload : {"on", "off"}) {
        SCOPED_TRACE(std::string("offload ") + offload);
        ZPT_TESTBED(bed);
        ASSERT_TRUE(bed.bots.Run({ethtool, "-K", bed.botsLink, "tx", offload}));
        NetnsRun run(bed);
        run.RunBots({{"--name", "alpha", "--iff", "1", "--aircraft", "F-15C_EAGLE", "--start", "NORTH_RUNWAY", "--chat",
                      "alpha here", "--duration", "4"},
                     {"--name", "bravo", "--iff", "0", "--aircraft", "MIG-29", "--start", "SOUTH_APRON", "--chat",
                      "bravo here", "--duration", "4", "--leave", "rst"},
                     {"--name", "charlie", "--iff", "2", "--aircraft", "P-51D", "--start", "CARRIER", "--chat",
                      "charlie here", "--duration", "4"}});
        ASSERT_TRUE(WaitFor([&] { return run.CountDaily("LOGOUT") == 3 && run.StatusLines().back().online == 0; }, 5s));
        // Every event once, with the fields of the joins, in each player's order.
        const std::vector<std::vector<std::string>> expected = {
            {"alpha|LOGIN", "alpha|JOIN|2|F-15C_EAGLE|NORTH_RUNWAY|Jets", "alpha|LOGOUT"},
            {"bravo|LOGIN", "bravo|JOIN|1|MIG-29|SOUTH_APRON|", "bravo|LOGOUT"},
            {"charlie|LOGIN", "charlie|JOIN|3|P-51D|CARRIER|Props", "charlie|LOGOUT"},
        };
        const std::vector<std::string> daily = run.Daily();
        EXPECT_EQ(daily.size(), 9u);
        for (const auto& events : expected) {
            std::vector<std::string> own;
            std::copy_if(daily.begin(), daily.end(), std::back_inserter(own),
                         [&](const std::string& l) { return l.starts_with(events[0].substr(0, events[0].find('|'))); });
            EXPECT_EQ(own, events);
        }
        EXPECT_TRUE(run.AnyStatus(0, [](const Status& s) { return s.flying == 3 && s.online == 3; }));
        // Each chat line captured once, however many clients the server relayed it to.
        const std::vector<std::string> out = run.Output();
        for (const char* chat : {"CHAT\talpha here", "CHAT\tbravo here", "CHAT\tcharlie here"})
            EXPECT_EQ(std::count(out.begin(), out.end(), chat), 1) << chat;

        if (offload == std::string("off")) {
            const size_t before = run.Read("monitor.out").size();
            ASSERT_TRUE(run.SendRawLogons("badraw", 200, true)) << run.Read("raw.out");
            EXPECT_TRUE(WaitFor([&] { return run.AnyStatus(before, [](const Status& s) { return s.down > 0; }); }, 3s));
            // Once the same segment with its right checksum, sent after them, is decoded, the bad
            // ones have been through the decoder too.
            ASSERT_TRUE(run.SendRawLogons("goodraw", 1, false)) << run.Read("raw.out");
            EXPECT_TRUE(WaitFor([&] { return run.CountDaily("LOGIN", "goodraw") == 1; }, 3s));
            EXPECT_EQ(run.CountDaily("LOGIN", "badraw"), 0u) << "a segment with a wrong checksum made a record";
        }
        EXPECT_TRUE(ExitedWith(run.monitor->Stop(SIGTERM), 0));
        EXPECT_EQ(run.Read("MoniErrLog.txt"), "");
    }
}

// 24 slots: the 25th player is not tracked, but what it sends still counts.
TEST(NetnsCaptureTest, TracksTwentyFourPlayersAndCountsTheTwentyFifth)
{
    ZPT_TESTBED(bed);
    NetnsRun run(bed);
    // Watchers that send nothing after their log-on, so that the counters stand still.
    auto crowd = run.Bot({"--count", "24", "--name", "pilot", "--stagger", "0.05", "--no-join", "--keepalive", "0",
                          "--duration", "12"},
                         "bots");
    ASSERT_TRUE(WaitFor([&] { return run.CountDaily("LOGIN") == 24; }, 10s)) << run.Read("monitor.out");
    ASSERT_TRUE(WaitFor([&] { return run.StatusLines().back().online == 24 && run.StatusLines().back().down == 0; }, 5s));

    const size_t before = run.Read("monitor.out").size();
    auto late = run.Bot({"--name", "latecomer", "--no-join", "--keepalive", "0.05", "--duration", "2.5"});
    ASSERT_TRUE(late->Wait(20s));
    EXPECT_TRUE(ExitedWith(late->ExitStatus(), 0)) << run.Read("bots.out");
    // The server did take the 25th player in.
    EXPECT_EQ(Record(run.ServerRecord(), [](auto& o) { return IsPacket(o, "in", 1) && o["user"].toString() == "latecomer"; }).size(), 1u);
    EXPECT_FALSE(run.AnyStatus(before, [](const Status& s) { return s.online != 24; }));
    EXPECT_TRUE(run.AnyStatus(before, [](const Status& s) { return s.down > 0; })) << "the 25th player's traffic";

    ASSERT_TRUE(crowd->Wait(30s));
    EXPECT_TRUE(WaitFor([&] { return run.CountDaily("LOGOUT") == 24; }, 5s));
    for (int i = 1; i <= 24; ++i) {
        const std::string name = "pilot" + std::to_string(i);
        EXPECT_EQ(std::to_string(run.CountDaily("LOGIN", name)) + std::to_string(run.CountDaily("LOGOUT", name)), "11") << name;
    }
    EXPECT_EQ(run.Daily().size(), 48u) << "a record for the 25th player";
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
    // Only 127.0.0.1 in the first namespace; the server's table is [198.51.100.1, 127.0.0.1].
    const std::tuple<const NetNamespace&, int, bool, const char*> cases[] = {
        {loopbackOnly, 0, false, "Error at start capture. Set loopback address."},
        {bed.server, 1, false, "Error at start capture. Set loopback address."},
        {bed.server, 2, false, "Error at start capture. Set out of IPtable range."},
        {bed.server, 9, false, "Error at start capture. Set out of IPtable range."},
        {bed.server, 0, true, "Error at start capture. Fail socket."},
    };
    const std::regex stamped("^[0-9]{2}/[0-1][0-9]/[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] (.*)$");
    for (const auto& [where, interfaceNumber, unprivileged, message] : cases) {
        SCOPED_TRACE(message + std::to_string(interfaceNumber));
        ZpsimHarness run(where.Inside({}));
        // Unprivileged: as nobody, who owns the working folder.
        ASSERT_EQ(!unprivileged || ::chown(run.dir.path.c_str(), 65534, 65534) == 0, true);
        run.StartMonitor(Ini(interfaceNumber), unprivileged ? std::vector<std::string>{setpriv, "--reuid=65534",
                                                                                       "--regid=65534", "--clear-groups", "--"}
                                                            : std::vector<std::string>{});
        // Runs on without capture, printing its status, until told to stop.
        EXPECT_TRUE(WaitFor([&] { return run.Read("MoniErrLog.txt").find("capture") != std::string::npos &&
                                         run.Read("monitor.out").find("STATUS") != std::string::npos; }, 10s));
        EXPECT_TRUE(run.monitor->Running());
        EXPECT_TRUE(ExitedWith(run.monitor->Stop(SIGTERM), 0));
        std::vector<std::string> captureLines;
        for (const std::string& l : Lines(run.Read("MoniErrLog.txt"))) {
            std::smatch m;
            ASSERT_TRUE(std::regex_match(l, m, stamped)) << l;
            if (m[1].str().find("capture") != std::string::npos)
                captureLines.push_back(m[1]);
        }
        EXPECT_EQ(captureLines, std::vector<std::string>{message});
    }
}

// Open descriptors, mappings of a socket (the receive ring) and notifiers of the capture.
std::vector<size_t> Resources(const CPacketcap& capture)
{
    // Notifiers of earlier starts are deleted on the event loop; let it run them first.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const std::vector<std::string> maps = Lines(ReadText("/proc/self/maps"));
    return {static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {})),
            static_cast<size_t>(std::count_if(maps.begin(), maps.end(), [](auto& l) { return l.find("socket:[") != std::string::npos; })),
            static_cast<size_t>(capture.findChildren<QSocketNotifier*>().size())};
}

// Restarting the capture again and again closes what the previous start opened. Runs in the
// server's namespace, where entry 0 of the address table is the veth address.
TEST(NetnsCaptureTest, RestartsLeakNothing)
{
    ZPT_TESTBED(bed);
    const int home = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const int there = ::open(("/run/netns/" + bed.server.Name()).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::setns(there, CLONE_NEWNET), 0);
    struct Back {
        int home, there;
        ~Back() { ::setns(home, CLONE_NEWNET), ::close(home), ::close(there); }
    } back{home, there};
    int argc = 1;
    char name[] = "netns";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    // Version and header length, protocol, destination port and payload of each datagram.
    std::vector<std::string> seen;
    auto keep = [&](const uint8_t* d, size_t length, ChecksumStatus) {
        seen.push_back(length < 28 ? "short"
                                   : std::to_string(d[0]) + "/" + std::to_string(d[9]) + "/" +
                                         std::to_string(d[22] << 8 | d[23]) + "/" + std::string(d + 28, d + length));
    };
    CPacketcap capture;
    // Qt opens what it needs for notifiers at their first use; count from after that.
    ASSERT_EQ(capture.Start(0, 7915, keep), CPacketcap::Running);
    capture.Stop();
    const std::vector<size_t> idle = Resources(capture);
    ASSERT_EQ(capture.Start(0, 7915, keep), CPacketcap::Running);
    const std::vector<size_t> one = Resources(capture);
    EXPECT_EQ(one, (std::vector<size_t>{idle[0] + 1, idle[1] + 1, 1}));
    // Each start without a stop in between replaces the running capture.
    for (int i = 0; i < 99; ++i)
        ASSERT_EQ(capture.Start(0, 7915, keep), CPacketcap::Running) << i;
    EXPECT_EQ(Resources(capture), one);

    // The last start captures, each datagram once.
    const int sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{AF_INET, htons(7915), {}, {}};
    ::inet_pton(AF_INET, VethTestbed::kBotsAddress, &to.sin_addr);
    for (std::string p : {"first", "second", "third"})
        ASSERT_EQ(::sendto(sender, p.data(), p.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to), ssize_t(p.size()));
    ::close(sender);
    // Until all three came, then a little longer, so that a fourth would be seen.
    auto pump = [&] { return QCoreApplication::processEvents(QEventLoop::AllEvents, 50), false; };
    WaitFor([&] { return pump() || seen.size() >= 3; }, 3s);
    WaitFor(pump, 300ms);
    EXPECT_EQ(seen, (std::vector<std::string>{"69/17/7915/first", "69/17/7915/second", "69/17/7915/third"}));
    EXPECT_EQ(capture.Statistics().delivered, 3u);
    capture.Stop();
    EXPECT_EQ(Resources(capture), idle);
}

}  // namespace
