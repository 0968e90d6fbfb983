// SPDX-License-Identifier: MIT
// The demo under a virtual X server: players fly in a network namespace, the main window lists
// them, and a screenshot of each tab is saved for people to look at.
#include "app/monitor_controller.h"
#include "app/zpmoni_app.h"
#include "app/zpmoni_dlg.h"
#include "capture/connect_dlg.h"
#include "capture/monitor_dlg.h"
#include "support/temp_folder.h"
#include "support/child_process.h"
#include "ui/list_ctrl_ex.h"
#include "platform/system_clock.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QTabWidget>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool Shell(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

void Pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
}

// Two namespaces joined by a veth pair, removed at the end.
struct DemoNetwork {
    std::string server, players;
    bool ok = false;
    DemoNetwork()
    {
        const std::string tag = "zptx" + std::to_string(getpid() % 100000);
        server = tag + "s";
        players = tag + "c";
        ok = Shell("ip netns add " + server) && Shell("ip netns add " + players) &&
             Shell("ip link add " + tag + "a netns " + server + " type veth peer name " + tag +
                 "b netns " + players) &&
             Shell("ip -n " + server + " addr add 198.51.100.1/24 dev " + tag + "a") &&
             Shell("ip -n " + players + " addr add 198.51.100.2/24 dev " + tag + "b") &&
             Shell("ip -n " + server + " link set lo up") && Shell("ip -n " + players + " link set lo up") &&
             Shell("ip -n " + server + " link set " + tag + "a up") &&
             Shell("ip -n " + players + " link set " + tag + "b up");
    }
    ~DemoNetwork()
    {
        Shell("ip netns del " + server);
        Shell("ip netns del " + players);
    }
};

TEST(DemoX11Test, PlayersAppearAndEveryTabIsPhotographed)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root for network namespaces and capture";
    if (access("/usr/bin/Xvfb", X_OK) != 0)
        GTEST_SKIP() << "Xvfb is not installed";
    TempFolder dir;
    DemoNetwork net;
    ASSERT_TRUE(net.ok) << "cannot make the demo namespaces";

    const int display = 90 + getpid() % 100;
    ChildProcess xvfb({"/usr/bin/Xvfb", ":" + std::to_string(display), "-screen", "0",
                       "1024x768x24", "-nolisten", "tcp"},
                      dir.File("xvfb.out"));
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(display);
    ASSERT_TRUE(WaitFor([&] { return access(socket.c_str(), F_OK) == 0; }, std::chrono::seconds(10)));

    const std::string source = ZPMONI_SOURCE_DIR;
    Shell("cp " + source + "/res/demo/Zpmoni.ini " + source + "/res/demo/Packlist.txt " +
        dir.path.string());
    ChildProcess server({"/usr/sbin/ip", "netns", "exec", net.server, "python3",
                         source + "/tools/zpsim/zpsim.py", "server", "-server", "DEMO",
                         "-netport", "7915", "--bind", "0.0.0.0", "--no-console",
                         "--skip-air-states"},
                        dir.File("server.out"));
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    ChildProcess bots({"/usr/sbin/ip", "netns", "exec", net.players, "setsid",
                       source + "/res/demo/bots.sh", "198.51.100.1"},
                      dir.File("bots.out"));

    // The monitor runs in this process, moved into the server's namespace; the X server is
    // reached through its file-system socket, which every namespace sees.
    int ns = open(("/var/run/netns/" + net.server).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(ns, 0);
    int original = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(setns(ns, CLONE_NEWNET), 0);
    close(ns);

    {
        int argc = 1;
        char name[] = "zpmoni";
        char* argv[] = {name, nullptr};
        setenv("DISPLAY", (":" + std::to_string(display)).c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        QApplication qapp(argc, argv);
        SystemClock clock;
        CZpmoniApp app(dir.path.string(), clock);
        app.StartUp([](std::string_view) {});
        CZpmoniDlg window(app);
        window.Initialize();
        window.resize(900, 420);
        window.show();
        ASSERT_TRUE(app.capturing) << dir.Read("MoniErrLog.txt");

        // Players listed, some of them flying.
        QElapsedTimer waited;
        waited.start();
        auto flying = [&] {
            CListCtrlEx* list = window.ConnectPage()->List();
            for (int r = 0; r < list->RowCount(); ++r) {
                if (list->Text(r, 5) == "FLYING")
                    return true;
            }
            return false;
        };
        while (!flying() && waited.elapsed() < 40000)
            Pump(200);
        EXPECT_TRUE(flying()) << "no player listed as flying";
        Pump(8000);  // chat and more events arrive
        EXPECT_GT(window.MonitorPage()->List()->RowCount(), 0);

        QDir().mkpath(ZPMONI_SCREENS_DIR);
        const char* names[] = {"connections", "log", "chat"};
        for (int tab = 0; tab < 3; ++tab) {
            window.Tabs()->setCurrentIndex(tab);
            Pump(1200);
            QPixmap shot = window.screen()->grabWindow(window.winId());
            if (shot.isNull())
                shot = window.grab();
            const QString file = QString(ZPMONI_SCREENS_DIR "/%1.png").arg(names[tab]);
            EXPECT_TRUE(shot.save(file)) << file.toStdString();
        }
        window.close();
    }
    setns(original, CLONE_NEWNET);
    close(original);
    for (const char* n : {"connections", "log", "chat"})
        EXPECT_GT(std::filesystem::file_size(std::string(ZPMONI_SCREENS_DIR) + "/" + n + ".png"), 1000u);
    // The bot loop leads its own process group: end the loop and the bots it started.
    kill(-bots.Pid(), SIGTERM);
    bots.Stop(SIGTERM);
}

}  // namespace
