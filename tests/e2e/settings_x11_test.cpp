// SPDX-License-Identifier: MIT
// The settings sheet opened from the menu under a virtual X server: each page photographed, then
// OK without changes rewrites the settings file and the deny list as they were and the client logs on again.
#include "e2e/zpsim_harness.h"
#include "support/sheet_driver.h"

#include <filesystem>

TEST(SettingsX11Test, OkWithoutChangesRewritesTheSettingsAndLogsOnAgain)
{
    if (access("/usr/bin/Xvfb", X_OK) != 0)
        GTEST_SKIP() << "Xvfb is not installed";
    ZpsimHarness sim;
    sim.StartServer();
    // Other runs use displays of their own: the first one without a socket or a lock is ours.
    int n = 70;
    while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)) ||
           std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock"))
        ++n;
    const std::string display = ":" + std::to_string(n), socket = "/tmp/.X11-unix/X" + std::to_string(n);
    ChildProcess xvfb({"/usr/bin/Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, sim.dir.File("x"));
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(socket); }, std::chrono::seconds(10)));

    sim.dir.Write("Zpmoni.ini", "[ProgramData]\nPort=" + std::to_string(sim.port) +
                                    "\n[ZpmoniDlg]\nGlimit=1\n[BanGravity]\nMax=9\nMin=-3\nInterval=1000\n");
    setenv("DISPLAY", display.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    int argc = 1;
    char* argv[] = {const_cast<char*>("zpmoni"), nullptr};
    QApplication qapp(argc, argv);
    Program program(sim.dir.path.string());
    program.app.denyList = {{"198.51.100.9", "255.255.255.255", "bot"}, {"bogus", "255.0.0.0", "typo"}};  // for the photo
    CZpmoniDlg& window = program.window;
    window.show();
    auto logons = [&] { return CountRecord(sim.ServerRecord(), [](auto& o) { return IsPacket(o, "in", 1); }); };
    ASSERT_TRUE(PumpUntil([&] { return logons() == 1; }, 15000)) << "the client did not log on";
    // The first confirmation writes every key of the sheet; from then on the file stays as it is.
    WithSheetFromMenu(window, [](CSettingsSheet& sheet) { sheet.Buttons()->button(QDialogButtonBox::Ok)->click(); });
    ASSERT_TRUE(PumpUntil([&] { return logons() == 2; }, 20000)) << "the client did not log on again";

    const std::string before = sim.dir.Read("Zpmoni.ini"), denyBefore = sim.dir.Read("ipfilter.txt");
    EXPECT_NE(denyBefore.find("bogus\t255.0.0.0\ttypo"), std::string::npos) << denyBefore;
    // A replaced file may get its old inode number back: the write time tells.
    auto written = [&](const char* name) { return std::filesystem::last_write_time(sim.dir.File(name)); };
    const auto old = written("Zpmoni.ini"), oldDeny = written("ipfilter.txt");
    QDir().mkpath(ZPMONI_SCREENS_DIR);
    WithSheetFromMenu(window, [](CSettingsSheet& sheet) {
        for (int i = 0; i < sheet.PageCount(); ++i) {
            EXPECT_TRUE(sheet.SetActivePage(i));
            PumpUntil([] { return false; }, 600);
            const QString file = QStringLiteral(ZPMONI_SCREENS_DIR "/settings-%1.png").arg(i + 1);
            EXPECT_TRUE(sheet.grab().save(file)) << file.toStdString();
        }
        sheet.Buttons()->button(QDialogButtonBox::Ok)->click();
    });

    EXPECT_NE(written("Zpmoni.ini"), old) << "not written again";
    EXPECT_EQ(sim.dir.Read("Zpmoni.ini"), before);
    EXPECT_NE(written("ipfilter.txt"), oldDeny) << "ipfilter.txt not written again";
    EXPECT_EQ(sim.dir.Read("ipfilter.txt"), denyBefore);
    EXPECT_TRUE(PumpUntil([&] { return logons() == 3; }, 20000)) << "the client did not log on again";
}
