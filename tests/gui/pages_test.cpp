// SPDX-License-Identifier: MIT
#include "app/monitor_controller.h"
#include "app/zpmoni_app.h"
#include "app/zpmoni_dlg.h"
#include "capture/connect_dlg.h"
#include "capture/datagram_builder.h"
#include "capture/monitor_dlg.h"
#include "client/chat_dlg.h"
#include "client/zpconnect.h"
#include "gui/list_menu.h"
#include "platform/system_clock.h"
#include "support/temp_folder.h"

#include <QClipboard>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTabWidget>

#include <gtest/gtest.h>

#include <fstream>
#include <optional>

using testing_datagrams::Addr;

namespace {

const QString kZero = QString::fromUtf8("ゼロ");  // sent in Shift_JIS

QStringList ColumnTexts(CListCtrlEx* list, int column)
{
    QStringList texts;
    for (int r = 0; r < list->RowCount(); ++r)
        texts << list->Text(r, column);
    return texts;
}

void ClickHeader(CListCtrlEx& list, int column)
{
    QHeaderView* h = list.header();
    const QPoint pos(h->sectionViewportPosition(column) + h->sectionSize(column) / 2, h->height() / 2);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, pos, h->viewport()->mapToGlobal(pos), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, {});
        QApplication::sendEvent(h->viewport(), &event);
    }
}

// The signed sort column the header's mark shows; 0 without a mark.
int Mark(CListCtrlEx& list)
{
    const QHeaderView* h = list.header();
    const int column = h->sortIndicatorSection() + 1;
    return !h->isSortIndicatorShown() ? 0 : h->sortIndicatorOrder() == Qt::AscendingOrder ? column : -column;
}

