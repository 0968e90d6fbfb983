// SPDX-License-Identifier: MIT
// The deny list enforced by the kernel: the monitor in the server's namespace puts its rules on
// 198.51.100.1 (its secondary address is .5); clients at 198.51.100.2 to .4 in the players'
// namespace try listeners on both.
// Needs root.
#include "access/deny_ruleset.h"
#include "app/monitor_app.h"
#include "platform/system_clock.h"
#include "support/netns.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

using namespace zpmoni;

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The namespace is the test's own: any port is free there.
constexpr uint16_t kPort = 7000;

sockaddr_in Address(const std::string& text, uint16_t port = 0)
{
    return {.sin_family = AF_INET, .sin_port = htons(port), .sin_addr = {inet_addr(text.c_str())}, .sin_zero = {}};
}

class NetnsDenyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZPT_SKIP_UNLESS_TESTBED(bed);
        if (nft.empty())
            GTEST_SKIP() << "needs nftables' nft to look at the rules";
        for (const char* a : {"198.51.100.3/24", "198.51.100.4/24"})
            ASSERT_TRUE(bed.bots.Ip({"addr", "add", a, "dev", bed.botsLink}));
        ASSERT_TRUE(bed.server.Ip({"addr", "add", "198.51.100.5/24", "dev", bed.serverLink}));
        // Inside the server's namespace (ip netns exec mounts it over /etc/hosts) the host name
        // stands for an address of no interface, then for the secondary one: neither is the
        // address the settings page shows.
        char host[256] = {};
        gethostname(host, sizeof host - 1);
        fs::create_directories(hosts);
        WriteText(hosts + "/hosts", std::string("127.0.0.1 localhost\n198.51.100.77 ") + host +
                                        "\n198.51.100.5 " + host + "\n");
        InNamespace inside(bed.server.Name());
        for (int i = 0; i < 2; ++i) {
            listeners[i] = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in a = Address(i ? "198.51.100.5" : VethTestbed::kServerAddress, kPort);
            ASSERT_TRUE(inside.entered && bind(listeners[i], reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0 &&
                        listen(listeners[i], 64) == 0);
        }
    }
    void TearDown() override
    {
        for (int fd : listeners)
            close(fd);
        fs::remove_all(hosts);
    }

    // A connection from 198.51.100.`from` (in the players' namespace, or the server's own) to
    // 198.51.100.`to`, -1 when none within the limit.
    int Connect(int from, std::chrono::milliseconds limit, int to = 1)
    {
        InNamespace inside(from == 5 ? bed.server.Name() : bed.bots.Name());
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // A connect that gets no answer gives up after the send timeout.
        const timeval wait{limit.count() / 1000, limit.count() % 1000 * 1000};
        const sockaddr_in a = Address("198.51.100." + std::to_string(from)),
                          b = Address("198.51.100." + std::to_string(to), kPort);
        if (setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait) == 0 &&
            bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0 &&
            connect(fd, reinterpret_cast<const sockaddr*>(&b), sizeof b) == 0)
            return fd;
        return close(fd), -1;
    }
    bool Connects(int from, std::chrono::milliseconds limit, int to = 1)
    {
        const int fd = Connect(from, limit, to);
        return close(fd), fd >= 0;
    }
    // Starts a monitor of `folder` in the server's namespace, behind `argv` (setpriv and its
    // options) if any.
    std::unique_ptr<ChildProcess> StartMonitor(const TempFolder& folder, std::vector<std::string> argv = {})
    {
        argv.insert(argv.end(), {ZPMONI_BINARY, "--headless", "--workdir", folder.path.string()});
        auto child = std::make_unique<ChildProcess>(bed.server.Inside(argv), folder.File("out.txt"));
        EXPECT_TRUE(child->Running());
        return child;
    }
    std::string Table(const TempFolder& f) const { return DenyRuleset::TableFor(fs::canonical(f.path).string()); }
    bool TableExists(const TempFolder& f) const { return bed.server.Run({nft, "list", "chain", "inet", Table(f), "input"}); }

    const std::string nft = FindProgram("nft");
    VethTestbed bed;
    const std::string hosts = "/etc/netns/" + bed.server.Name();
    TempFolder dir, other;
    std::unique_ptr<ChildProcess> monitor, otherMonitor;  // stopped before the namespaces go
    int listeners[2] = {-1, -1};                          // on 198.51.100.1 and .5
};

