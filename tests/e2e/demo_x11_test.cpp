// SPDX-License-Identifier: MIT
// The demo under a virtual X server: players fly in a network namespace, the main window lists
// them, and a screenshot of each tab, of the list's header menu and of each settings page is saved
// for people to look at.
#include "capture/connections_page.h"
#include "capture/event_list_page.h"
#include "support/netns.h"
#include "support/sheet_driver.h"
#include "support/temp_folder.h"
#include "ui/report_list_view.h"

using namespace zpmoni;

TEST(DemoX11Test, PlayersAppearAndEveryTabAndSettingsPageIsPhotographed)
{
    if (access("/usr/bin/Xvfb", X_OK) != 0)
        GTEST_SKIP() << "Xvfb is not installed";
    auto file = [](const QString& name) { return QStringLiteral(ZPMONI_SCREENS_DIR "/%1.png").arg(name); };
    TempFolder dir;
    ZPT_TESTBED(net);

    // Other X servers may run beside this one: the first display without a socket or a lock.
    int n = 50;
    while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)) ||
           std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock"))
        ++n;
    const std::string display = ":" + std::to_string(n), socket = "/tmp/.X11-unix/X" + std::to_string(n);
    ChildProcess xvfb({"/usr/bin/Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, dir.File("x"));
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(socket); }, std::chrono::seconds(10)));

    const std::string source = ZPMONI_SOURCE_DIR;
    for (const char* name : {"Zpmoni.ini", "Packlist.txt"})
        std::filesystem::copy_file(source + "/res/demo/" + name, dir.File(name));
    ChildProcess server(net.server.Inside({"python3", source + "/tools/zpsim/zpsim.py", "server", "-server", "DEMO",
                                           "-netport", "7915", "--bind", "0.0.0.0", "--no-console", "--skip-air-states"}),
                        dir.File("server.out"));
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    ChildProcess bots(net.bots.Inside({"setsid", source + "/res/demo/bots.sh", VethTestbed::kServerAddress}),
                      dir.File("bots.out"));

    // The monitor runs in this process, moved into the server's namespace; the X server is
    // reached through its file-system socket, which every namespace sees.
    InNamespace inside(net.server.Name());
    ASSERT_TRUE(inside.entered);
    const char* names[] = {"connections", "log", "chat", "header_menu"};
    {
        int argc = 1;
        char* argv[] = {const_cast<char*>("zpmoni"), nullptr};
        setenv("DISPLAY", display.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        QApplication qapp(argc, argv);
        Program program(dir.path.string());
        auto& [clock, app, window] = program;
        window.resize(900, 420);
        window.show();
        ASSERT_TRUE(app.capture.Running()) << dir.Read("MoniErrLog.txt");

        ReportListView* list = window.ConnectPage()->List();
        EXPECT_TRUE(PumpUntil([&] {
            return !list->model()->match(list->model()->index(0, 5), Qt::DisplayRole, "FLYING").isEmpty();
        }, 40000)) << "no player listed as flying";
        PumpUntil([] { return false; }, 8000);  // chat and more events arrive

        std::filesystem::create_directories(ZPMONI_SCREENS_DIR);
        for (int tab : {1, 2, 0}) {
            window.Tabs()->setCurrentIndex(tab);
            PumpUntil([] { return false; }, 1200);
            EXPECT_TRUE(window.screen()->grabWindow(window.winId()).save(file(names[tab]))) << names[tab];
        }
        // Every page of the settings sheet, opened from the menu, with a deny list to show.
        app.access.SetList({{"198.51.100.9", "255.255.255.255", "bot"}, {"bogus", "255.0.0.0", "typo"}});
        WithSheetFromMenu(window, [&](SettingsSheet& sheet) {
            for (int i = 0; i < sheet.PageCount(); ++i) {
                EXPECT_TRUE(sheet.SetActivePage(i));
                PumpUntil([] { return false; }, 600);
                const QString page = QStringLiteral("settings-%1").arg(i + 1);
                EXPECT_TRUE(sheet.grab().save(file(page))) << page.toStdString();
            }
            sheet.reject();
        });
        // The header menu over the window: column 0 and the user name greyed.
        QTimer::singleShot(1000, &window, [&] {
            QWidget* menu = QApplication::activePopupWidget();
            ASSERT_NE(menu, nullptr);
            const QRect area = window.frameGeometry().united(menu->geometry());
            const QPixmap shot = window.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
            EXPECT_TRUE(shot.save(file(names[3])));
            menu->close();
        });
        const QPoint at(20, list->header()->height() / 2);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, list->header()->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list->header()->viewport(), &event);
        window.close();
    }
    for (const char* n : names)
        EXPECT_GT(QFileInfo(file(n)).size(), 1000) << n;
    // The bot loop leads its own process group: end the loop and the bots it started.
    kill(-bots.Pid(), SIGTERM);
    bots.Stop(SIGTERM);
}
