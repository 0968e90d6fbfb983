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
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr int kPort = 7915;
constexpr const char* kInside = "ZPMONI_NETNS_INSIDE";
const std::string kBots = VethTestbed::kBotsAddress;

// Checksums on, captured chat shown, no reverse lookups (the namespaces have no resolver).
std::string Ini(int interfaceNumber = 0)
{
    return "[ProgramData]\nInterfaceNumber=" + std::to_string(interfaceNumber) +
           "\nChecksum=1\nPort=7915\nPackFile=Packlist.txt\nResolveName=0\n"
           "[ZpmoniDlg]\nGlimit=0\n";
}

struct Status {
    int flying = -1;
    int online = -1;
    double up = -1;
    double down = -1;
};

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    size_t begin = 0;
    for (;;) {
        const size_t tab = line.find('\t', begin);
        fields.push_back(line.substr(begin, tab == std::string::npos ? std::string::npos : tab - begin));
        if (tab == std::string::npos)
            return fields;
        begin = tab + 1;
    }
}

std::string Join(const std::vector<std::string>& fields)
{
    std::string s;
    for (const std::string& f : fields)
        s += (s.empty() ? "" : "|") + f;
    return s;
}

// The monitor and the stand-in server in the server's namespace; players in the other one.
class NetnsRun {
public:
    explicit NetnsRun(const VethTestbed& bed) : bed(bed)
    {
        dir.Write("Packlist.txt", "Pack=Jets\nF-15C_EAGLE\nPack=Props\nP-51D\n");
    }

    void StartServer()
    {
        server = std::make_unique<ChildProcess>(
            bed.server.Inside({"/usr/bin/python3", ZPSIM, "server", "-server", "NETNS", "-netport",
                               std::to_string(kPort), "--bind", VethTestbed::kServerAddress,
                               "--no-console", "--record", ServerRecord()}),
            dir.File("server.out"));
        ASSERT_TRUE(WaitFor(
            [&] { return CountRecord(ServerRecord(), [](auto& o) { return IsEvent(o, "listen"); }) > 0; },
            10s))
            << "the stand-in server did not start: " << dir.Read("server.out");
    }

    // Starts the monitor in `where`; `wrapper` goes before the program (a privilege drop), and
    // `owner` then gets the working folder and the settings file.
    void StartMonitor(const std::string& ini, const NetNamespace& where,
                      const std::vector<std::string>& wrapper = {}, uid_t owner = 0)
    {
        dir.Write("Zpmoni.ini", ini);
        if (owner != 0) {
            ASSERT_EQ(::chown(dir.path.c_str(), owner, owner), 0);
            ASSERT_EQ(::chown(dir.File("Zpmoni.ini").c_str(), owner, owner), 0);
        }
        std::vector<std::string> argv = wrapper;
        for (const char* a : {ZPMONI_BINARY, "--headless", "--workdir"})
            argv.emplace_back(a);
        argv.push_back(dir.path.string());
        monitor = std::make_unique<ChildProcess>(where.Inside(argv), dir.File("monitor.out"));
    }
    void StartMonitor(const std::string& ini) { StartMonitor(ini, bed.server); }

    // The first status line comes a second after the capture started.
    bool WaitForCapture() { return WaitFor([&] { return !StatusLines().empty(); }, 10s); }

    std::unique_ptr<ChildProcess> Bot(std::vector<std::string> args, const char* command = "bot")
    {
        std::vector<std::string> argv = {"/usr/bin/python3", ZPSIM, command, "--host",
                                         VethTestbed::kServerAddress, "--port",
                                         std::to_string(kPort), "--record", dir.File("bots.jsonl")};
        argv.insert(argv.end(), args.begin(), args.end());
        return std::make_unique<ChildProcess>(bed.bots.Inside(argv), dir.File("bots.out"));
    }

    // Raw segments with a PKT_LOGON from the players' side, outside any connection.
    bool SendRawLogons(const std::string& name, int count, bool badChecksum, int sourcePort)
    {
        std::vector<std::string> argv = {"/usr/bin/python3", ZPMONI_RAW_SEGMENTS, "--src", kBots,
                                         "--dst", VethTestbed::kServerAddress, "--dport",
                                         std::to_string(kPort), "--sport",
                                         std::to_string(sourcePort), "--name", name, "--count",
                                         std::to_string(count)};
        if (badChecksum)
            argv.emplace_back("--bad-checksum");
        return bed.bots.Run(argv, dir.File("raw.out"));
    }

