// SPDX-License-Identifier: MIT
// The windows on the offscreen platform: the list control, the pages, the main window.
#include "app/monitor_controller.h"
#include "capture/connections_page.h"
#include "capture/datagram_builder.h"
#include "capture/event_list_page.h"
#include "capture/connections_model.h"
#include "client/chat_page.h"
#include "support/netns.h"
#include "support/sheet_driver.h"
#include "support/temp_folder.h"
#include "ui/report_list_view.h"
#include "ui/list_state.h"

using namespace zpmoni;


namespace {

QStringList ColumnTexts(ReportListView* list, int column)
{
    QStringList texts;
    for (int r = 0; r < list->RowCount(); ++r)
        texts << list->Text(r, column);
    return texts;
}

void ClickHeader(ReportListView& list, int column)
{
    const QPoint at(list.header()->sectionViewportPosition(column) + 5, 5);
    for (auto [type, buttons] :
         {std::pair{QEvent::MouseButtonPress, Qt::LeftButton}, {QEvent::MouseButtonRelease, Qt::NoButton}}) {
        QMouseEvent event(type, at, list.header()->viewport()->mapToGlobal(at), Qt::LeftButton, buttons, {});
        QApplication::sendEvent(list.header()->viewport(), &event);
    }
}

// The signed sort column the header's mark shows; 0 without a mark.
int Mark(ReportListView& list)
{
    const int column = list.header()->isSortIndicatorShown() ? list.header()->sortIndicatorSection() + 1 : 0;
    return list.header()->sortIndicatorOrder() == Qt::AscendingOrder ? column : -column;
}

QPoint menuAt;  // where the last menu opened

// Right-clicks `target` at `at`; gives the entries of the menu that opened, one
// "title:checked:enabled" each, and triggers the entry titled `choose`, if any.
QStringList RightClick(QWidget* target, const QPoint& at, const QString& choose = {})
{
    QStringList seen;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        menuAt = menu->pos();
        for (QAction* action : menu->actions()) {
            seen << QStringLiteral("%1:%2:%3").arg(action->text()).arg(action->isChecked()).arg(action->isEnabled());
            if (action->text() == choose)
                action->trigger();
        }
        menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, target->mapToGlobal(at));
    QApplication::sendEvent(target, &event);
    QApplication::processEvents();  // no menu: let the timer run and find none
    return seen;
}

// The event list's list: every column hideable but column 0 (never) and the user name.
struct ReportListViewTest : ::testing::Test {
    ReportListViewTest() { page.setGeometry(0, 0, 900, 300), page.show(); }
    QPoint Cell(int row, int column) const { return list->visualRect(list->model()->index(row, column)).center(); }
    QString Title(int column) const { return list->model()->headerData(column, Qt::Horizontal).toString(); }
    QStringList HeaderMenu(int choose = -1) { return RightClick(list->header()->viewport(), {5, 5}, Title(choose)); }
    TempFolder dir;
    ProfileStore store{dir.File("Zpmoni.ini")};
    int listLine = 200;
    EventListPage page{store, listLine};
    ReportListView* list = page.List();
};

TEST_F(ReportListViewTest, HeaderMenuHidesAndShowsAllButColumnZeroAndTheKeyColumn)
{
    QStandardItemModel titled(0, 9);  // the log's columns and one more
    for (int c = 0; c < 9; ++c)
        titled.setHorizontalHeaderItem(c, new QStandardItem(c < 8 ? Title(c) : QStringLiteral("R&D")));
    list = ReportListView::FillPage(new QWidget(&page), &titled, {}, 1);
    list->SetColumnVisible(4, false);
    QStringList expected;
    for (int c = 0; c < 9; ++c)  // an ampersand is no mnemonic
        expected << QStringLiteral("%1:%2:%3").arg(Title(c).replace("&", "&&")).arg(c != 4).arg(c > 1);
    EXPECT_EQ(HeaderMenu(), expected);
    HeaderMenu(7);
    EXPECT_FALSE(list->IsColumnVisible(7));
    HeaderMenu(7);
    EXPECT_TRUE(list->IsColumnVisible(7));
    list->SetColumnVisible(0, false);
    EXPECT_TRUE(list->IsColumnVisible(0));
    // Disabling shows the column first; with nothing left to hide there is no menu.
    list->SetColumnVisible(8, false);
    for (int c = 2; c < 9; ++c)
        list->EnableColumnHiding(c, false);
    EXPECT_TRUE(list->IsColumnVisible(8));
    EXPECT_TRUE(HeaderMenu().isEmpty());
}

