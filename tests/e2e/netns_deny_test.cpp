// SPDX-License-Identifier: MIT
// The deny list enforced by the kernel: the monitor in the server's namespace puts its rules on
// 198.51.100.1; clients at 198.51.100.2 to .4 in the players' namespace try a listener there.
// Needs root.
#include "app/zpmoni_app.h"
#include "platform/system_clock.h"
#include "support/netns.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

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
        // The host name stays off the local address table, whatever the machine maps it to.
        char host[256] = {};
        gethostname(host, sizeof host - 1);
        fs::create_directories(hosts);
        WriteText(hosts + "/hosts", std::string("127.0.0.1 localhost ") + host + "\n");
        InNamespace inside(bed.server.Name());
        listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in a = Address(VethTestbed::kServerAddress, kPort);
        ASSERT_TRUE(inside.entered && bind(listener, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0 &&
                    listen(listener, 64) == 0);
    }
    void TearDown() override
    {
        close(listener);
        fs::remove_all(hosts);
    }

    // A connection from 198.51.100.`host` to the listener, -1 when none within the limit.
    int Connect(int host, std::chrono::milliseconds limit)
    {
        InNamespace inside(bed.bots.Name());
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // A connect that gets no answer gives up after the send timeout.
        const timeval wait{limit.count() / 1000, limit.count() % 1000 * 1000};
        const sockaddr_in from = Address("198.51.100." + std::to_string(host)), to = Address(VethTestbed::kServerAddress, kPort);
        if (setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait) == 0 &&
            bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) == 0 &&
            connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0)
            return fd;
        return close(fd), -1;
    }
    bool Connects(int host, std::chrono::milliseconds limit)
    {
        const int fd = Connect(host, limit);
        return close(fd), fd >= 0;
    }
    // Starts the monitor in the server's namespace, behind `argv` (setpriv and its options) if any.
    void StartMonitor(std::vector<std::string> argv = {})
    {
        argv.insert(argv.end(), {ZPMONI_BINARY, "--headless", "--workdir", dir.path.string()});
        monitor = std::make_unique<ChildProcess>(bed.server.Inside(argv), dir.File("out.txt"));
        ASSERT_TRUE(monitor->Running());
    }
    bool TableExists() const { return bed.server.Run({nft, "list", "table", "inet", "zpmoni_filter"}); }

    const std::string nft = FindProgram("nft");
    VethTestbed bed;
    const std::string hosts = "/etc/netns/" + bed.server.Name();
    TempFolder dir;
    std::unique_ptr<ChildProcess> monitor;  // stopped before the namespaces go
    int listener = -1;
};

// Ten thousand entries of every kind go in at once and hold while the monitor runs; a killed
// monitor's table stays until the next start replaces it; a stopped one takes it away.
TEST_F(NetnsDenyTest, FileEntriesHoldWhileTheMonitorRuns)
{
    std::string file;
    for (int i = 1; i < 10000; ++i)
        file += "10." + std::to_string(i >> 8) + "." + std::to_string(i & 255) + ".1\n";
    dir.Write("ipfilter.txt", file + "198.51.100.3\tbanned player\n198.51.100.128 255.255.255.128 a block elsewhere\n"
                                     "198.51.100.4 255.0.255.255 an odd mask\n");
    StartMonitor();
    ASSERT_TRUE(WaitFor([&] { return TableExists(); }, 30s)) << dir.Read("out.txt");
    EXPECT_TRUE(Connects(2, 5s));
    EXPECT_FALSE(Connects(3, 1500ms));
    EXPECT_FALSE(Connects(4, 1500ms));
    ASSERT_TRUE(bed.server.Run({nft, "-j", "list", "set", "inet", "zpmoni_filter", "deny"}, dir.File("set.json")));
    EXPECT_EQ(CountOf(dir.Read("set.json"), "\"10."), 9999u);

    monitor->Stop(SIGKILL);
    ASSERT_FALSE(Connects(3, 1500ms));
    dir.Write("ipfilter.txt", "198.51.100.2\n");
    StartMonitor();
    EXPECT_TRUE(WaitFor([&] { return Connects(3, 1s); }, 10s));
    EXPECT_TRUE(Connects(4, 5s));
    EXPECT_FALSE(Connects(2, 1500ms));
    EXPECT_TRUE(ExitedWith(monitor->Stop(), 0)) << dir.Read("out.txt");
    EXPECT_FALSE(TableExists());
    EXPECT_TRUE(Connects(2, 5s));
    EXPECT_EQ(dir.Read("MoniErrLog.txt").find("Cannnot add filter"), std::string::npos);
}

// As nobody, neither the deny list nor the capture can start: each entry and the capture are
// reported once, and the monitor runs on.
TEST_F(NetnsDenyTest, WithoutPrivilegesEveryFailureIsReportedAndTheMonitorRunsOn)
{
    dir.Write("ipfilter.txt", "198.51.100.3\n198.51.100.4\n10.0.0.0 255.0.255.0\n");
    ASSERT_EQ(chown(dir.path.c_str(), 65534, 65534), 0);
    StartMonitor({FindProgram("setpriv"), "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
    EXPECT_TRUE(WaitFor([&] { return dir.Read("out.txt").find("STATUS") != std::string::npos; }, 10s));
    const std::string log = dir.Read("MoniErrLog.txt");
    EXPECT_EQ(CountOf(log, "Cannnot add filter\n"), 3u) << log;
    EXPECT_EQ(CountOf(log, "Error at start capture. Fail socket.\n"), 1u) << log;
    EXPECT_TRUE(ExitedWith(monitor->Stop(), 0)) << dir.Read("out.txt");
}

TEST_F(NetnsDenyTest, DenyAccessCutsAConnectedClientOffAtOnce)
{
    dir.Write("ipfilter.txt", "198.51.100.3 255.255.255.255 banned earlier\n");
    const int client = Connect(2, 5s);
    ASSERT_GE(client, 0);
    const int peer = accept(listener, nullptr, nullptr);
    char byte;
    auto arrives = [&](auto limit) { return WaitFor([&] { return recv(peer, &byte, 1, MSG_DONTWAIT) == 1; }, limit); };
    {
        InNamespace inside(bed.server.Name());
        SystemClock clock;
        CZpmoniApp app(dir.path.string(), clock);
        app.localAddresses.entries = {inet_addr(VethTestbed::kServerAddress)};
        app.IpFilterFile(true);
        app.InstallIpFilters();
        ASSERT_TRUE(app.packetFilter.Installed()) << app.packetFilter.LastError();
        app.DenyAccess("198.51.100.2", "Viper pilot");
        ASSERT_EQ(send(client, "b", 1, 0), 1);
        EXPECT_FALSE(arrives(1500ms));
        EXPECT_EQ(dir.Read("ipfilter.txt"),
                  "198.51.100.3\t255.255.255.255\tbanned earlier\n198.51.100.2\t255.255.255.255\tViper pilot\n");
        app.RemoveIpFilters();
    }
    // Held back, not lost: the retransmission gets through once the rule is gone.
    EXPECT_TRUE(arrives(10s));
    close(peer);
    close(client);
}

}  // namespace
