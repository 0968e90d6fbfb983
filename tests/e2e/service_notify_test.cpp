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
    const int sock = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un addr{AF_UNIX, {}};
    dir.File("notify").copy(addr.sun_path, sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::setenv("NOTIFY_SOCKET", addr.sun_path, 1), ::setenv("WATCHDOG_USEC", "1000000", 1);
    ChildProcess monitor({ZPMONI_BINARY, "--headless", "--workdir", dir.Path().string()}, dir.File("out"));
    // Read as they come (the sender may block on a full queue); a ping at least every WATCHDOG_USEC.
    std::string got, one(4096, '\0');
    const auto start = steady_clock::now();
    for (auto last = start + seconds(9); monitor.Running() || !got.ends_with("STOPPING=1;"); std::this_thread::sleep_for(10ms)) {
        for (ssize_t n; (n = ::recv(sock, one.data(), one.size(), 0)) > 0; got += one.substr(0, size_t(n)) + ";") {
            const bool ping = one.starts_with("READY=1") || one.starts_with("WATCHDOG=1");
            EXPECT_FALSE(ping && steady_clock::now() - std::exchange(last, steady_clock::now()) >= seconds(1)) << got;
        }
        ASSERT_LT(steady_clock::now() - start, seconds(20)) << got;
        EXPECT_TRUE(CountOf(got, "WATCHDOG=1;") < 6 || !monitor.Running() || ExitedWith(monitor.Stop(), 0));
    }
    EXPECT_TRUE(got.starts_with("READY=1;")) << got;
    // The service's status is the status line the terminal shows.
    const std::string out = dir.Read("out"), status = out.substr(out.rfind("STATUS\t") + 7);
    EXPECT_TRUE(status.starts_with("FLYING 0 ONLINE 0") && got.find("STATUS=" + status.substr(0, status.find('\n')) + ";") != std::string::npos) << out << got;
}
