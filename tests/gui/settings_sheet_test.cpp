// SPDX-License-Identifier: MIT
#include "access/deny_list_page.h"
#include "base/ipv4_address.h"
#include "app/monitor_controller.h"
#include "packlist/known_aircraft.h"
#include "client/glimit_page.h"
#include "server/schedule_page.h"
#include "platform/directory_listing.h"
#include "support/sheet_driver.h"
#include "support/temp_folder.h"
#include "server/server_start_page.h"
#include "packlist/pack_list_page.h"

#include <QTcpServer>

using namespace zpmoni;

namespace {

// Answers every message box that opens while it lives with OK, keeping their texts.
struct Messages {
    QStringList texts;
    QTimer timer;
    Messages()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                texts << box->text(), box->button(QMessageBox::Ok)->click();
        });
        timer.start(5);
    }
};

// The builder's index, whose loading hangs while `hang` is 1, as a read of a hung file system
// would; after 30 s it gives up and sets 2.
struct HangingIndex final : AircraftIndex {
    std::shared_ptr<std::atomic<int>> hang = std::make_shared<std::atomic<int>>(0);
    KnownAircraft known;
    void Load(std::string_view text) override
    {
        for (int i = 0; *hang == 1; ++i)
            i < 3000 ? void(usleep(10000)) : void(*hang = 2);
        known.Load(text);
    }
    std::optional<std::string> PackOf(std::string_view identifier) override { return known.PackOf(identifier); }
};

const QString kIntRange = QStringLiteral("Please enter an integer between %1 and %2.");