TEST_F(ReportListViewTest, OnlyTheSortColumnIsPaintedOnTheTint)
{
    auto paint = [&](const QColor& base, int sort, int column) {
        QPalette palette = list->palette();
        palette.setColor(QPalette::Base, base);
        list->setPalette(palette);
        list->SetSortColumn(sort);
        return list->viewport()->grab().toImage().pixelColor(Cell(0, column));
    };
    const QColor base(100, 200, 240), tint(110, 220, 255);
    list->EnableSortTint(true);
    page.AppendRow({});  // no text where the pixels are read
    EXPECT_EQ(paint(base, 3, 2), tint);
    EXPECT_EQ(paint(base, 3, 0), base);
    EXPECT_EQ(paint(Qt::white, -6, 5), QColor(247, 247, 247));  // a new background, a new tint
    list->EnableSortTint(false);
    EXPECT_EQ(paint(Qt::white, -6, 5), QColor(Qt::white));
    list->EnableSortArrow(false);
    EXPECT_FALSE(list->header()->isSortIndicatorShown());
    ClickHeader(*list, 3);  // the sort follows without the arrow
    EXPECT_EQ(list->SortColumn(), 4);
}

TEST_F(ReportListViewTest, StateRoundTripsThroughTheSettingsFile)
{
    list->SetSortColumn(-3);
    list->header()->resizeSection(2, 150);
    list->header()->resizeSection(5, 77);
    list->SetColumnVisible(5, false);
    list->header()->resizeSection(5, 0);  // hidden: its kept width counts
    list->header()->moveSection(7, 0);
    page.SaveState(store);
    EXPECT_FALSE(ReportListView().SaveState(store, "Empty", "ListCtrl"));
    ReportListView* again = (new EventListPage(store, listLine, &page))->List();
    EXPECT_EQ(Mark(*again), -3);
    EXPECT_FALSE(again->IsColumnVisible(5));
    EXPECT_EQ(again->ColumnWidth(2), 150);
    EXPECT_EQ(again->header()->logicalIndex(0), 7);
    again->SetColumnVisible(5, true);
    EXPECT_EQ(again->header()->sectionSize(5), 77);

    // Column 1's display order is out of range: the columns after it and the order stay.
    ListState bad{-2, {{true, 80, 1}, {true, 90, 8}, {false, 99, 0}, {}, {}, {}, {}, {}}};
    store.WriteBytes("MonitorDlg", "ListCtrl", EncodeListState(bad));
    ReportListView* partly = (new EventListPage(store, listLine, &page))->List();
    EXPECT_EQ(partly->SortColumn(), -2);
    EXPECT_EQ(QList<int>({partly->ColumnWidth(0), partly->ColumnWidth(1), partly->ColumnWidth(2)}),
              QList<int>({80, 90, 100}));
    EXPECT_EQ(partly->header()->visualIndex(0), 0);
    QStandardItemModel nine(0, 9);  // another column count: nothing changes
    ReportListView* other = ReportListView::FillPage(new QWidget(&page), &nine, {}, 1);
    other->RestoreState(store, "MonitorDlg", "ListCtrl");
    EXPECT_EQ(other->SortColumn(), 1);
}

