// SPDX-License-Identifier: MIT
// The monitor as a Type=notify service, told apart from systemd by a datagram socket of the test's.
#include "support/child_process.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>

TEST(ServiceNotifyTest, ReadyThenStatusAndWatchdogThenStopping)
{
    using namespace std::chrono;
    TempFolder dir;
    const int sock = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{AF_UNIX, {}};
    dir.File("notify").copy(addr.sun_path, sizeof addr.sun_path - 1);
    const timeval wait{0, 100000};
    ASSERT_TRUE(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) == 0);
    ::setenv("NOTIFY_SOCKET", addr.sun_path, 1);
    ::setenv("WATCHDOG_USEC", "1000000", 1);
    ChildProcess monitor({ZPMONI_BINARY, "--headless", "--workdir", dir.Path().string()}, dir.File("out"));
    ::unsetenv("NOTIFY_SOCKET"), ::unsetenv("WATCHDOG_USEC");

    std::vector<std::pair<steady_clock::time_point, std::string>> got;
    auto receive = [&](seconds span) {
        char buffer[4096];
        for (const auto until = steady_clock::now() + span; steady_clock::now() < until;)
            if (const ssize_t n = ::recv(sock, buffer, sizeof buffer, 0); n > 0)
                got.emplace_back(steady_clock::now(), std::string(buffer, size_t(n)));
    };
    receive(seconds(4));
    EXPECT_TRUE(ExitedWith(monitor.Stop(), 0));
    receive(seconds(1));
    ::close(sock);

    ASSERT_GE(got.size(), 4u) << dir.Read("out");
    EXPECT_EQ(got.front().second, "READY=1");
    EXPECT_EQ(got.back().second, "STOPPING=1");
    // Never a gap of the whole watchdog time between pings once ready.
    auto last = got.front().first;
    std::string status;
    for (const auto& [at, state] : got) {
        if (state == "WATCHDOG=1") {
            EXPECT_LT(at - last, seconds(1));
            last = at;
        }
        if (state.starts_with("STATUS="))
            status = state.substr(7);
    }
    EXPECT_GT(last, got.front().first);
    // The service's status is the status line the terminal shows last.
    const std::string out = dir.Read("out");
    EXPECT_TRUE(status.starts_with("FLYING 0 ONLINE 0"));
    EXPECT_EQ(out.substr(out.rfind("STATUS\t") + 7).substr(0, status.size() + 1), status + "\n");
}