    std::string Output() const { return dir.Read("monitor.out"); }

    // The monitor's output from byte `from` on, as lines.
    std::vector<std::string> OutputLines(size_t from = 0) const
    {
        const std::string all = Output();
        return Lines(from < all.size() ? all.substr(from) : std::string());
    }

    std::vector<Status> StatusLines(size_t from = 0) const
    {
        std::vector<Status> result;
        for (const std::string& line : OutputLines(from)) {
            Status s;
            if (std::sscanf(line.c_str(), "STATUS\tFLYING %d ONLINE %d   UP %lfkB/s DOWN %lfkB/s",
                            &s.flying, &s.online, &s.up, &s.down) == 4)
                result.push_back(s);
        }
        return result;
    }

    // The daily log's lines without their time, as fields; every line must carry a time.
    std::vector<std::vector<std::string>> DailyLog() const
    {
        std::vector<std::filesystem::path> files;
        std::error_code error;
        for (const auto& e : std::filesystem::directory_iterator(dir.path / "Log", error)) {
            if (e.path().filename().string().rfind("zplog", 0) == 0)
                files.push_back(e.path());
        }
        std::sort(files.begin(), files.end());
        static const std::regex time("^[0-2][0-9]:[0-5][0-9]:[0-6][0-9]$");
        std::vector<std::vector<std::string>> lines;
        for (const auto& f : files) {
            for (const std::string& line : Lines(dir.Read("Log/" + f.filename().string()))) {
                std::vector<std::string> fields = Fields(line);
                EXPECT_TRUE(std::regex_match(fields[0], time)) << line;
                fields.erase(fields.begin());
                lines.push_back(fields);
            }
        }
        return lines;
    }

    size_t CountDaily(const std::string& user, const std::string& word) const
    {
        size_t n = 0;
        for (const auto& f : DailyLog())
            n += f.size() >= 3 && f[1] == user && f[2] == word;
        return n;
    }
    size_t CountDaily(const std::string& word) const
    {
        size_t n = 0;
        for (const auto& f : DailyLog())
            n += f.size() >= 3 && f[2] == word;
        return n;
    }

    std::string ServerRecord() const { return dir.File("server.jsonl"); }

    const VethTestbed& bed;
    TempFolder dir;
    std::unique_ptr<ChildProcess> server;
    std::unique_ptr<ChildProcess> monitor;
};

bool ExitedWith(int status, int code)
{
    return WIFEXITED(status) && WEXITSTATUS(status) == code;
}

