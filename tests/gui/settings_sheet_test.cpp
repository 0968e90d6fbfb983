// SPDX-License-Identifier: MIT
#include "access/ipfilter_page.h"
#include "app/monitor_controller.h"
#include "app/zpmoni_app.h"
#include "app/zpmoni_dlg.h"
#include "base/ipv4_text.h"
#include "capture/known_aircraft.h"
#include "client/glimit_page.h"
#include "client/schedule_page.h"
#include "platform/directory_listing.h"
#include "platform/system_clock.h"
#include "support/temp_folder.h"
#include "ui/bootconf_page.h"
#include "ui/packlist_page.h"
#include "ui/settings_sheet.h"

#include <QtEndian>
#include <QtWidgets>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// Answers every message box that opens while it lives, keeping their texts.
struct Messages {
    QStringList texts;
    QTimer timer;
    Messages()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts << box->text();
                box->button(box->button(QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::Cancel)->click();
            }
        });
        timer.start(5);
    }
};

void PumpUntil(const std::function<bool()>& done, int ms = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

template <typename W = QLineEdit>
W* Find(const QWidget& page, const char* name)
{
    return page.findChild<W*>(QString::fromLatin1(name));
}

const QString kIntRange = QStringLiteral("Please enter an integer between %1 and %2.");

TEST(SettingsPagesTest, StartUpPageChecksItsRangesAndInterfaces)
{
    struct Case {
        bool addresses;
        int32_t interfaceNumber, readBack;  // stored, then as read back (the opening's counts)
        const char *control, *text;
        bool chooseLoopback, accepted;
        QStringList messages;  // at opening, on choosing, on leaving
    };
    const QString index = kIntRange.arg(0).arg(4), loopback = QString::fromUtf8("ループバックIPアドレスは指定できません");
    const Case cases[] = {
        {true, 0, 0, "port", "65535", false, true, {}},
        {true, -5, 0, "port", "65536", false, false, {kIntRange.arg(0).arg(65535)}},
        {true, 1, 1, "closeSeconds", "0.001", false, true, {}},
        {true, 0, 0, "closeSeconds", "0.0005", false, false, {"Please enter a number between 0.001 and 2000000."}},
        {true, 3, 3, "port", "1", false, false, {index, index}},
        {true, 3, 0, "port", "1", true, true, {index, loopback}},
        {false, 0, 0, "port", "1", false, true, {}},
    };
    for (const Case& c : cases) {
        BootconfValues v{.folderPath = "\x83\x65st", .port = 7915, .closeErrorDialog = 1, .exeType = 7,
                         .interfaceNumber = c.interfaceNumber, .closeSeconds = 0.8, .cheatCheck = 5};
        CBootconfPage page(v, c.addresses ? std::vector{qToBigEndian(0xC0A80105u), qToBigEndian(0x7F000001u)}
                                          : std::vector<uint32_t>{});
        Messages messages;
        page.Activate();
        QApplication::processEvents();
        auto* interfaces = Find<QComboBox>(page, "interfaces");
        EXPECT_EQ(interfaces->itemText(interfaces->count() - 1), c.addresses ? "127.0.0.1" : "IP address not found");
        if (c.chooseLoopback)
            emit interfaces->activated(1);
        Find(page, c.control)->setText(QString::fromLatin1(c.text));
        Find<QCheckBox>(page, "closeErrorDialog")->setChecked(false);
        EXPECT_FALSE(Find(page, "closeSeconds")->isEnabled());
        EXPECT_EQ(page.OnKillActive(), c.accepted);
        EXPECT_EQ(messages.texts, c.messages) << c.control << " " << c.text;
        EXPECT_EQ(page.Values().folderPath, v.folderPath);  // not UTF-8, shown, kept
        EXPECT_EQ(page.Values().exeType, 7);               // no button chosen
        EXPECT_EQ(page.Values().interfaceNumber, c.readBack);
        EXPECT_EQ(page.Values().cheatCheck, c.readBack == 3 ? 5 : 1);  // hidden, exchanged all the same
        EXPECT_TRUE(Find<QCheckBox>(page, "cheatCheck")->isHidden());
    }
}

TEST(SettingsPagesTest, SchedulePeriodsFollowTheirBoxesAndStayInRange)
{
    ScheduleValues v{{1, 0, 1, 0, 0}, {1, 600, 5, 5, 5}, "3:05\n21:30\n", ""};
    CSchedulePage page(v);
    page.Activate();
    EXPECT_EQ(Find<QPlainTextEdit>(page, "restartTimes")->toPlainText(), "3:05\n21:30\n");
    EXPECT_TRUE(Find(page, "minutes0")->isEnabled());
    EXPECT_FALSE(Find(page, "minutes1")->isEnabled());
    Find<QCheckBox>(page, "enabled1")->setChecked(true);
    EXPECT_TRUE(Find(page, "minutes1")->isEnabled());
    Messages messages;
    for (auto [text, accepted] : std::vector<std::pair<const char*, bool>>{{"0", false}, {"35791395", false},
                                                                          {"x", false}, {"35791394", true}}) {
        Find(page, "minutes3")->setText(QString::fromLatin1(text));
        EXPECT_EQ(page.OnKillActive(), accepted) << text;
    }
    EXPECT_EQ(messages.texts, QStringList(3, kIntRange.arg(1).arg(35791394)));
    EXPECT_EQ(page.Values().minutes[3], 35791394);
    EXPECT_EQ(page.Values().enabled[1], 1);
}

TEST(SettingsPagesTest, DenyListPageKeepsWhatItCannotApply)
{
    const DenyList given{{"0.0.0.0", "255.255.255.255", "zero"}, {"10.0.0.1", "255.255.255.255", "a"},
                         {"bogus", "255.0.0.0", "b"}, {"255.255.255.255", "255.255.255.255", ""}};
    CIpfilterPage page(given);
    page.Activate();
    auto* rows = Find<QTreeWidget>(page, "rows");
    ASSERT_EQ(rows->topLevelItemCount(), 4);
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(rows->topLevelItem(r)->toolTip(0).isEmpty(), r == 1) << r;
    EXPECT_EQ(page.List(), given);

    Messages messages;
    for (auto [mask, accepted] : std::vector<std::pair<const char*, bool>>{
             {"255.255.254.0", true}, {"0.0.0.0", true}, {"255.0.255.0", false}, {"0.255.255.255", false}}) {
        Find(page, "address")->setText("198.51.100.7");
        Find(page, "mask")->setText(mask);
        Find<QPushButton>(page, "add")->click();
        EXPECT_EQ(Find(page, "mask")->text(), accepted ? "255.255.255.255" : mask);
    }
    EXPECT_EQ(messages.texts, QStringList(2, "サブネットマスクが不正です"));
    ASSERT_EQ(rows->topLevelItemCount(), 6);
    EXPECT_EQ(page.List()[5], (DenyEntry{"198.51.100.7", "0.0.0.0", ""}));

    rows->topLevelItem(2)->setSelected(true);
    EXPECT_EQ(Find(page, "address")->text(), "255.255.255.255");  // "bogus" reads as no address
    rows->topLevelItem(4)->setSelected(true);
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(rows, &del);
    ASSERT_EQ(rows->topLevelItemCount(), 4);
    EXPECT_TRUE(rows->topLevelItem(3)->isSelected());
    EXPECT_EQ(Find(page, "mask")->text(), "0.0.0.0");
    rows->clearSelection();
    EXPECT_EQ(Find(page, "address")->text(), "0.0.0.0");
}

TEST(SettingsPagesTest, GLimitPageShowsTheMagnitudeAndGreysItsEdits)
{
    const GlimitValues given{0, -10.25, 12.345, 1000, 20080220};
    CGlimitPage hidden(given);
    EXPECT_EQ(hidden.Values().negative, -10.25);
    CGlimitPage page(given);
    page.Activate();
    EXPECT_EQ(Find(page, "negative")->text(), "10.25");
    EXPECT_FALSE(Find(page, "version")->isEnabled());
    Find<QCheckBox>(page, "enable")->setChecked(true);
    EXPECT_TRUE(Find(page, "negative")->isEnabled());
    Messages messages;
    Find(page, "positive")->setText("300.5");
    EXPECT_FALSE(page.OnKillActive());
    Find(page, "positive")->setText("300");
    ASSERT_TRUE(page.OnKillActive());
    EXPECT_EQ(messages.texts, QStringList{"Please enter a number between 0 and 300."});
    EXPECT_EQ(page.Values().negative, -10.25);
    EXPECT_EQ(page.Values().enable, 1);
}

TEST(SettingsPagesTest, PackListBuildRunsBesideTheSheet)
{
    TempFolder dir;
    dir.Write("lists.txt", "");
    std::filesystem::create_directories(dir.path / "sim/Aircraft");
    dir.Write("sim/Aircraft/a1.dat", "IDENTIFY A1\n");
    for (int i = 0; i < 305; ++i)  // beyond 300 list files
        dir.Write("sim/Aircraft/air" + std::to_string(100 + i) + ".lst", "aircraft\\A1.DAT x\n");
    CSettingsSheet sheet(nullptr);
    auto* start = new CBootconfPage({.folderPath = dir.File("sim")}, {});
    auto* page = new CPacklistPage("Packlist.txt", *start, std::make_unique<KnownAircraft>(), SystemDirectoryListing());
    page->askOutput = [&](QWidget*) { return QString::fromStdString(dir.File("lists.txt")); };
    sheet.AddPage(start);
    sheet.AddPage(page);
    ASSERT_TRUE(sheet.SetActivePage(1));
    QPushButton* ok = sheet.Buttons()->button(QDialogButtonBox::Ok);
    Messages messages;
    for (const QString& expected : {QString::fromUtf8("規定のパック名リストに設定しますか?"), QString()}) {
        messages.texts.clear();
        page->OnBuildList();
        EXPECT_FALSE(ok->isEnabled());
        PumpUntil([&] { return !page->Building(); });
        EXPECT_TRUE(ok->isEnabled());
        EXPECT_EQ(messages.texts, expected.isEmpty() ? QStringList{} : QStringList{expected});
        EXPECT_EQ(page->PackFile(), dir.File("lists.txt"));  // second time the same: no question
        EXPECT_TRUE(Find<QPlainTextEdit>(*page, "output")->toPlainText().endsWith("air404.lst\nDone"));
    }
    const std::string lists = dir.Read("lists.txt");
    EXPECT_EQ(std::count(lists.begin(), lists.end(), '\n'), 915);  // written once, found the second time
    page->OnBuildList();  // once more, and the sheet closed meanwhile
    sheet.reject();
    EXPECT_FALSE(page->Building());
    PumpUntil([] { return false; }, 300);
    EXPECT_TRUE(messages.texts.isEmpty());
}

TEST(SettingsPagesTest, CancelChangesNothingAndOkTakesEverythingOver)
{
    for (const bool confirm : {false, true}) {
        TempFolder dir;
        dir.Write("Zpmoni.ini", "[ProgramData]\nHandleName=pilot\n");
        struct stat before{};
        stat(dir.File("Zpmoni.ini").c_str(), &before);
        SystemClock clock;
        CZpmoniApp app(dir.path.string(), clock);
        app.StartUp([](std::string_view) {});
        CZpmoniDlg window(app);
        window.Initialize();
        QTimer::singleShot(0, [&] {
            auto* sheet = qobject_cast<CSettingsSheet*>(QApplication::activeModalWidget());
            ASSERT_TRUE(sheet);
            auto page = [&](int i) -> QWidget& {
                EXPECT_TRUE(sheet->SetActivePage(i));
                return *sheet->Page(i);
            };
            Find(page(0), "handleName")->setText("renamed");
            Find(page(1), "minutes0")->setText("2");
            Find(page(2), "packFile")->setText("other.txt");
            Find<QPushButton>(page(3), "add")->click();
            Find<QCheckBox>(page(4), "enable")->setChecked(true);
            sheet->Buttons()->button(confirm ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
        });
        for (QAction* action : window.findChildren<QAction*>())
            if (action->text() == QString::fromUtf8("モニター設定(&M)"))
                action->trigger();
        struct stat after{};
        stat(dir.File("Zpmoni.ini").c_str(), &after);
        EXPECT_EQ(after.st_mtim.tv_nsec == before.st_mtim.tv_nsec && after.st_ino == before.st_ino, !confirm);
        EXPECT_EQ(app.settings.handleName, confirm ? "renamed" : "pilot");
        EXPECT_EQ(app.settings.rebootIntervalSec, confirm ? 120 : 36000);
        EXPECT_EQ(app.settings.packFile, confirm ? "other.txt" : "Packlist.txt");
        EXPECT_EQ(app.denyList.size(), confirm ? 1u : 0u);
        EXPECT_EQ(window.Controller().glimit, confirm ? 1 : 0);
        EXPECT_EQ(dir.Read("Zpmoni.ini").find("HandleName=renamed") != std::string::npos, confirm);
    }
}

}  // namespace
