// SPDX-License-Identifier: MIT
#include "app/monitor_controller.h"
#include "app/zpmoni_app.h"
#include "app/zpmoni_dlg.h"
#include "capture/connect_dlg.h"
#include "capture/datagram_builder.h"
#include "capture/monitor_dlg.h"
#include "support/temp_folder.h"
#include "client/chat_dlg.h"
#include "ui/list_ctrl_ex.h"
#include "platform/system_clock.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTabWidget>

#include <gtest/gtest.h>

#include <fstream>

using testing_datagrams::Addr;

namespace {

QStringList ColumnTexts(CListCtrlEx* list, int column)
{
    QStringList texts;
    for (int r = 0; r < list->RowCount(); ++r)
        texts << list->Text(r, column);
    return texts;
}

class ConnectPageTest : public ::testing::Test {
protected:
    ConnectPageTest() : app(dir.path.string(), clock)
    {
        clock.seconds = 100000;
        app.players.SetResolveNames(false);
        Player("198.51.100.10", 4000, "carol", 100000 - 30);
        Player("198.51.100.2", 4001, "unknown", 100000 - 10);
        PlayerRecord* flying = Player("10.0.0.2", 4002, "Bob", 100000 - 3600);
        flying->flags |= PlayerRecord::kFlying;
        flying->iff = 2;
        flying->aircraftName = "F-15C";
    }
    PlayerRecord* Player(const char* address, uint16_t port, const char* name, int64_t logon)
    {
        PlayerRecord* r = app.players.Find(Addr(address), port, true);
        r->userName = name;
        r->logonTime = logon;
        return r;
    }
    TempFolder dir;
    ManualClock clock;
    CZpmoniApp app;
};

TEST_F(ConnectPageTest, ColumnClicksSortTheRows)
{
    CConnectDlg page(app.players, app.profile, app.clock);
    page.show();
    page.Refresh();
    // Initially by connection time, longest first.
    EXPECT_EQ(ColumnTexts(page.List(), 1), (QStringList{"Bob", "carol", "unknown"}));
    struct Step {
        int column;
        QStringList users;
    };
    const Step steps[] = {
        {1, {"Bob", "carol", "unknown"}},  // user names, unknown last
        {1, {"unknown", "carol", "Bob"}},  // again: descending, unknown first
        {2, {"Bob", "unknown", "carol"}},  // 10.0.0.2, 198.51.100.2, 198.51.100.10
        {6, {"Bob", "carol", "unknown"}},  // IFF: the flying one first, empty IFF after
        {0, {"Bob", "carol", "unknown"}},  // connection time, longest first
        {0, {"unknown", "carol", "Bob"}},
    };
    for (const Step& s : steps) {
        emit page.List()->columnClicked(s.column);
        EXPECT_EQ(ColumnTexts(page.List(), 1), s.users) << "column " << s.column;
    }
}

TEST_F(ConnectPageTest, SelectionFollowsItsPlayerAcrossOrders)
{
    CConnectDlg page(app.players, app.profile, app.clock);
    page.show();
    page.Refresh();
    const int carolRow = ColumnTexts(page.List(), 1).indexOf("carol");
    page.List()->SelectRows({carolRow});
    emit page.List()->columnClicked(1);
    emit page.List()->columnClicked(1);
    const QList<int> selected = page.List()->SelectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(page.List()->Text(selected[0], 1), "carol");
    page.CopyHostName();
    EXPECT_EQ(QApplication::clipboard()->text(), "198.51.100.10");
}

TEST_F(ConnectPageTest, HiddenPageIsNotRefreshed)
{
    CConnectDlg page(app.players, app.profile, app.clock);
    page.Refresh();
    EXPECT_EQ(page.List()->RowCount(), 0);
    page.show();
    EXPECT_EQ(page.List()->RowCount(), 3);  // showing refreshes at once
}

TEST_F(ConnectPageTest, DeleteFreesTheRecordOfEachSelectedRow)
{
    CConnectDlg page(app.players, app.profile, app.clock);
    page.show();
    page.List()->SelectRows({0});
    const QString user = page.List()->Text(0, 1);
    const int slot = page.List()->RowData(0);
    page.DeleteSelected();
    EXPECT_EQ(page.List()->RowCount(), 2);
    EXPECT_FALSE(app.players.Slot(slot).Online());
    EXPECT_EQ(app.players.Slot(slot).userName.View(), "unknown");
    page.Refresh();
    EXPECT_FALSE(ColumnTexts(page.List(), 1).contains(user));
}

TEST_F(ConnectPageTest, NamesAreShownAsPlainTextAndDecoded)
{
    app.players.Slot(0).userName = "<b>x</b>";
    app.players.Slot(1).userName = "\x83\x5B\x83\x8D";  // Shift_JIS
    CConnectDlg page(app.players, app.profile, app.clock);
    page.show();
    QStringList users = ColumnTexts(page.List(), 1);
    EXPECT_TRUE(users.contains("<b>x</b>"));
    EXPECT_TRUE(users.contains(QString::fromUtf8("ゼロ")));
}

TEST(MonitorPageTest, TrimsToListLineAndFollowsOnlyAtTheEnd)
{
    TempFolder dir;
    ProfileStore store(dir.File("Zpmoni.ini"));
    int listLine = 200;
    CMonitorDlg page(store, listLine);
    page.resize(400, 200);
    page.show();
    for (int i = 0; i < 201; ++i)
        page.AppendRow({"00:00:00", "user" + std::to_string(i), "198.51.100.2", "1", "", "LOGIN",
                        "", ""});
    CListCtrlEx* list = page.List();
    EXPECT_EQ(list->RowCount(), 200);
    EXPECT_EQ(list->Text(0, 1), "user1");
    EXPECT_EQ(list->Text(199, 1), "user200");
    QApplication::processEvents();
    EXPECT_TRUE(list->AtEnd());

    // Scrolled up to read: new rows do not move the view.
    list->verticalScrollBar()->setValue(0);
    page.AppendRow({"00:00:01", "late", "198.51.100.2", "1", "", "LOGOUT", "", ""});
    QApplication::processEvents();
    EXPECT_EQ(list->verticalScrollBar()->value(), 0);
    // At the end again: it follows.
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
    page.AppendRow({"00:00:02", "later", "198.51.100.2", "1", "", "LOGIN", "", ""});
    QApplication::processEvents();
    EXPECT_TRUE(list->AtEnd());
    EXPECT_EQ(list->RowCount(), 200);
}

TEST(ChatPageTest, LinesArePlainAndTheViewEmptiesNearItsLimit)
{
    CChatDlg page(QStringLiteral("/tmp"), nullptr, 260);
    page.AppendChatLine("(amy)<b>x</b>");
    page.AppendChatLine("(bob)hi");
    EXPECT_EQ(page.Text(), "(amy)<b>x</b>\n(bob)hi");
    page.AppendChatLine("(amy)" + std::string(60, 'z'));
    page.AppendChatLine("(bob)fresh");
    EXPECT_EQ(page.Text(), "(bob)fresh");
}

class MainWindowTest : public ::testing::Test {
protected:
    TempFolder dir;
    SystemClock clock;
};

TEST_F(MainWindowTest, StatusLineInTheCaptionAndKeysThatCloseNothing)
{
    std::ofstream(dir.File("Zpmoni.ini")) << "[Position]\nLeft=-5000\nTop=40\nWidth=500\nHeight=300\n";
    CZpmoniApp app(dir.path.string(), clock);
    app.StartUp([](std::string_view) {});
    {
        CZpmoniDlg window(app);
        window.Initialize();
        window.show();
        EXPECT_EQ(window.x(), -5000);  // as stored, no check against the screen
        window.Controller().UpdateStatus();
        EXPECT_EQ(window.windowTitle(),
                  "ZEPHRINE Server Monitor  FLYING 0 ONLINE 0   UP 0.0kB/s DOWN 0.0kB/s");
        EXPECT_FALSE(window.windowIcon().isNull());
        EXPECT_TRUE(QFile::exists(":/zpmoni/help.html"));
        QStringList tabs;
        for (int i = 0; i < window.Tabs()->count(); ++i)
            tabs << window.Tabs()->tabText(i);
        EXPECT_EQ(tabs, (QStringList{"接続状況", "ログ", "チャット"}));

        for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QApplication::sendEvent(&window, &press);
            QApplication::sendEvent(window.ConnectPage()->List(), &press);
            EXPECT_TRUE(window.isVisible()) << key;
        }
        window.resize(520, 310);
        window.close();
    }
    std::string ini = dir.Read("Zpmoni.ini");
    EXPECT_NE(ini.find("Left=-5000"), std::string::npos);
    EXPECT_NE(ini.find("Width=520"), std::string::npos);
    EXPECT_NE(ini.find("Glimit=0"), std::string::npos);
    EXPECT_NE(ini.find("[ConnectDlg]\nListCtrl="), std::string::npos);
    EXPECT_NE(ini.find("[MonitorDlg]\nListCtrl="), std::string::npos);
}

TEST_F(MainWindowTest, EventsReachTheLogTab)
{
    CZpmoniApp app(dir.path.string(), clock);
    app.StartUp([](std::string_view) {});
    CZpmoniDlg window(app);
    window.Initialize();
    PlayerRecord* r = app.players.Find(Addr("198.51.100.2"), 4000, true);
    r->userName = "<b>x</b>";
    window.Controller().Events().LogonEntry(clock.Now(), *r);
    ASSERT_EQ(window.MonitorPage()->List()->RowCount(), 1);
    EXPECT_EQ(window.MonitorPage()->List()->Text(0, 1), "<b>x</b>");
    EXPECT_EQ(window.MonitorPage()->List()->Text(0, 5), "LOGIN");
}

}  // namespace