// With checksum offload on, the veth hands over frames whose TCP checksum is still to be
// filled in: the monitor must decode them all the same.
TEST(NetnsCaptureTest, FollowsPlayersOverAnOffloadingLink)
{
    ZPT_SKIP_UNLESS_NETNS_POSSIBLE();
    VethTestbed bed;
    ZPT_SKIP_UNLESS_OK(bed);
    NetnsRun run(bed);

    // The players' side leaves checksums to the "hardware": a veth's default, made sure of.
    const std::string ethtool = FindProgram("ethtool");
    if (!ethtool.empty()) {
        ASSERT_TRUE(bed.bots.Run({ethtool, "-K", bed.botsLink, "tx", "on"}));
        ASSERT_TRUE(bed.bots.Run({ethtool, "-k", bed.botsLink}, run.dir.File("ethtool.out")));
        ASSERT_NE(run.dir.Read("ethtool.out").find("tx-checksumming: on"), std::string::npos);
    }

    run.StartServer();
    run.StartMonitor(Ini());
    ASSERT_TRUE(run.WaitForCapture()) << run.Output();

    std::vector<std::unique_ptr<ChildProcess>> bots;
    bots.push_back(run.Bot({"--name", "alpha", "--iff", "1", "--aircraft", "F-15C_EAGLE", "--start",
                            "NORTH_RUNWAY", "--chat", "alpha here", "--duration", "4"}));
    bots.push_back(run.Bot({"--name", "bravo", "--iff", "0", "--aircraft", "MIG-29", "--start",
                            "SOUTH_APRON", "--chat", "bravo here", "--duration", "4", "--leave",
                            "rst"}));
    bots.push_back(run.Bot({"--name", "charlie", "--iff", "2", "--aircraft", "P-51D", "--start",
                            "CARRIER", "--chat", "charlie here", "--duration", "4"}));
    for (auto& b : bots) {
        ASSERT_TRUE(b->Wait(30s)) << "a bot did not finish";
        EXPECT_TRUE(ExitedWith(b->ExitStatus(), 0)) << run.dir.Read("bots.out");
    }
    ASSERT_TRUE(WaitFor([&] { return run.CountDaily("LOGOUT") >= 3; }, 5s)) << run.Output();
    ASSERT_TRUE(WaitFor(
        [&] {
            auto s = run.StatusLines();
            return !s.empty() && s.back().online == 0;
        },
        5s));

    // Every event once, with the players' address and the fields of their joins.
    const std::vector<std::vector<std::string>> expected = {
        {kBots, "alpha", "LOGIN"},
        {kBots, "alpha", "JOIN", "2", "F-15C_EAGLE", "NORTH_RUNWAY", "Jets"},
        {kBots, "alpha", "LOGOUT"},
        {kBots, "bravo", "LOGIN"},
        {kBots, "bravo", "JOIN", "1", "MIG-29", "SOUTH_APRON", ""},
        {kBots, "bravo", "LOGOUT"},
        {kBots, "charlie", "LOGIN"},
        {kBots, "charlie", "JOIN", "3", "P-51D", "CARRIER", "Props"},
        {kBots, "charlie", "LOGOUT"},
    };
    std::vector<std::string> seen;
    for (const auto& f : run.DailyLog())
        seen.push_back(Join(f));
    for (const char* user : {"alpha", "bravo", "charlie"}) {
        std::vector<std::string> own;
        for (const std::string& s : seen) {
            if (s.find(kBots + "|" + user + "|") == 0)
                own.push_back(s);
        }
        std::vector<std::string> want;
        for (const auto& e : expected) {
            if (e[1] == user)
                want.push_back(Join(e));
        }
        EXPECT_EQ(own, want) << "the events of " << user << ", in their order";
    }
    EXPECT_EQ(seen.size(), expected.size()) << run.dir.Read("monitor.out");

    bool allFlying = false;
    for (const Status& s : run.StatusLines())
        allFlying = allFlying || (s.flying == 3 && s.online == 3);
    EXPECT_TRUE(allFlying) << "no status line counted the three players flying:\n" << run.Output();

    // Each chat line captured once, however many clients the server relayed it to.
    const std::vector<std::string> out = run.OutputLines();
    for (const char* chat : {"CHAT\talpha here", "CHAT\tbravo here", "CHAT\tcharlie here"})
        EXPECT_EQ(std::count(out.begin(), out.end(), chat), 1) << chat;

    EXPECT_TRUE(ExitedWith(run.monitor->Stop(SIGTERM), 0));
    EXPECT_EQ(run.dir.Read("MoniErrLog.txt"), "");
}