// Two monitors of two folders on one machine: each keeps its own table. The first guards the
// address the settings page shows (interface 0), whatever the host name stands for; the second,
// set to an interface without an address, guards every local address and says so. A ban of the
// machine's own subnet leaves its own traffic alone. Ten thousand entries go in at once; a killed
// monitor's table stays until the next start in its folder replaces it; a stopped one takes only
// its own away.
TEST_F(NetnsDenyTest, EachFolderKeepsItsOwnBansOnTheAddressThePageShows)
{
    std::string file;
    for (int i = 1; i < 10000; ++i)
        file += "10." + std::to_string(i >> 8) + "." + std::to_string(i & 255) + ".1\n";
    dir.Write("ipfilter.txt", file + "198.51.100.3\t255.255.255.255\tbanned player\n198.51.100.128 255.255.255.128 a block elsewhere\n");
    other.Write("ipfilter.txt", "198.51.100.0 255.255.255.0 the machine's own subnet\n");
    other.Write("Zpmoni.ini", "[ProgramData]\nInterfaceNumber=3\n");
    monitor = StartMonitor(dir);
    otherMonitor = StartMonitor(other);
    ASSERT_TRUE(WaitFor([&] { return TableExists(dir) && TableExists(other); }, 30s)) << dir.Read("out.txt");
    EXPECT_NE(Table(dir), Table(other));
    EXPECT_FALSE(Connects(2, 1500ms));
    EXPECT_FALSE(Connects(4, 1500ms, 5));
    EXPECT_TRUE(Connects(5, 5s));
    EXPECT_EQ(CountOf(other.Read("MoniErrLog.txt"), "Interface number 3 gives no IPv4 address but loopback: "
                                                     "deny rules guard every local address\n"), 1u);
    ASSERT_TRUE(bed.server.Run({nft, "-j", "list", "set", "inet", Table(dir), "deny"}, dir.File("set.json")));
    EXPECT_EQ(CountOf(dir.Read("set.json"), "\"10."), 9999u);

    EXPECT_TRUE(ExitedWith(otherMonitor->Stop(), 0)) << other.Read("out.txt");
    EXPECT_FALSE(TableExists(other));
    EXPECT_TRUE(Connects(2, 5s));
    EXPECT_FALSE(Connects(3, 1500ms));
    EXPECT_TRUE(Connects(3, 5s, 5));

    monitor->Stop(SIGKILL);
    ASSERT_FALSE(Connects(3, 1500ms));
    dir.Write("ipfilter.txt", "198.51.100.2\n");
    monitor = StartMonitor(dir);
    EXPECT_TRUE(WaitFor([&] { return Connects(3, 1s); }, 10s));
    EXPECT_TRUE(Connects(4, 5s));
    EXPECT_FALSE(Connects(2, 1500ms));
    EXPECT_TRUE(ExitedWith(monitor->Stop(), 0)) << dir.Read("out.txt");
    EXPECT_FALSE(TableExists(dir));
    EXPECT_TRUE(Connects(2, 5s));
    EXPECT_EQ(dir.Read("MoniErrLog.txt").find("Cannnot add filter"), std::string::npos);
}

