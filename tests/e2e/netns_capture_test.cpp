// SPDX-License-Identifier: MIT
// The monitor's capture on a real link: the stand-in server and the monitor in one network
// namespace, the players in another, a veth pair between them. Needs root.
#include "capture/packet_capture.h"
#include "e2e/zpsim_harness.h"
#include "support/netns.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <regex>

using namespace zpmoni;

namespace {

using namespace std::chrono_literals;

const std::string kBots = VethTestbed::kBotsAddress;
using Strings = std::vector<std::string>;

// The monitor with the stand-in server (port 7915) in the server's namespace, players in the other.
struct NetnsRun : ZpsimHarness {
    explicit NetnsRun(const VethTestbed& bed)
        : ZpsimHarness(bed.server.Inside({}), bed.bots.Inside({}), VethTestbed::kServerAddress), bed(bed)
    {
        dir.Write("Packlist.txt", "Pack=Jets\nF-15C_EAGLE\nPack=Props\nP-51D\n");
        StartServer({}, 7915);
        // Checksums on, captured chat shown, no reverse lookups (the namespaces have no resolver).
        StartMonitor("[ProgramData]\nInterfaceNumber=0\nChecksum=1\nPackFile=Packlist.txt\nResolveName=0\n[ZpmoniDlg]\nGlimit=0\n");
        // The first status line comes a second after the capture started.
        EXPECT_TRUE(WaitFor([&] { return Read("monitor.out").find("STATUS\t") != std::string::npos; }, 10s))
            << Read("monitor.out");
    }

    // The daily-log lines of the players' address that the monitor printed, oldest first, that
    // begin with these fields (a user, or a user and a word; any by default).
    Strings Daily(const std::string& user = "[^\t]*") const
    {
        Strings lines;
        std::smatch m;
        for (const std::string& line : Output())
            if (std::regex_match(line, m, std::regex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\t" + kBots + "\t(" + user + "(\t.*)?)")))
                lines.push_back(m[1]);
        return lines;
    }

    // Raw segments with a PKT_LOGON from the players' side, outside any connection.
    bool SendRawLogons(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"/usr/bin/python3", ZPMONI_RAW_SEGMENTS, "--src", kBots, "--dst", host});
        return bed.bots.Run(args, dir.File("raw.out"));
    }

    const VethTestbed& bed;
};

// With checksum offload on, the veth hands over frames whose TCP checksum is still to be filled
// in: decoded all the same. Without it the checksums on the wire are final and are tested: a
// segment with a wrong one makes no record (that it still counts towards the traffic, the
// recorded captures show).
TEST(NetnsCaptureTest, FollowsPlayersWithAndWithoutChecksumOffload)
{
    const std::string ethtool = FindProgram("ethtool");
    if (ethtool.empty())
        GTEST_SKIP() << "needs ethtool to switch checksum offload";
    for (const std::string offload : {"on", "off"}) {
        SCOPED_TRACE("offload " + offload);
        ZPT_TESTBED(bed);
        ASSERT_TRUE(bed.bots.Run({ethtool, "-K", bed.botsLink, "tx", offload}));
        NetnsRun run(bed);
        run.RunBots({{"--name", "alpha", "--iff", "1", "--aircraft", "F-15C_EAGLE", "--start", "NORTH_RUNWAY", "--chat",
                      "alpha here", "--duration", "4"},
                     {"--name", "bravo", "--iff", "0", "--aircraft", "MIG-29", "--start", "SOUTH_APRON", "--chat",
                      "bravo here", "--duration", "4", "--leave", "rst"}});
        ASSERT_TRUE(WaitFor([&] { return run.Daily().size() == 6; }, 5s));
        // Every event once, with the fields of the joins, in each player's order.
        EXPECT_EQ(run.Daily("alpha"), (Strings{"alpha\tLOGIN", "alpha\tJOIN\t2\tF-15C_EAGLE\tNORTH_RUNWAY\tJets", "alpha\tLOGOUT"}));
        EXPECT_EQ(run.Daily("bravo"), (Strings{"bravo\tLOGIN", "bravo\tJOIN\t1\tMIG-29\tSOUTH_APRON\t", "bravo\tLOGOUT"}));
        // Each chat line captured once, however many clients the server relayed it to.
        for (const char* chat : {"CHAT\talpha here\n", "CHAT\tbravo here\n"})
            EXPECT_EQ(CountOf(run.Read("monitor.out"), chat), 1u) << chat;

        if (offload == "off") {
            ASSERT_TRUE(run.SendRawLogons({"--name", "badraw", "--count", "200", "--bad-checksum"}));
            // Once the same segment with its right checksum, sent after them, is decoded, the bad
            // ones have been through the decoder too. Outside any connection it is no log-on: the
            // server resets it, and the status line counts it refused.
            ASSERT_TRUE(run.SendRawLogons({"--name", "goodraw", "--sport", "40001"}));
            EXPECT_TRUE(WaitFor([&] { return CountOf(run.Read("monitor.out"), "REFUSED 1\n") > 0; }, 3s));
            EXPECT_EQ(run.Daily("(good|bad)raw"), Strings{}) << "a forged log-on made a line";
        }
        EXPECT_TRUE(ExitedWith(run.monitor->Stop(SIGTERM), 0));
        EXPECT_EQ(run.Read("MoniErrLog.txt"), "");
    }
}

// Open descriptors, mappings of a socket (the receive ring) and notifiers of the capture.
std::vector<size_t> Resources(const PacketCapture& capture)
{
    // Notifiers of earlier starts are deleted on the event loop; let it run them first.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return {size_t(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {})),
            CountOf(ReadText("/proc/self/maps"), "socket:["), size_t(capture.findChildren<QSocketNotifier*>().size())};
}

// Restarting the capture again and again closes what the previous start opened (that a started
// capture captures, the other tests show). Runs in the server's namespace, where the address
// table is [198.51.100.1, 127.0.0.1].
TEST(NetnsCaptureTest, RestartsLeakNothing)
{
    ZPT_TESTBED(bed);
    InNamespace inside(bed.server.Name());
    ASSERT_TRUE(inside.entered);
    int argc = 1;
    char name[] = "netns", *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    PacketCapture capture;
    auto keep = [](const uint8_t*, size_t, ChecksumStatus) {};
    // Qt opens what it needs for notifiers at their first use; count from after that.
    ASSERT_TRUE(capture.Start(0, 7915, keep));
    capture.Stop();
    const std::vector<size_t> idle = Resources(capture);
    // Each start without a stop in between replaces the running capture.
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(capture.Start(0, 7915, keep)) << i;
        ASSERT_EQ(Resources(capture), (std::vector<size_t>{idle[0] + 1, idle[1] + 1, 1})) << i;
    }
    capture.Stop();
    // A start refused for its address leaves nothing open either; each refusal says why (that it
    // reaches the error log once and the monitor runs on, the deny-list namespace test shows).
    EXPECT_EQ(capture.Start(1, 7915, keep).error(), "Error at start capture. Set loopback address.");
    EXPECT_EQ(capture.Start(2, 7915, keep).error(), "Error at start capture. Set out of IPtable range.");
    EXPECT_EQ(Resources(capture), idle);
}

}  // namespace