// Without offload the checksums on the wire are final and are tested: a segment with a wrong
// one counts towards the traffic and does nothing else, while good ones are decoded.
TEST(NetnsCaptureTest, CountsButIgnoresSegmentsWithWrongChecksums)
{
    ZPT_SKIP_UNLESS_NETNS_POSSIBLE();
    const std::string ethtool = FindProgram("ethtool");
    if (ethtool.empty())
        GTEST_SKIP() << "needs ethtool to switch checksum offload off";
    VethTestbed bed;
    ZPT_SKIP_UNLESS_OK(bed);
    NetnsRun run(bed);
    ASSERT_TRUE(bed.bots.Run({ethtool, "-K", bed.botsLink, "tx", "off"}));

    run.StartServer();
    run.StartMonitor(Ini());
    ASSERT_TRUE(run.WaitForCapture()) << run.Output();
    ASSERT_TRUE(WaitFor(
        [&] {
            auto s = run.StatusLines();
            return !s.empty() && s.back().down == 0.0;
        },
        5s));

    const size_t before = run.Output().size();
    ASSERT_TRUE(run.SendRawLogons("badraw", 200, true, 40000)) << run.dir.Read("raw.out");
    ASSERT_TRUE(WaitFor(
        [&] {
            for (const Status& s : run.StatusLines(before)) {
                if (s.down > 0)
                    return true;
            }
            return false;
        },
        3s))
        << "the rejected segments were not counted:\n" << run.Output();
    std::this_thread::sleep_for(1200ms);
    for (const Status& s : run.StatusLines(before))
        EXPECT_EQ(s.online, 0) << "a segment with a wrong checksum made a record";
    EXPECT_EQ(run.CountDaily("badraw", "LOGIN"), 0u);

    // The same segment with its right checksum is decoded: the check above can fail.
    ASSERT_TRUE(run.SendRawLogons("goodraw", 1, false, 40001)) << run.dir.Read("raw.out");
    EXPECT_TRUE(WaitFor([&] { return run.CountDaily("goodraw", "LOGIN") == 1; }, 3s))
        << run.Output();

    // A whole session whose checksums the monitor tests in software.
    auto bot = run.Bot({"--name", "checked", "--iff", "4", "--aircraft", "P-51D", "--duration", "1"});
    ASSERT_TRUE(bot->Wait(20s));
    EXPECT_TRUE(WaitFor([&] { return run.CountDaily("checked", "LOGOUT") == 1; }, 5s));
    EXPECT_EQ(run.CountDaily("checked", "LOGIN"), 1u);
    EXPECT_EQ(run.CountDaily("checked", "JOIN"), 1u);
    EXPECT_EQ(run.CountDaily("badraw", "LOGIN"), 0u);
    EXPECT_TRUE(ExitedWith(run.monitor->Stop(SIGTERM), 0));
}

// 24 slots: the 25th player is not tracked, but what it sends still counts.
TEST(NetnsCaptureTest, TracksTwentyFourPlayersAndCountsTheTwentyFifth)
{
    ZPT_SKIP_UNLESS_NETNS_POSSIBLE();
    VethTestbed bed;
    ZPT_SKIP_UNLESS_OK(bed);
    NetnsRun run(bed);
    run.StartServer();
    run.StartMonitor(Ini());
    ASSERT_TRUE(run.WaitForCapture()) << run.Output();

    // Watchers that send nothing after their log-on, so that the counters stand still.
    auto crowd = run.Bot({"--count", "24", "--name", "pilot", "--stagger", "0.05", "--no-join",
                          "--keepalive", "0", "--duration", "12"},
                         "bots");
    ASSERT_TRUE(WaitFor([&] { return run.CountDaily("LOGIN") == 24; }, 10s)) << run.Output();
    ASSERT_TRUE(WaitFor(
        [&] {
            auto s = run.StatusLines();
            return !s.empty() && s.back().online == 24 && s.back().down == 0.0;
        },
        5s))
        << run.Output();

    const size_t before = run.Output().size();
    auto late = run.Bot({"--name", "latecomer", "--no-join", "--keepalive", "0.05", "--duration", "2.5"});
    ASSERT_TRUE(late->Wait(20s));
    EXPECT_TRUE(ExitedWith(late->ExitStatus(), 0)) << run.dir.Read("bots.out");
    // The server did take the 25th player in.
    EXPECT_EQ(CountRecord(run.ServerRecord(),
                          [](const QJsonObject& o) {
                              return IsPacket(o, "in", 1) && o["user"].toString() == "latecomer";
                          }),
              1u);
    const std::vector<Status> during = run.StatusLines(before);
    ASSERT_FALSE(during.empty());
    bool counted = false;
    for (const Status& s : during) {
        EXPECT_EQ(s.online, 24);
        counted = counted || s.down > 0;
    }
    EXPECT_TRUE(counted) << "the 25th player's traffic was not counted:\n" << run.Output();
    EXPECT_EQ(run.CountDaily("latecomer", "LOGIN"), 0u);
    EXPECT_EQ(run.CountDaily("LOGIN"), 24u);

    ASSERT_TRUE(crowd->Wait(30s));
    EXPECT_TRUE(WaitFor([&] { return run.CountDaily("LOGOUT") == 24; }, 5s));
    for (int i = 1; i <= 24; ++i) {
        const std::string name = "pilot" + std::to_string(i);
        EXPECT_EQ(run.CountDaily(name, "LOGIN"), 1u) << name;
        EXPECT_EQ(run.CountDaily(name, "LOGOUT"), 1u) << name;
    }
    EXPECT_EQ(run.CountDaily("LOGOUT"), 24u) << "a record for the 25th player";
    EXPECT_TRUE(ExitedWith(run.monitor->Stop(SIGTERM), 0));
}