TEST_F(ReportListViewTest, CutOffTextShowsWholeAndPlain)
{
    list->setFont(QFont(QStringLiteral("Sans"), 17));
    page.AppendRow({"<b>x</b>", "short"});
    list->header()->resizeSection(0, 12);
    list->header()->resizeSection(1, 200);
    auto* tip = list->findChild<QLabel*>("cellTip");
    auto hover = [&](const QPoint& at) {
        QMouseEvent move(QEvent::MouseMove, at, list->viewport()->mapToGlobal(at), Qt::NoButton, Qt::NoButton, {});
        QApplication::sendEvent(list->viewport(), &move);
        return tip->isVisible() ? tip->text() : QString();
    };
    EXPECT_EQ(hover(Cell(0, 0)), "<b>x</b>");
    EXPECT_EQ(hover(Cell(0, 1)), "");  // fits
    EXPECT_EQ(hover(Cell(0, 0)), "<b>x</b>");
    EXPECT_EQ(tip->textFormat(), Qt::PlainText);
    EXPECT_EQ(tip->font(), list->font());
    const QRect cell = list->visualRect(list->model()->index(0, 0));
    EXPECT_EQ(tip->geometry().topLeft(), list->viewport()->mapToGlobal(cell.topLeft()));
    EXPECT_GT(tip->width(), cell.width());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(list->viewport(), &leave);
    EXPECT_FALSE(tip->isVisible());
}

TEST_F(ReportListViewTest, EventListTrimsToListLineAndFollowsOnlyAtTheEnd)
{
    auto append = [&](const std::string& user) { page.AppendRow({"00:00:00", user, "", "", "", "", "", ""}); };
    for (int i = 0; i < 40; ++i)
        page.Rows()->Insert(page.Rows()->rowCount(), EventRow{});
    EXPECT_FALSE(list->AtEnd());  // rows appended just now count
    for (int i = 0; i < 201; ++i)
        append("user" + std::to_string(i));
    EXPECT_EQ(ColumnTexts(list, 1).mid(0, 1) + ColumnTexts(list, 1).mid(199), QStringList({"user1", "user200"}));
    list->verticalScrollBar()->setValue(0);  // scrolled up to read: new rows do not move the view
    append("late");
    EXPECT_EQ(list->verticalScrollBar()->value(), 0);
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
    append("later");
    EXPECT_TRUE(list->AtEnd());
    ClickHeader(*list, 0);  // the rows stay in their arrival order
    EXPECT_EQ(list->Text(199, 1), "later");
}

// A tick reports only what changed: the cells whose text changed, the players who came and left.
TEST(ConnectionsRowsTest, ATickReportsOnlyTheChangedCellsAndRows)
{
    ManualClock clock;
    PlayerTable table(clock);
    const std::vector<ListColumn> columns(connection_list::kColumnCount, ListColumn{"", Qt::AlignLeft, 0});
    ReportRows rows(columns, nullptr);
    QStringList seen;
    QObject::connect(&rows, &QAbstractItemModel::rowsInserted, [&](auto, int r) { seen << QString("+%1").arg(r); });
    QObject::connect(&rows, &QAbstractItemModel::rowsRemoved, [&](auto, int r) { seen << QString("-%1").arg(r); });
    QObject::connect(&rows, &QAbstractItemModel::dataChanged, [&](const QModelIndex& a, const QModelIndex& b) {
        seen << QString("%1:%2-%3").arg(a.row()).arg(a.column()).arg(b.column());
    });
    auto join = [&](const char* name, int port) {
        PlayerRecord* r = table.Find(testing_datagrams::Addr("198.51.100.3"), static_cast<uint16_t>(port), true);
        table.Confirm(*r);
        r->userName = name;
    };
    const std::tuple<std::function<void()>, int64_t, QStringList> ticks[] = {
        {[&] { join("amy", 1), join("bob", 2), join("cat", 3); }, 100, {"+0", "+1", "+2"}},
        {[] {}, 100, {}},
        {[] {}, 101, {"0:0-0", "1:0-0", "2:0-0"}},  // the time online only
        {[&] { table.Slot(1).flags |= PlayerRecord::kFlying; }, 101, {"1:5-7"}},  // state, IFF, aircraft
        {[&] { join("dan", 4); }, 101, {"+3"}},
        {[&] { table.Clear(table.Slot(0)), table.Clear(table.Slot(2)); }, 101, {"-0", "-1"}},
    };
    for (const auto& [change, now, expected] : ticks) {
        seen.clear();
        change();
        EXPECT_EQ(SyncConnections(rows, connection_list::BuildRows(table, now)), !expected.isEmpty());
        EXPECT_EQ(seen, expected) << now;
    }
    EXPECT_EQ(QList<QVariant>({rows.index(0, 0).data(Qt::UserRole), rows.index(1, 1).data()}), QList<QVariant>({1, "dan"}));
}