class ConnectPageTest : public ::testing::Test {
protected:
    ConnectPageTest() : app(dir.path.string(), clock)
    {
        clock.seconds = 100000;
        app.players.SetResolveNames(false);
        Player("198.51.100.10", 4000, "\x83\x5B\x83\x8D", 100000 - 30);
        Player("198.51.100.2", 4001, "unknown", 100000 - 10);
        PlayerRecord* flying = Player("10.0.0.2", 4002, "Bob", 100000 - 3600);
        flying->flags |= PlayerRecord::kFlying;
        flying->iff = 2;
        page.show();
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
    CConnectDlg page{app.players, app.profile, app.clock};
    CListCtrlEx* list = page.List();
};

TEST_F(ConnectPageTest, HeaderClicksSortRowsAndMarkTogether)
{
    // At first by connection time, longest first, and the mark says so.
    EXPECT_EQ(ColumnTexts(list, 1), (QStringList{"Bob", kZero, "unknown"}));
    EXPECT_EQ(Mark(*list), 1);
    struct Step { int column; int mark; QStringList users; };
    const Step steps[] = {
        {0, -1, {"unknown", kZero, "Bob"}},
        {1, 2, {"Bob", kZero, "unknown"}},   // user names, unknown last
        {1, -2, {"unknown", kZero, "Bob"}},  // descending, unknown first
        {2, 3, {"Bob", "unknown", kZero}},   // 10.0.0.2, 198.51.100.2, 198.51.100.10
        {6, 7, {"Bob", kZero, "unknown"}},   // IFF: the flying one first, empty IFF after
        {0, 1, {"Bob", kZero, "unknown"}},
    };
    for (const Step& s : steps) {
        ClickHeader(*list, s.column);
        EXPECT_EQ(Mark(*list), s.mark);
        EXPECT_EQ(list->SortColumn(), s.mark);
        EXPECT_EQ(ColumnTexts(list, 1), s.users) << "column " << s.column;
    }
}

TEST_F(ConnectPageTest, SelectionFollowsItsPlayersAndTheLastKeepsTheFocus)
{
    list->SelectRows({2, 1});  // unknown, then the Shift_JIS name
    ClickHeader(*list, 1);
    ClickHeader(*list, 1);  // now unknown, the Shift_JIS name, Bob
    EXPECT_EQ(list->SelectedRows(), (QList<int>{0, 1}));
    EXPECT_EQ(list->currentIndex().row(), 1);
    page.CopyHostName();
    EXPECT_EQ(QApplication::clipboard()->text(), "198.51.100.2");
}

TEST_F(ConnectPageTest, RefreshedOnlyWhenShownAndDeleteFreesTheRecord)
{
    page.hide();
    const int slot = list->RowData(0);
    app.players.Clear(app.players.Slot(list->RowData(1)));
    page.Refresh();
    EXPECT_EQ(list->RowCount(), 3);
    page.show();  // showing refreshes at once
    ASSERT_EQ(list->RowCount(), 2);
    list->SelectRows({0});
    page.DeleteSelected();
    EXPECT_EQ(list->RowCount(), 1);
    EXPECT_FALSE(app.players.Slot(slot).Online());
    EXPECT_EQ(app.players.Slot(slot).userName.View(), "unknown");
}

TEST(MonitorPageTest, TrimsToListLineAndFollowsOnlyAtTheEnd)
{
    TempFolder dir;
    ProfileStore store(dir.File("Zpmoni.ini"));
    int listLine = 200;
    CMonitorDlg page(store, listLine);
    page.resize(400, 200);
    page.show();
    CListCtrlEx* list = page.List();
    auto append = [&](const std::string& user) { page.AppendRow({"00:00:00", user, "198.51.100.2", "1", "", "", "", ""}); };
    for (int i = 0; i < 201; ++i)
        append("user" + std::to_string(i));
    EXPECT_EQ(list->RowCount(), 200);
    EXPECT_EQ(list->Text(0, 1), "user1");
    EXPECT_EQ(list->Text(199, 1), "user200");
    EXPECT_TRUE(list->AtEnd());
    list->verticalScrollBar()->setValue(0);  // scrolled up to read: new rows do not move the view
    append("late");
    EXPECT_EQ(list->verticalScrollBar()->value(), 0);
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
    append("later");
    EXPECT_TRUE(list->AtEnd());
    // Arrival order, marked as column 0 ascending; a click moves only the mark.
    EXPECT_EQ(Mark(*list), 1);
    ClickHeader(*list, 0);
    EXPECT_EQ(Mark(*list), -1);
    EXPECT_EQ(list->Text(199, 1), "later");
}

TEST(ChatPageTest, PlainLinesEmptiedNearTheLimitAndTheMenuAtTheClick)
{
    CChatDlg page(QStringLiteral("/tmp"), nullptr, 260);
    page.AppendChatLine("(amy)<b>x</b>");
    page.AppendChatLine("(bob)hi");
    EXPECT_EQ(page.Text(), "(amy)<b>x</b>\n(bob)hi");
    page.AppendChatLine("(amy)" + std::string(60, 'z'));
    page.AppendChatLine("(bob)fresh");
    EXPECT_EQ(page.Text(), "(bob)fresh");

    page.setGeometry(100, 100, 300, 200);
    page.show();
    QWidget* view = page.findChild<QPlainTextEdit*>()->viewport();
    QPoint menuAt;
    QTimer::singleShot(0, [&] {
        menuAt = QApplication::activePopupWidget()->pos();
        QApplication::activePopupWidget()->close();
    });
    const QPoint at(40, 30);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, view->mapToGlobal(at));
    QApplication::sendEvent(view, &event);
    EXPECT_EQ(menuAt, view->mapToGlobal(at));
}

TEST(TimerTest, ClientTimersArePrecise)
{
    CZpconnect client;
    QList<int> periods;
    for (QTimer* timer : client.findChildren<QTimer*>()) {
        EXPECT_EQ(timer->timerType(), Qt::PreciseTimer);
        periods << timer->interval();
    }
    std::sort(periods.begin(), periods.end());
    EXPECT_EQ(periods, (QList<int>{6000, 30000}));
}