// A capture that cannot start says why in the error log, once, and the monitor runs on.
TEST(NetnsCaptureTest, StartFailuresGoToTheErrorLog)
{
    ZPT_SKIP_UNLESS_NETNS_POSSIBLE();
    VethTestbed bed;
    ZPT_SKIP_UNLESS_OK(bed);
    NetNamespace loopbackOnly("l");
    ZPT_SKIP_UNLESS_OK(loopbackOnly);
    const std::string setpriv = FindProgram("setpriv");

    struct Case {
        const char* what;
        const NetNamespace& where;
        int interfaceNumber;
        bool unprivileged;
        const char* message;
    };
    const Case cases[] = {
        // Only 127.0.0.1 there: entry 0 is the loopback address.
        {"loopback", loopbackOnly, 0, false, "Error at start capture. Set loopback address."},
        // The table is [198.51.100.1, 127.0.0.1].
        {"last entry", bed.server, 1, false, "Error at start capture. Set loopback address."},
        {"beyond the table", bed.server, 2, false,
         "Error at start capture. Set out of IPtable range."},
        {"far beyond the table", bed.server, 9, false,
         "Error at start capture. Set out of IPtable range."},
        {"no CAP_NET_RAW", bed.server, 0, true, "Error at start capture. Fail socket."},
    };
    const std::regex line("^[0-9]{2}/[0-1][0-9]/[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] (.*)$");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.unprivileged && setpriv.empty()) {
            ADD_FAILURE() << "needs setpriv (util-linux) to drop privileges";
            continue;
        }
        NetnsRun run(bed);
        if (c.unprivileged) {
            // An ordinary user (nobody), who owns the working folder.
            run.StartMonitor(Ini(c.interfaceNumber), c.where,
                             {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", "--"},
                             65534);
        } else {
            run.StartMonitor(Ini(c.interfaceNumber), c.where);
        }
        EXPECT_TRUE(WaitFor(
            [&] { return run.dir.Read("MoniErrLog.txt").find("capture") != std::string::npos; }, 5s))
            << run.Output();
        // Runs on without capture until told to stop.
        EXPECT_TRUE(run.WaitForCapture()) << run.Output();
        EXPECT_TRUE(run.monitor->Running());
        EXPECT_TRUE(ExitedWith(run.monitor->Stop(SIGTERM), 0));

        size_t captureLines = 0;
        for (const std::string& l : Lines(run.dir.Read("MoniErrLog.txt"))) {
            std::smatch m;
            ASSERT_TRUE(std::regex_match(l, m, line)) << l;
            if (m[1].str().find("capture") != std::string::npos) {
                ++captureLines;
                EXPECT_EQ(m[1].str(), c.message);
            }
        }
        EXPECT_EQ(captureLines, 1u);
    }
}

// Restarting the capture again and again closes what the previous start opened. The check runs
// in a copy of this program inside the server's namespace, where entry 0 is the veth address.
TEST(NetnsCaptureTest, RestartsLeakNothing)
{
    ZPT_SKIP_UNLESS_NETNS_POSSIBLE();
    VethTestbed bed;
    ZPT_SKIP_UNLESS_OK(bed);
    TempFolder dir;
    std::error_code error;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe", error).string();
    ASSERT_FALSE(self.empty());
    const std::string test = "NetnsInside.DISABLED_RestartsLeakNothing";
    ChildProcess child(bed.server.Inside({"/usr/bin/env", std::string(kInside) + "=1", self,
                                          "--gtest_filter=" + test,
                                          "--gtest_also_run_disabled_tests"}),
                       dir.File("inside.out"));
    ASSERT_TRUE(child.Wait(60s));
    const std::string out = dir.Read("inside.out");
    EXPECT_TRUE(ExitedWith(child.ExitStatus(), 0)) << out;
    EXPECT_NE(out.find("[       OK ] " + test), std::string::npos) << out;
}