TEST(SettingsPagesTest, StartUpPageChecksItsRangesAndInterfaces)
{
    // The index stored, then as read back (the opening's read-back counts); the messages at opening,
    // on choosing and on leaving.
    struct Case { bool addresses; int32_t interfaceNumber, readBack; const char *control, *text;
                  bool chooseLoopback, accepted; QStringList messages; };
    const QString index = kIntRange.arg(0).arg(4);
    const Case cases[] = {
        {true, 0, 0, "port", "65535", false, true, {}},
        {true, -5, 0, "port", "65536", false, false, {kIntRange.arg(0).arg(65535)}},
        {true, 1, 1, "closeSeconds", "0.001", false, true, {}},
        {true, 0, 0, "closeSeconds", "0.0005", false, false, {"Please enter a number between 0.001 and 2000000."}},
        {true, 3, 3, "port", "1", false, false, {index, index}},
        {true, 3, 0, "port", "1", true, true, {index, "ループバックIPアドレスは指定できません"}},
        {false, 0, 0, "port", "1", false, true, {}},
    };
    for (const Case& c : cases) {
        ServerStartValues v;
        v.closeSeconds = 0.8, v.settings.interfaceNumber = c.interfaceNumber, v.settings.exeType = 7;
        v.settings.folderPath = "\x83\x65st", v.settings.cheatCheck = 5;
        ServerStartPage page(v, c.addresses ? std::vector{qToBigEndian(0xC0A80105u), qToBigEndian(0x7F000001u)}
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
        EXPECT_TRUE(!Find(page, "closeSeconds")->isEnabled() && Find<QCheckBox>(page, "cheatCheck")->isHidden());
        EXPECT_EQ(page.Validate(), c.accepted);
        EXPECT_EQ(messages.texts, c.messages) << c.control << " " << c.text;
        EXPECT_EQ(page.Values().settings.interfaceNumber, c.readBack);
        // The folder's bytes are no UTF-8 and stay; no button is chosen for the type; the cheat
        // warning is hidden and exchanged all the same.
        EXPECT_TRUE(page.Values().settings.folderPath == v.settings.folderPath && page.Values().settings.exeType == 7);
        EXPECT_EQ(page.Values().settings.cheatCheck, c.readBack == 3 ? 5 : 1);
    }
}

TEST(SettingsPagesTest, ScheduleAndGLimitEditsFollowTheirBoxesAndStayInRange)
{
    MonitorSettings settings;
    settings.rebootAtInterval = settings.endurance = 1, settings.rebootIntervalSec = 90;
    SchedulePage schedule((ParseTimeList("3:05|21:30|", settings.schedule), settings));
    schedule.Activate();
    EXPECT_EQ(Find<QPlainTextEdit>(schedule, "restartTimes")->toPlainText(), "3:05\n21:30\n");
    EXPECT_EQ(Find(schedule, "minutes0")->text(), "1");  // 90 s shown as 1 minute
    Find<QPlainTextEdit>(schedule, "reviveTimes")->setPlainText("7:5\r\n25:70");
    EXPECT_FALSE(Find(schedule, "minutes1")->isEnabled());
    Find<QCheckBox>(schedule, "enabled1")->setChecked(true);
    EXPECT_TRUE(Find(schedule, "minutes1")->isEnabled());
    const GlimitValues given{0, -10.25, 12.345, 1000, 20080220};
    EXPECT_EQ(GLimitPage(given).Values().negative, -10.25);  // never shown: the sign stays
    GLimitPage glimit(given);
    glimit.Activate();
    EXPECT_EQ(Find(glimit, "negative")->text(), "10.25");
    EXPECT_FALSE(Find(glimit, "version")->isEnabled());
    Find<QCheckBox>(glimit, "enable")->setChecked(true);
    EXPECT_TRUE(Find(glimit, "version")->isEnabled());

    Messages messages;
    const QString minutes = kIntRange.arg(1).arg(35791394), limit = "Please enter a number between 0 and 300.";
    struct Entry { SettingsPage* page; const char *control, *text; QString message; };
    for (const Entry& e : {Entry{&schedule, "minutes3", "0", minutes}, {&schedule, "minutes3", "35791395", minutes},
                           {&schedule, "minutes3", "35791394", {}}, {&glimit, "positive", "300.5", limit},
                           {&glimit, "positive", "300", {}}}) {
        Find(*e.page, e.control)->setText(e.text);
        EXPECT_EQ(e.page->Validate(), e.message.isEmpty()) << e.text;
    }
    EXPECT_EQ(messages.texts, (QStringList{minutes, minutes, limit}));
    EXPECT_EQ(schedule.Values().interceptInterval, 35791394 * 60);
    EXPECT_TRUE(schedule.Values().rebootIntervalSec == 60 && FormatTimeList(schedule.Values().resetSchedule) == "7:05|2:10|");
    EXPECT_EQ(glimit.Values().negative, -10.25);
}

// The page marks each row by the parse the rules are built from: what a row shows in force is
// what a rule set of that entry alone installs, and nothing else is shown in force.
TEST(SettingsPagesTest, DenyListPageShowsWhatIsInForce)
{
    // `held`: in force as the kernel holds an older list, entries 1 and 3 only.
    struct Case { DenyEntry entry; const char* shown; std::string installed; bool held; };
    const Case cases[] = {
        {{"0.0.0.0", "0.0.0.0", "all"}, "0.0.0.0/0", "0.0.0.0-255.255.255.255", false},
        {{"10.0.0.1", "255.255.255.255", "a"}, "10.0.0.1/32", "10.0.0.1-10.0.0.1", true},
        {{"010.0.0.8", "255.255.255.255", ""}, "10.0.0.8/32", "10.0.0.8-10.0.0.8", true},
        {{"10.9.8.7", "255.0.0.0", ""}, "10.0.0.0/8", "10.0.0.0-10.255.255.255", true},
        {{"10.0.3.9", "255.0.255.0", ""}, "10.0.3.0/255.0.255.0", "10.0.3.0&255.0.255.0", false},
        {{"bogus", "0.0.0.0", "b"}, "適用されません (IPアドレスが不正)", "", false},
        {{"10.0.0.1", "255.255.255.256", ""}, "適用されません (サブネットマスクが不正)", "", false},
        {{"10.0.0.1", "-1", ""}, "適用されません (サブネットマスクが不正)", "", false},
    };
    DenyList given;
    for (const Case& c : cases)
        given.push_back(c.entry);
    const DenyRuleset held("zpmoni_t", {}, {given[1], given[3]});
    DenyListPage page(given, &held);
    page.Activate();
    auto* rows = Find<QTreeWidget>(page, "rows");
    EXPECT_EQ(page.List(), given);
    for (int r = 0; r < static_cast<int>(std::size(cases)); ++r) {
        const Case& c = cases[r];
        const DenyRuleset alone("zpmoni_t", {}, {c.entry});
        std::string installed;
        for (const DenyRuleset::Block& b : alone.Blocks())
            installed += b.first.ToString() + "-" + b.last.ToString();
        for (const DenyRuleset::MaskedRule& m : alone.Rules())
            installed += m.address.ToString() + "&" + m.mask.ToString();
        EXPECT_EQ(installed, c.installed) << r;
        EXPECT_EQ(rows->topLevelItem(r)->text(3),
                  QString::fromUtf8(c.shown) + (installed.empty() || c.held ? "" : " 適用されていません")) << r;
        EXPECT_EQ(rows->topLevelItem(r)->toolTip(0).isEmpty(), c.held) << r;  // marked as not in force
    }

    Messages messages;
    for (auto [mask, accepted] : std::vector<std::pair<const char*, bool>>{
             {"255.255.254.0", true}, {"0.0.0.0", true}, {"255.0.255.0", false}, {"0.255.255.255", false}}) {
        Find(page, "address")->setText("198.51.100.7");
        Find(page, "mask")->setText(mask);
        Find<QPushButton>(page, "add")->click();
        EXPECT_EQ(Find(page, "mask")->text(), accepted ? "255.255.255.255" : mask);
    }
    // A block wider than /8 goes in only once confirmed.
    EXPECT_EQ(messages.texts, (QStringList{QString::fromUtf8("0.0.0.0/0 のすべてのアドレスを拒否します。よろしいですか?"),
                                           "サブネットマスクが不正です", "サブネットマスクが不正です"}));
    ASSERT_EQ(rows->topLevelItemCount(), 10);
    EXPECT_EQ(page.List()[9], (DenyEntry{"198.51.100.7", "0.0.0.0", ""}));

    rows->topLevelItem(6)->setSelected(true);  // with 8 below: two rows go at one press
    rows->topLevelItem(8)->setSelected(true);
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(rows, &del);
    ASSERT_EQ(rows->topLevelItemCount(), 8);
    EXPECT_TRUE(rows->topLevelItem(7)->isSelected());
    EXPECT_EQ(Find(page, "mask")->text(), "0.0.0.0");
    rows->clearSelection();
    EXPECT_EQ(Find(page, "address")->text(), "0.0.0.0");
}

TEST(SettingsPagesTest, PackListBuildRunsBesideTheSheet)
{
    TempFolder dir;
    std::filesystem::create_directories(dir.path / "sim/Aircraft");
    dir.Write("sim/Aircraft/a1.dat", "IDENTIFY A1\n");
    for (int i = 0; i < 305; ++i)  // beyond 300 list files
        dir.Write("sim/Aircraft/air" + std::to_string(100 + i) + ".lst", "aircraft\\A1.DAT x\n");
    SettingsSheet sheet(nullptr);
    ServerStartValues startValues;
    startValues.settings.folderPath = dir.File("sim");
    auto* start = new ServerStartPage(startValues, {});
    auto index = std::make_unique<HangingIndex>();
    const std::shared_ptr<std::atomic<int>> hang = index->hang;
    auto* page = new PackListPage("Packlist.txt", *start, std::move(index), SystemDirectoryListing());
    page->askOutput = [&](QWidget*) { return QString::fromStdString(dir.File("lists.txt")); };
    sheet.AddPage(start);
    sheet.AddPage(page);
    ASSERT_TRUE(sheet.SetActivePage(1));
    QPushButton* ok = sheet.Buttons()->button(QDialogButtonBox::Ok);
    Messages messages;
    for (int run = 0; run < 2; ++run) {
        page->OnBuildList();
        EXPECT_FALSE(ok->isEnabled());
        PumpUntil([&] { return !page->Building(); });
        EXPECT_TRUE(ok->isEnabled());
        EXPECT_TRUE(Find<QPlainTextEdit>(*page, "output")->toPlainText().endsWith("air404.lst\nDone"));
    }
    // Asked once: the second time the file was already the one shown.
    EXPECT_EQ(messages.texts, QStringList{QString::fromUtf8("規定のパック名リストに設定しますか?")});
    EXPECT_EQ(page->PackFile(), dir.File("lists.txt"));
    // Written once, found the second time.
    EXPECT_EQ(dir.Read("lists.txt").size(), 305 * std::string("\nPack=air100\nA1\n").size());
    *hang = 1;
    page->OnBuildList();  // once more, and the sheet closed while the build hangs: the sheet goes on
    sheet.reject();
    EXPECT_FALSE(page->Building());
    EXPECT_EQ(hang->exchange(0), 1);
}

TEST(SettingsPagesTest, CancelChangesNothingAndOkTakesEverythingOver)
{
    QTcpServer peer;  // stands for the server the client logs on to
    ASSERT_TRUE(peer.listen(QHostAddress::LocalHost));
    for (const bool confirm : {false, true}) {
        TempFolder dir;
        const std::string ini = "[ProgramData]\nHandleName=pilot\nPort=" + std::to_string(peer.serverPort()) +
                                "\n[BanGravity]\nMax=9\nMin=-3\n";
        dir.Write("Zpmoni.ini", ini);
        Program program(dir.path.string());
        auto& [clock, app, window] = program;
        WithSheetFromMenu(window, [&](SettingsSheet& sheet) {
            auto page = [&](int i) -> QWidget& { return sheet.SetActivePage(i), *sheet.Page(i); };
            Find(page(0), "handleName")->setText("renamed");
            Find(page(1), "minutes0")->setText("2");
            Find(page(2), "packFile")->setText("other.txt");
            Find<QPushButton>(page(3), "add")->click();
            Find<QCheckBox>(page(4), "enable")->setChecked(true);
            sheet.Buttons()->button(confirm ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
        });
        EXPECT_EQ(dir.Read("Zpmoni.ini") == ini, !confirm);  // the first writing adds every key
        EXPECT_EQ(app.settings.handleName, confirm ? "renamed" : "pilot");
        EXPECT_EQ(*app.publishedSettings.Snapshot(), app.settings);  // what the schedule thread reads
        EXPECT_EQ(app.settings.rebootIntervalSec, confirm ? 120 : 36000);
        EXPECT_EQ(app.settings.packFile, confirm ? "other.txt" : "Packlist.txt");
        EXPECT_EQ(dir.Read("ipfilter.txt"), confirm ? "0.0.0.0\t255.255.255.255\t\n" : "");
        EXPECT_EQ(window.Controller().glimit, confirm ? 1 : 0);
        if (!confirm)
            continue;
        // With the limiter on, the client logs on again at once; from then on, OK without changes
        // writes the same files again.
        EXPECT_TRUE(PumpUntil([&] { return peer.hasPendingConnections(); }));
        const std::string files = dir.Read("Zpmoni.ini") + dir.Read("ipfilter.txt");
        WithSheetFromMenu(window, [](SettingsSheet& s) { s.Buttons()->button(QDialogButtonBox::Ok)->click(); });
        EXPECT_EQ(dir.Read("Zpmoni.ini") + dir.Read("ipfilter.txt"), files);
    }
}

}  // namespace