TEST(ChatPageTest, PlainLinesEmptiedNearTheLimitAndTheMenuAtTheClick)
{
    ChatPage page(QStringLiteral("/tmp"), nullptr, 260);
    page.AppendChatLine("(amy)<b>x</b>");
    page.AppendChatLine("(bob)hi");
    EXPECT_EQ(page.Text(), "(amy)<b>x</b>\n(bob)hi");
    page.AppendChatLine("(amy)" + std::string(60, 'z'));
    page.AppendChatLine("(bob)fresh");
    EXPECT_EQ(page.Text(), "(bob)fresh");
    page.show();
    QWidget* view = page.findChild<QPlainTextEdit*>()->viewport();
    RightClick(view, QPoint(40, 30));
    EXPECT_EQ(menuAt, view->mapToGlobal(QPoint(40, 30)));
}

TEST(MainWindowTest, CaptionTrayPagesAndSettingsInTheirOrder)
{
    TempFolder dir;
    dir.Write("Zpmoni.ini", "[Position]\nLeft=-5000\nTop=40\n");
    Program program(dir.path.string());
    auto& [clock, app, window] = program;
    app.capture.Table().SetResolveNames(false);  // no lookups of the addresses below
    window.show();
    // As stored, without a check against the screen; the size is the outer one.
    EXPECT_EQ(window.frameGeometry(), QRect(-5000, 40, 488, 329));
    window.move(0, 0);  // menus open on the screen
    window.Controller().UpdateStatus();
    EXPECT_EQ(window.windowTitle(), "ZEPHRINE Server Monitor  FLYING 0 ONLINE 0   UP 0.0kB/s DOWN 0.0kB/s");
    EXPECT_FALSE(window.windowIcon().isNull());
    EXPECT_TRUE(QFile::exists(":/zpmoni/help.html"));
    QList<int> periods;  // status, retry, keep-alive and hang watch; -1 for a coarse timer
    for (QTimer* timer : window.Controller().findChildren<QTimer*>())
        periods << (timer->timerType() == Qt::PreciseTimer ? timer->interval() : -1);
    EXPECT_EQ(periods, QList<int>({1000, 6000, 30000, 1000}));

    auto* tray = window.findChild<QSystemTrayIcon*>();
    for (auto why : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick}) {
        tray->show();  // as a minimise leaves it; this platform has no tray to minimise to
        window.hide();
        window.Controller().UpdateStatus();  // the line as before: the tip follows anyway
        EXPECT_EQ(tray->toolTip(), window.StatusLine());
        emit tray->activated(why);
        EXPECT_TRUE(window.isVisible() && !tray->isVisible()) << why;
    }

    // The page shown takes the keys, wherever the focus was; a hidden page is not refreshed.
    ReportListView* list = window.ConnectPage()->List();
    window.Tabs()->tabBar()->setFocus();
    window.Tabs()->setCurrentIndex(1);
    EXPECT_EQ(window.focusWidget(), window.MonitorPage()->List());
    const char* players[][2] = {{"\x83\x5B\x83\x8D", "198.51.100.10"}, {"unknown", "198.51.100.2"}, {"Bob", "10.0.0.2"}};
    for (int i = 0; i < 3; ++i) {  // the first name in Shift_JIS
        PlayerRecord* r = app.capture.Table().Find(testing_datagrams::Addr(players[i][1]), 4000, true);
        app.capture.Table().Confirm(*r);
        r->userName = players[i][0];
        r->hostText = std::string("host-") + players[i][1];
        r->logonTime = clock.Now() - (i == 2 ? 3600 : 30 - 20 * i);
        r->flags |= i == 2 ? PlayerRecord::kFlying : 0;
    }
    window.ConnectPage()->Refresh();
    EXPECT_EQ(list->RowCount(), 0);
    window.Tabs()->tabBar()->setFocus();
    window.Tabs()->setCurrentIndex(0);
    EXPECT_EQ(window.focusWidget(), list);
    auto shown = [&] { return QString::number(Mark(*list)) + " " + ColumnTexts(list, 1).join(" "); };
    EXPECT_EQ(shown(), QString::fromUtf8("1 Bob ゼロ unknown"));  // longest connection first, and marked so
    list->SelectRows({2, 1});
    const std::pair<int, const char*> steps[] = {
        {0, "-1 unknown ゼロ Bob"},
        {1, "2 Bob ゼロ unknown"},   // user names, unknown last
        {1, "-2 unknown ゼロ Bob"},  // descending, unknown first
        {2, "3 Bob unknown ゼロ"},   // 10.0.0.2, 198.51.100.2, 198.51.100.10
    };
    for (const auto& [column, markAndUsers] : steps) {
        ClickHeader(*list, column);
        EXPECT_EQ(shown(), QString::fromUtf8(markAndUsers));
    }
    // The selected players stay selected; the last of them keeps the focus.
    EXPECT_EQ(list->SelectedRows(), QList<int>({1, 2}));
    EXPECT_EQ(list->currentIndex().row(), 2);
    window.ConnectPage()->Copy();
    EXPECT_EQ(QApplication::clipboard()->text(), "host-198.51.100.2");
    RightClick(list->viewport(), QPoint(30, 10));
    EXPECT_EQ(menuAt, list->viewport()->mapToGlobal(QPoint(30, 10)));
    const int slot = list->RowData(2);
    window.ConnectPage()->DeleteSelected();
    EXPECT_EQ(ColumnTexts(list, 1), QStringList({"Bob"}));
    EXPECT_FALSE(app.capture.Table().Slot(slot).Online());
    window.Controller().Events().LogonEntry(clock.Now(), app.capture.Table().Slot(list->RowData(0)));
    EXPECT_EQ(ColumnTexts(window.MonitorPage()->List(), 5), QStringList({"LOGIN"}));

    window.resize(520, 310);
    const QRect outer = window.frameGeometry();
    window.close();
    const QString ini = QString::fromStdString(dir.Read("Zpmoni.ini"));
    const QString order = R"((?s)\[Position\]\nLeft=0\nTop=0\nWidth=%1\nHeight=%2\n.*\[ZpmoniDlg\].*Glimit=0.*)"
                          R"(\[MonitorDlg\]\nListCtrl=.*ListLine=200.*\[ConnectDlg\]\nListCtrl=.*\[Zpconnect\])";
    EXPECT_TRUE(ini.contains(QRegularExpression(order.arg(outer.width()).arg(outer.height())))) << ini.toStdString();
}

}  // namespace

int main(int argc, char** argv)
{
    // Run as root, the program installs its packet filter and opens packet sockets: in a network
    // namespace of the test's own, so that neither touches the machine's (nor a monitor running on it).
    std::optional<NetNamespace> own;
    std::optional<InNamespace> inside;
    if (geteuid() == 0 && own.emplace("g").Ok() && !inside.emplace(own->Name()).entered)
        return 1;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