class MainWindowTest : public ::testing::Test {
protected:
    void Start()
    {
        app.StartUp([](std::string_view) {});
        window.emplace(app);
        window->Initialize();
        window->show();
        window->Controller().UpdateStatus();
    }
    TempFolder dir;
    SystemClock clock;
    CZpmoniApp app{dir.path.string(), clock};
    std::optional<CZpmoniDlg> window;
};

TEST_F(MainWindowTest, CaptionTabsKeysAndSettingsInTheirOrder)
{
    std::ofstream(dir.File("Zpmoni.ini")) << "[Position]\nLeft=-5000\nTop=40\n";
    Start();
    // As stored, without a check against the screen; the size is the outer one.
    EXPECT_EQ(window->frameGeometry(), QRect(-5000, 40, 488, 329));
    EXPECT_NE(window->size(), QSize(488, 329));
    EXPECT_EQ(window->windowTitle(), "ZEPHRINE Server Monitor  FLYING 0 ONLINE 0   UP 0.0kB/s DOWN 0.0kB/s");
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_TRUE(QFile::exists(":/zpmoni/help.html"));
    const QList<QTimer*> timers = window->Controller().findChildren<QTimer*>();
    ASSERT_EQ(timers.size(), 1);
    EXPECT_EQ(timers[0]->timerType(), Qt::PreciseTimer);

    QTabWidget* tabs = window->Tabs();
    EXPECT_EQ(tabs->tabText(0) + tabs->tabText(1) + tabs->tabText(2), QString::fromUtf8("接続状況ログチャット"));
    for (int tab : {1, 0}) {  // the page's list takes the keys, wherever the focus was
        tabs->tabBar()->setFocus();
        tabs->setCurrentIndex(tab);
        EXPECT_EQ(window->focusWidget(), tab == 0 ? window->ConnectPage()->List() : window->MonitorPage()->List());
    }
    for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(&*window, &press);
        QApplication::sendEvent(window->ConnectPage()->List(), &press);
        EXPECT_TRUE(window->isVisible()) << key;
    }
    PlayerRecord* r = app.players.Find(Addr("198.51.100.2"), 4000, true);
    r->userName = "<b>x</b>";
    window->Controller().Events().LogonEntry(clock.Now(), *r);
    ASSERT_EQ(window->MonitorPage()->List()->RowCount(), 1);
    EXPECT_EQ(window->MonitorPage()->List()->Text(0, 1), "<b>x</b>");

    window->resize(520, 310);
    const QRect outer = window->frameGeometry();
    window->close();
    const std::string ini = dir.Read("Zpmoni.ini");
    EXPECT_NE(ini.find("Width=" + std::to_string(outer.width()) + "\nHeight=" + std::to_string(outer.height())),
              std::string::npos);
    size_t at = 0;
    for (const char* line : {"[Position]", "[ZpmoniDlg]", "Glimit=0", "[MonitorDlg]\nListCtrl=", "ListLine=200",
                             "[ConnectDlg]\nListCtrl=", "[Zpconnect]"}) {
        at = ini.find(line, at);
        EXPECT_NE(at, std::string::npos) << line << " in order in\n" << ini;
    }
}

TEST_F(MainWindowTest, TrayClickRestoresAndTheTipIsTheStatusLine)
{
    Start();
    auto* tray = window->findChild<QSystemTrayIcon*>();
    ASSERT_NE(tray, nullptr);
    for (auto why : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick}) {
        tray->show();  // as a minimise leaves it; this platform has no tray to minimise to
        window->hide();
        window->Controller().UpdateStatus();  // the line as before: the tip follows anyway
        EXPECT_EQ(tray->toolTip(), window->StatusLine());
        emit tray->activated(why);
        EXPECT_TRUE(window->isVisible()) << why;
        EXPECT_FALSE(tray->isVisible()) << why;
    }
}

}  // namespace