// As nobody, neither the deny list nor the capture can start: each entry and the capture are
// reported once, with nftables' message, what is in force, the wide block and the mask that is
// none; the monitor runs on.
TEST_F(NetnsDenyTest, WithoutPrivilegesEveryFailureIsReportedAndTheMonitorRunsOn)
{
    dir.Write("ipfilter.txt", "198.51.100.3\n198.51.100.4\n10.0.0.0 255.0.255.0\n0.0.0.0 0.0.0.0\n1.2.3.4 -1\n");
    ASSERT_EQ(chown(dir.path.c_str(), 65534, 65534), 0);
    monitor = StartMonitor(dir, {FindProgram("setpriv"), "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
    EXPECT_TRUE(WaitFor([&] { return dir.Read("out.txt").find("STATUS") != std::string::npos; }, 10s));
    const std::string log = dir.Read("MoniErrLog.txt");
    EXPECT_EQ(CountOf(log, "Cannnot add filter\n"), 5u) << log;
    EXPECT_EQ(CountOf(log, "Deny rules in force: none\n"), 1u) << log;
    // Its line ends with the library's cause.
    const size_t refused = log.find(" nftables refused the deny rules: ");
    EXPECT_EQ(log.find("Operation not permitted\n", refused), log.find('\n', refused) - 23) << log;
    EXPECT_EQ(CountOf(log, "Deny entry drops the wide block 0.0.0.0/0: 0.0.0.0 0.0.0.0\n"), 1u) << log;
    EXPECT_EQ(CountOf(log, "Deny entry not enforced, mask is not a dotted quad: 1.2.3.4 -1\n"), 1u) << log;
    EXPECT_EQ(CountOf(log, "Error at start capture. Fail socket.\n"), 1u) << log;
    EXPECT_TRUE(ExitedWith(monitor->Stop(), 0)) << dir.Read("out.txt");
}

// The ban also takes the player's record away and is written to the action log; held back, not
// lost, the datagram gets through once the unban takes the rule away. Rules that vanish (a
// flushed rule set) come back at the minute's check and at a ban, told once each time.
TEST_F(NetnsDenyTest, DenyAccessCutsAConnectedClientOffAtOnce)
{
    dir.Write("ipfilter.txt", "198.51.100.3 255.255.255.255 banned earlier\n");
    const int client = Connect(2, 5s);
    ASSERT_GE(client, 0);
    const int peer = accept(listeners[0], nullptr, nullptr);
    char byte;
    auto arrives = [&](auto limit) { return WaitFor([&] { return recv(peer, &byte, 1, MSG_DONTWAIT) == 1; }, limit); };
    {
        InNamespace inside(bed.server.Name());
        SystemClock clock;
        MonitorApp app(dir.path.string(), clock);
        fs::create_directories(dir.path / "Log");
        ASSERT_TRUE(app.access.Load());
        const Status installed = app.access.Install();
        ASSERT_TRUE(installed) << installed.error();
        for (const uint16_t port : {40000, 40001})
            app.capture.Table().Find(inet_addr(port == 40000 ? VethTestbed::kBotsAddress : "198.51.100.4"), port, true);
        ASSERT_TRUE(bed.server.Run({nft, "flush", "ruleset"}));
        EXPECT_TRUE(app.access.Ban("window", "198.51.100.2", "Viper\tpilot"));
        ASSERT_EQ(send(client, "b", 1, 0), 1);
        EXPECT_FALSE(arrives(1500ms));
        EXPECT_FALSE(Connects(3, 1500ms));  // the earlier ban came back with it
        EXPECT_EQ(app.capture.Table().Find(inet_addr(VethTestbed::kBotsAddress), 40000, false), nullptr);
        EXPECT_NE(app.capture.Table().Find(inet_addr("198.51.100.4"), 40001, false), nullptr);
        EXPECT_EQ(dir.Read("ipfilter.txt"),
                  "198.51.100.3\t255.255.255.255\tbanned earlier\n198.51.100.2\t255.255.255.255\tViper\tpilot\n");
        const std::string actions = dir.Read("Log/" + FormatTime(clock.LocalTime(clock.Now()), "action%Y%m%d.txt"));
        EXPECT_EQ(actions.substr(std::min<size_t>(actions.size(), 8)), "\twindow\tdeny\t198.51.100.2\tViper\\x09pilot\n");
        // Unbanned: the rule goes at once, the file keeps the other entry.
        const Result<size_t> unbanned = app.access.Unban("window", "198.51.100.2");
        EXPECT_TRUE(unbanned && *unbanned == 1u && arrives(10s)) << unbanned.error();
        EXPECT_EQ(dir.Read("ipfilter.txt"), "198.51.100.3\t255.255.255.255\tbanned earlier\n");
        EXPECT_FALSE(app.access.Unban("window", "198.51.100.2"));

        ASSERT_TRUE(bed.server.Run({nft, "flush", "ruleset"}));
        EXPECT_TRUE(app.access.CheckMinute());
        EXPECT_TRUE(app.access.CheckMinute());
        EXPECT_FALSE(Connects(3, 1500ms));
        EXPECT_EQ(CountOf(dir.Read("MoniErrLog.txt"), "Deny rules were gone from nftables and have been put back\n"), 2u);
        EXPECT_TRUE(app.access.RemoveAll());
    }
    close(peer);
    close(client);
}

// A ban of 2 s: the kernel lets the host back on time by itself; the minute's check then takes
// it off the list and the file and tells of it in the daily and action logs.
TEST_F(NetnsDenyTest, ABanWithAnEndLetsTheHostBackOnTime)
{
    InNamespace inside(bed.server.Name());
    SystemClock clock;
    MonitorApp app(dir.path.string(), clock);
    fs::create_directories(dir.path / "Log");
    ASSERT_TRUE(app.access.Install());
    ASSERT_TRUE(app.access.Ban("window", "198.51.100.0/30", "", "an evening", 2s));
    const auto banned = std::chrono::steady_clock::now();
    EXPECT_FALSE(Connects(2, 500ms));
    EXPECT_TRUE(WaitFor([&] { return Connects(2, 200ms); }, 10s));
    const auto back = std::chrono::duration<double>(std::chrono::steady_clock::now() - banned).count();
    std::printf("host back %.2f s after a 2 s ban\n", back);
    EXPECT_NE(dir.Read("ipfilter.txt").find("198.51.100.0\t255.255.255.252\tan evening | by=window at="), std::string::npos);
    EXPECT_TRUE(app.access.CheckMinute());
    EXPECT_TRUE(app.access.List().empty());
    EXPECT_EQ(dir.Read("ipfilter.txt"), "");
    const std::string day = FormatTime(clock.LocalTime(clock.Now()), "%Y%m%d.txt");
    EXPECT_EQ(CountOf(dir.Read("Log/zplog" + day), "Ban expired: 198.51.100.0/30 (an evening)\n"), 1u);
    EXPECT_EQ(CountOf(dir.Read("Log/action" + day), "\tmonitor\texpired\t198.51.100.0\tan evening | by=window"), 1u);
    EXPECT_TRUE(app.access.RemoveAll());
}

}  // namespace
