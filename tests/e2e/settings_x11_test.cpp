// SPDX-License-Identifier: MIT
// The settings sheet opened from the menu under a virtual X server: each page photographed, then
// OK without changes rewrites the settings file as it was and the client logs on again.
#include "app/zpmoni_app.h"
#include "app/zpmoni_dlg.h"
#include "e2e/zpsim_harness.h"
#include "platform/system_clock.h"
#include "ui/property_page.h"
#include "ui/settings_sheet.h"

#include <QtWidgets>

#include <sys/stat.h>

namespace {

bool PumpUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}

TEST(SettingsX11Test, OkWithoutChangesRewritesTheSettingsAndLogsOnAgain)
{
    if (access("/usr/bin/Xvfb", X_OK) != 0)
        GTEST_SKIP() << "Xvfb is not installed";
    ZpsimHarness sim;
    sim.StartServer();
    // Other runs use displays of their own: the first one without a socket or a lock is ours.
    int display = 70;
    while (access(("/tmp/.X11-unix/X" + std::to_string(display)).c_str(), F_OK) == 0 ||
           access(("/tmp/.X" + std::to_string(display) + "-lock").c_str(), F_OK) == 0)
        ++display;
    ChildProcess xvfb({"/usr/bin/Xvfb", ":" + std::to_string(display), "-screen", "0", "1024x768x24", "-nolisten",
                       "tcp"},
                      sim.dir.File("xvfb.out"));
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(display);
    ASSERT_TRUE(WaitFor([&] { return access(socket.c_str(), F_OK) == 0; }, std::chrono::seconds(10)));

    // The file as a confirmed sheet writes it.
    ProfileStore ini(sim.dir.File("Zpmoni.ini"));
    MonitorSettings settings;
    settings.port = static_cast<uint16_t>(sim.port);
    SaveSettings(ini, settings);
    ini.WriteInt("ZpmoniDlg", "Glimit", 1);
    for (auto [key, value] : {std::pair{"Max", "9"}, {"Min", "-3"}, {"Interval", "1000"}})
        ini.WriteString("BanGravity", key, value);

    setenv("DISPLAY", (":" + std::to_string(display)).c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    int argc = 1;
    char name[] = "zpmoni";
    char* argv[] = {name, nullptr};
    QApplication qapp(argc, argv);
    SystemClock clock;
    CZpmoniApp app(sim.dir.path.string(), clock);
    app.StartUp([](std::string_view) {});
    app.denyList = {{"198.51.100.9", "255.255.255.255", "bot"}, {"bogus", "255.0.0.0", "typo"}};
    CZpmoniDlg window(app);
    window.Initialize();
    window.show();
    auto logons = [&] { return CountRecord(sim.ServerRecord(), [](auto& o) { return IsPacket(o, "in", 1); }); };
    ASSERT_TRUE(PumpUntil([&] { return logons() == 1; }, 15000)) << "the client did not log on";

    const std::string before = sim.dir.Read("Zpmoni.ini");
    struct stat old{};
    stat(ini.Path().c_str(), &old);
    QDir().mkpath(ZPMONI_SCREENS_DIR);
    QTimer::singleShot(0, [&] {
        auto* sheet = qobject_cast<CSettingsSheet*>(QApplication::activeModalWidget());
        ASSERT_TRUE(sheet);
        for (int i = 0; i < sheet->PageCount(); ++i) {
            ASSERT_TRUE(sheet->SetActivePage(i));
            PumpUntil([] { return false; }, 600);
            const QString file = QStringLiteral(ZPMONI_SCREENS_DIR "/settings-%1.png").arg(i + 1);
            EXPECT_TRUE(sheet->grab().save(file)) << file.toStdString();
        }
        sheet->Buttons()->button(QDialogButtonBox::Ok)->click();
    });
    for (QAction* action : window.findChildren<QAction*>())
        if (action->text() == QString::fromUtf8("モニター設定(&M)"))
            action->trigger();

    struct stat now{};
    stat(ini.Path().c_str(), &now);
    EXPECT_NE(now.st_ino, old.st_ino) << "not written again";
    EXPECT_EQ(sim.dir.Read("Zpmoni.ini"), before);
    EXPECT_TRUE(PumpUntil([&] { return logons() == 2; }, 20000)) << "the client did not log on again";
    window.close();
}

}  // namespace