struct Resources {
    size_t fds = 0;
    size_t socketMaps = 0;  // mappings of a socket: the receive ring
    size_t notifiers = 0;
    bool operator==(const Resources&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Resources& r)
{
    return os << r.fds << " fds, " << r.socketMaps << " socket maps, " << r.notifiers
              << " notifiers";
}

Resources Count(const CPacketcap& capture)
{
    // Notifiers of earlier starts are deleted on the event loop; let it run them first.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Resources r;
    std::error_code error;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd", error))
        ++r.fds;
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        r.socketMaps += line.find("socket:[") != std::string::npos;
    r.notifiers = capture.findChildren<QSocketNotifier*>().size();
    return r;
}

// Started by RestartsLeakNothing inside the namespace; skipped anywhere else.
TEST(NetnsInside, DISABLED_RestartsLeakNothing)
{
    if (!std::getenv(kInside))
        GTEST_SKIP() << "runs inside the namespace that NetnsCaptureTest.RestartsLeakNothing makes";
    int argc = 1;
    char name[] = "netns-inside";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    std::vector<std::vector<uint8_t>> seen;
    auto keep = [&](const uint8_t* data, size_t length, ChecksumStatus) {
        seen.emplace_back(data, data + length);
    };
    CPacketcap capture;
    // Qt opens what it needs for notifiers at their first use; count from after that.
    ASSERT_EQ(capture.Start(0, kPort, keep), CPacketcap::Running);
    capture.Stop();
    const Resources idle = Count(capture);
    EXPECT_EQ(idle.notifiers, 0u);

    ASSERT_EQ(capture.Start(0, kPort, keep), CPacketcap::Running);
    const Resources one = Count(capture);
    EXPECT_EQ(one.fds, idle.fds + 1);
    EXPECT_EQ(one.socketMaps, idle.socketMaps + 1);
    EXPECT_EQ(one.notifiers, 1u);
    // Each start without a stop in between replaces the running capture.
    for (int i = 0; i < 99; ++i)
        ASSERT_EQ(capture.Start(0, kPort, keep), CPacketcap::Running) << i;
    EXPECT_EQ(Count(capture), one);
    ASSERT_TRUE(capture.IsRunning());

    // The last start captures, each datagram once.
    // The filter passes TCP only: resets with a payload, which nobody answers.
    const int sender = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_TCP);
    ASSERT_GE(sender, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    ::inet_pton(AF_INET, VethTestbed::kBotsAddress, &to.sin_addr);
    const std::string payloads[] = {"first", "second", "third"};
    for (const std::string& p : payloads) {
        std::string segment = std::string(20, '\0') + p;  // from port 1 to kPort, header of 20 bytes, RST
        segment[1] = 1;
        segment[2] = static_cast<char>(kPort >> 8);
        segment[3] = static_cast<char>(kPort & 0xFF);
        segment[12] = 0x50;
        segment[13] = 0x04;
        ASSERT_EQ(::sendto(sender, segment.data(), segment.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
                  static_cast<ssize_t>(segment.size()));
    }
    ::close(sender);
    const auto until = std::chrono::steady_clock::now() + 3s;
    while (seen.size() < 3 && std::chrono::steady_clock::now() < until)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const auto settle = std::chrono::steady_clock::now() + 300ms;
    while (std::chrono::steady_clock::now() < settle)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_EQ(seen.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const std::vector<uint8_t>& d = seen[i];
        ASSERT_EQ(d.size(), 40 + payloads[i].size());
        EXPECT_EQ(d[0], 0x45);
        EXPECT_EQ(d[9], IPPROTO_TCP);
        EXPECT_EQ((d[22] << 8) | d[23], kPort);
        EXPECT_EQ(std::string(d.begin() + 40, d.end()), payloads[i]);
    }
    EXPECT_EQ(capture.Statistics().delivered, 3u);

    capture.Stop();
    EXPECT_FALSE(capture.IsRunning());
    EXPECT_EQ(Count(capture), idle);
}

}  // namespace
