// SPDX-License-Identifier: MIT
#include "ui/list_ctrl_ex.h"

#include "base/profile_store.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPixmap>
#include <QScrollBar>
#include <QTimer>

#include <cstdlib>
#include <memory>

namespace {

// One QApplication for every window test of the runner, on the offscreen platform unless the
// runner was given another.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (QApplication::instance())
            return;
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "zpmoni_gui_tests";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app.reset(); }

private:
    std::unique_ptr<QApplication> app;
};

[[maybe_unused]] const auto* const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Nine columns like the connection list's, every one but the user name hideable as the pages set them up;
// the last title holds an ampersand.
const char* const kTitles[] = {"時刻", "ユーザー名", "IPアドレス", "ポート", "IFF", "機体", "収録パック",
                               "スタートポジション", "R&D"};
const int kWidths[] = {50, 70, 100, 42, 28, 100, 100, 102, 60};

std::unique_ptr<CListCtrlEx> MakeList(int columns = 9)
{
    auto list = std::make_unique<CListCtrlEx>();
    for (int c = 0; c < columns; ++c)
        list->InsertColumn(QString::fromUtf8(kTitles[c]), c == 3 ? Qt::AlignRight : Qt::AlignLeft, kWidths[c]);
    for (int c = 0; c < columns; ++c)
        list->EnableColumnHiding(c, c != 1);
    list->resize(900, 300);
    return list;
}

QStringList Row(int n, int columns = 9)
{
    QStringList texts;
    for (int c = 0; c < columns; ++c)
        texts << QStringLiteral("r%1c%2").arg(n).arg(c);
    return texts;
}

void ClickHeader(CListCtrlEx& list, int logicalColumn)
{
    QHeaderView* h = list.header();
    const QPoint pos(h->sectionViewportPosition(logicalColumn) + h->sectionSize(logicalColumn) / 2,
                     h->height() / 2);
    const QPoint global = h->viewport()->mapToGlobal(pos);
    QMouseEvent press(QEvent::MouseButtonPress, pos, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, pos, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(h->viewport(), &press);
    QApplication::sendEvent(h->viewport(), &release);
}

void MoveMouse(CListCtrlEx& list, const QPoint& viewportPos)
{
    QMouseEvent move(QEvent::MouseMove, viewportPos, list.viewport()->mapToGlobal(viewportPos), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(list.viewport(), &move);
}

QPoint CellCentre(CListCtrlEx& list, int row, int column)
{
    return list.visualRect(list.model()->index(row, column)).center();
}

struct MenuEntry {
    QString title;
    bool checked;
    bool enabled;
};

// Opens the header menu by a right click on the header; `choose` may trigger one of its
// entries by title. Gives the entries the menu showed.
QList<MenuEntry> HeaderMenu(CListCtrlEx& list, const QString& choose = {})
{
    QList<MenuEntry> entries;
    bool shown = false;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        shown = true;
        for (QAction* action : menu->actions()) {
            entries.append({action->text(), action->isChecked(), action->isEnabled()});
            if (!choose.isEmpty() && action->text() == choose)
                action->trigger();
        }
        menu->close();
    });
    QHeaderView* h = list.header();
    const QPoint pos(5, h->height() / 2);
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, h->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(h->viewport(), &event);
    if (!shown)
        QApplication::processEvents();  // no menu: let the timer run and find none
    return entries;
}

TEST(ListCtrlEx, HiddenColumnComesBackWithWidthAndTexts)
{
    auto list = MakeList(3);
    list->EnableColumnHiding(0, false);
    list->EnableColumnHiding(2, true);  // the only hideable column
    list->show();
    list->AppendRow({"a", "b", "<i>c</i>"}, 7);
    list->AppendRow({"d", "e", "f"}, 8);
    list->header()->resizeSection(2, 137);

    list->SetColumnVisible(2, false);
    EXPECT_FALSE(list->IsColumnVisible(2));
    EXPECT_TRUE(list->header()->isSectionHidden(2));
    EXPECT_EQ(list->ColumnWidth(2), 137);
    list->header()->resizeSection(0, 90);  // other columns change meanwhile

    list->SetColumnVisible(2, true);
    EXPECT_TRUE(list->IsColumnVisible(2));
    EXPECT_EQ(list->header()->sectionSize(2), 137);
    EXPECT_EQ(list->header()->visualIndex(2), 2);
    EXPECT_EQ(list->Text(0, 2), "<i>c</i>");
    EXPECT_EQ(list->Text(1, 2), "f");
    EXPECT_EQ(list->RowData(1), 8);
}

TEST(ListCtrlEx, ColumnsThatMayNotBeHiddenStay)
{
    auto list = MakeList(3);
    list->SetColumnVisible(1, false);  // the user name
    EXPECT_TRUE(list->IsColumnVisible(1));

    // Disabling hiding shows the column first.
    list->SetColumnVisible(2, false);
    list->EnableColumnHiding(2, false);
    EXPECT_TRUE(list->IsColumnVisible(2));
    EXPECT_EQ(list->ColumnWidth(2), kWidths[2]);

    // The last column shown stays, or the header and its menu would be gone.
    list->EnableColumnHiding(1, true);
    list->EnableColumnHiding(2, true);
    list->SetColumnVisible(0, false);
    list->SetColumnVisible(1, false);
    list->SetColumnVisible(2, false);
    EXPECT_FALSE(list->IsColumnVisible(0));
    EXPECT_FALSE(list->IsColumnVisible(1));
    EXPECT_TRUE(list->IsColumnVisible(2));
}

TEST(ListCtrlEx, HeaderMenuListsEveryColumnAndToggles)
{
    auto list = MakeList();
    list->show();
    list->SetColumnVisible(4, false);

    const QList<MenuEntry> entries = HeaderMenu(*list);
    ASSERT_EQ(entries.size(), 9);
    for (int c = 0; c < 9; ++c) {
        SCOPED_TRACE(c);
        QString title = QString::fromUtf8(kTitles[c]);
        title.replace("&", "&&");  // shown as written, not as a mnemonic
        EXPECT_EQ(entries[c].title, title);
        EXPECT_EQ(entries[c].checked, c != 4);
        EXPECT_EQ(entries[c].enabled, c != 1);
    }

    HeaderMenu(*list, QString::fromUtf8(kTitles[4]));
    EXPECT_TRUE(list->IsColumnVisible(4));
    HeaderMenu(*list, QString::fromUtf8(kTitles[7]));
    EXPECT_FALSE(list->IsColumnVisible(7));
    HeaderMenu(*list, QString::fromUtf8(kTitles[1]));  // greyed: no effect
    EXPECT_TRUE(list->IsColumnVisible(1));
}

TEST(ListCtrlEx, HeaderMenuNeedsAHideableColumn)
{
    auto list = MakeList(3);
    list->show();
    list->EnableColumnHiding(0, false);
    list->EnableColumnHiding(2, false);
    EXPECT_TRUE(HeaderMenu(*list).isEmpty());
    list->EnableColumnHiding(2, true);
    EXPECT_EQ(HeaderMenu(*list).size(), 3);
}

TEST(ListCtrlEx, HeaderClicksMoveTheSortMark)
{
    auto list = MakeList();
    list->EnableSortArrow(true);
    list->show();
    QList<int> clicks;
    QObject::connect(list.get(), &CListCtrlEx::columnClicked, [&](int column) { clicks.append(column); });
    QHeaderView* h = list->header();
    EXPECT_EQ(list->SortColumn(), 0);
    EXPECT_EQ(h->sortIndicatorSection(), -1);

    struct Step { int column; int sort; Qt::SortOrder order; };
    const Step steps[] = {
        {2, 3, Qt::AscendingOrder},
        {2, -3, Qt::DescendingOrder},
        {2, 3, Qt::AscendingOrder},
        {5, 6, Qt::AscendingOrder},
        {0, 1, Qt::AscendingOrder},
        {0, -1, Qt::DescendingOrder},
        {5, 6, Qt::AscendingOrder},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.sort);
        // The host reads the sort column when it hears of the click.
        int seen = 0;
        auto connection = QObject::connect(list.get(), &CListCtrlEx::columnClicked, [&] { seen = list->SortColumn(); });
        ClickHeader(*list, s.column);
        QObject::disconnect(connection);
        EXPECT_EQ(list->SortColumn(), s.sort);
        EXPECT_EQ(seen, s.sort);
        EXPECT_TRUE(h->isSortIndicatorShown());
        EXPECT_EQ(h->sortIndicatorSection(), s.column);
        EXPECT_EQ(h->sortIndicatorOrder(), s.order);
        ASSERT_FALSE(clicks.isEmpty());
        EXPECT_EQ(clicks.takeLast(), s.column);
    }

    // The click names the logical column wherever the user dragged it.
    h->moveSection(h->visualIndex(7), 0);
    ClickHeader(*list, 7);
    EXPECT_EQ(list->SortColumn(), 8);

    list->EnableSortArrow(false);
    EXPECT_FALSE(h->isSortIndicatorShown());
    ClickHeader(*list, 7);
    EXPECT_EQ(list->SortColumn(), -8);  // the sort still follows without the arrow
}

TEST(ListCtrlEx, TintColours)
{
    EXPECT_EQ(CListCtrlEx::TintFor(QColor(255, 255, 255)), QColor(247, 247, 247));
    EXPECT_EQ(CListCtrlEx::TintFor(QColor(100, 200, 240)), QColor(110, 220, 255));

    auto list = MakeList();
    QPalette palette = list->palette();
    palette.setColor(QPalette::Base, QColor(255, 255, 255));
    list->setPalette(palette);
    EXPECT_FALSE(list->TintColor().isValid());
    list->EnableSortTint(true);
    EXPECT_EQ(list->TintColor(), QColor(247, 247, 247));
    // A new background gives a new tint.
    palette.setColor(QPalette::Base, QColor(100, 200, 240));
    list->setPalette(palette);
    EXPECT_EQ(list->TintColor(), QColor(110, 220, 255));
}

class SortColumnTint : public ::testing::TestWithParam<QRgb> {};

TEST_P(SortColumnTint, OnlyTheSortColumnIsPaintedOnTheTint)
{
    const QColor base = QColor::fromRgb(GetParam());
    const QColor tint = CListCtrlEx::TintFor(base);
    ASSERT_NE(tint, base);
    auto list = MakeList();
    QPalette palette = list->palette();
    palette.setColor(QPalette::Base, base);
    list->setPalette(palette);
    list->EnableSortArrow(true);
    list->EnableSortTint(true);
    list->show();
    for (int r = 0; r < 3; ++r)
        list->AppendRow(QStringList(9, QString()));  // no text where the pixels are read
    QApplication::processEvents();

    auto pixel = [&](int column) {
        const QImage image = list->viewport()->grab().toImage();
        return image.pixelColor(CellCentre(*list, 1, column)).toRgb();
    };
    struct Case { int sort; int column; QColor expected; };
    const Case cases[] = {
        {0, 2, base},
        {3, 2, tint},
        {3, 0, base},
        {3, 5, base},
        {-6, 5, tint},
        {-6, 2, base},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QStringLiteral("sort %1 column %2").arg(c.sort).arg(c.column).toStdString());
        list->SetSortColumn(c.sort);
        EXPECT_EQ(pixel(c.column), c.expected);
    }

    // A hidden sort column tints nothing; switching the tint off restores the background.
    list->SetSortColumn(3);
    list->SetColumnVisible(2, false);
    for (int column : {0, 3, 5})
        EXPECT_EQ(pixel(column), base) << column;
    list->SetColumnVisible(2, true);
    EXPECT_EQ(pixel(2), tint);
    list->EnableSortTint(false);
    EXPECT_EQ(pixel(2), base);
}

INSTANTIATE_TEST_SUITE_P(Backgrounds, SortColumnTint, ::testing::Values(qRgb(100, 200, 240), qRgb(255, 255, 255)));

TEST(ListCtrlEx, StateRoundTripsThroughTheSettingsFile)
{
    TempFolder dir;
    ProfileStore store(dir.File("Zpmoni.ini"));
    {
        auto list = MakeList();
        list->show();
        list->SetSortColumn(-3);
        list->header()->resizeSection(2, 150);
        list->header()->resizeSection(5, 77);
        list->SetColumnVisible(5, false);
        list->header()->resizeSection(5, 0);  // hidden: its kept width counts
        list->SetColumnVisible(6, false);
        QHeaderView* h = list->header();
        h->moveSection(h->visualIndex(8), 0);
        h->moveSection(h->visualIndex(1), 4);
        EXPECT_TRUE(list->SaveState(store, "MonitorDlg", "ListCtrl"));
    }
    // Two letters per byte: n = 9 as "JA" "AA" "AA" "AA".
    EXPECT_EQ(store.GetString("monitordlg", "listctrl", "").substr(0, 8), "JAAAAAAA");
    EXPECT_EQ(store.GetBytes("MonitorDlg", "ListCtrl").size(), 9u * 9 + 8);

    auto list = MakeList();
    list->show();
    list->RestoreState(store, "MonitorDlg", "ListCtrl");
    EXPECT_EQ(list->SortColumn(), -3);
    EXPECT_EQ(list->header()->sortIndicatorSection(), 2);
    EXPECT_EQ(list->ColumnWidth(2), 150);
    EXPECT_EQ(list->ColumnWidth(5), 77);
    EXPECT_FALSE(list->IsColumnVisible(5));
    EXPECT_FALSE(list->IsColumnVisible(6));
    EXPECT_TRUE(list->IsColumnVisible(7));
    const int visualOrder[] = {8, 0, 2, 3, 1, 4, 5, 6, 7};
    for (int v = 0; v < 9; ++v)
        EXPECT_EQ(list->header()->logicalIndex(v), visualOrder[v]) << "position " << v;
    list->SetColumnVisible(5, true);
    EXPECT_EQ(list->header()->sectionSize(5), 77);

    // The empty list saves nothing.
    CListCtrlEx empty;
    EXPECT_FALSE(empty.SaveState(store, "Other", "ListCtrl"));
    EXPECT_TRUE(store.GetBytes("Other", "ListCtrl").empty());
}

TEST(ListCtrlEx, StateOfAnotherListIsIgnored)
{
    TempFolder dir;
    ProfileStore store(dir.File("Zpmoni.ini"));
    {
        auto eight = MakeList(8);
        eight->SetSortColumn(2);
        eight->header()->resizeSection(0, 200);
        eight->SetColumnVisible(3, false);
        eight->header()->moveSection(7, 0);
        ASSERT_TRUE(eight->SaveState(store, "ConnectDlg", "ListCtrl"));
    }
    store.WriteString("Broken", "ListCtrl", "JAAAAAA");  // cut short

    for (const char* section : {"ConnectDlg", "Broken", "Missing"}) {
        SCOPED_TRACE(section);
        auto list = MakeList(9);
        list->RestoreState(store, section, "ListCtrl");
        EXPECT_EQ(list->SortColumn(), 0);
        for (int c = 0; c < 9; ++c) {
            EXPECT_TRUE(list->IsColumnVisible(c)) << c;
            EXPECT_EQ(list->ColumnWidth(c), kWidths[c]) << c;
            EXPECT_EQ(list->header()->visualIndex(c), c) << c;
        }
    }
}

TEST(ListCtrlEx, OrderOutOfRangeKeepsWhatCameBefore)
{
    TempFolder dir;
    ProfileStore store(dir.File("Zpmoni.ini"));
    // Three columns: sort 2 descending; column 0 width 80 order 1; column 1 width 90 order 5 (bad);
    // column 2 hidden, width 99, order 0.
    const std::vector<uint8_t> block = {3, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF,
                                        1, 80, 0, 0, 0, 1, 0, 0, 0,
                                        1, 90, 0, 0, 0, 5, 0, 0, 0,
                                        0, 99, 0, 0, 0, 0, 0, 0, 0};
    store.WriteBytes("ConnectDlg", "ListCtrl", block);
    auto list = MakeList(3);
    list->RestoreState(store, "ConnectDlg", "ListCtrl");
    EXPECT_EQ(list->SortColumn(), -2);
    EXPECT_EQ(list->ColumnWidth(0), 80);
    EXPECT_EQ(list->ColumnWidth(1), 90);
    EXPECT_EQ(list->ColumnWidth(2), kWidths[2]);  // after the bad order: untouched
    EXPECT_TRUE(list->IsColumnVisible(2));
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(list->header()->visualIndex(c), c);
}

TEST(ListCtrlEx, CutOffTextShowsWholeAndPlain)
{
    auto list = MakeList(3);
    list->show();
    list->AppendRow({"<b>x</b>", "short", "a rather long text that cannot fit in its column"});
    list->header()->resizeSection(0, 12);
    list->header()->resizeSection(1, 200);
    list->header()->resizeSection(2, 40);
    QApplication::processEvents();
    auto* tip = list->findChild<QLabel*>("cellTip");
    ASSERT_NE(tip, nullptr);

    EXPECT_EQ(list->Text(0, 0), "<b>x</b>");
    EXPECT_EQ(list->model()->index(0, 0).data().toString().size(), 8);

    MoveMouse(*list, CellCentre(*list, 0, 0));
    ASSERT_TRUE(tip->isVisible());
    EXPECT_EQ(tip->text(), "<b>x</b>");
    EXPECT_EQ(tip->textFormat(), Qt::PlainText);
    EXPECT_EQ(tip->font(), list->font());
    const QRect cell = list->visualRect(list->model()->index(0, 0));
    EXPECT_EQ(tip->geometry().topLeft(), list->viewport()->mapToGlobal(cell.topLeft()));
    EXPECT_GT(tip->width(), cell.width());

    MoveMouse(*list, CellCentre(*list, 0, 1));  // fits: no tip
    EXPECT_FALSE(tip->isVisible());

    MoveMouse(*list, CellCentre(*list, 0, 2));
    ASSERT_TRUE(tip->isVisible());
    EXPECT_EQ(tip->text(), "a rather long text that cannot fit in its column");

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(list->viewport(), &leave);
    EXPECT_FALSE(tip->isVisible());

    // Below the last row there is no cell.
    MoveMouse(*list, CellCentre(*list, 0, 2));
    ASSERT_TRUE(tip->isVisible());
    MoveMouse(*list, QPoint(5, list->viewport()->height() - 2));
    EXPECT_FALSE(tip->isVisible());
}

TEST(ListCtrlEx, SelectionIsKeptByRowNumber)
{
    auto list = MakeList();
    list->show();
    for (int r = 0; r < 6; ++r)
        list->AppendRow(Row(r), 100 + r);
    list->SelectRows({4, 1});
    EXPECT_EQ(list->SelectedRows(), (QList<int>{1, 4}));
    EXPECT_EQ(list->currentIndex().row(), 4);

    // A refresh rebuilds the rows and selects again the same slots at their new places.
    QList<int> marked;
    for (int row : list->SelectedRows())
        marked.append(list->RowData(row));
    list->ClearRows();
    EXPECT_EQ(list->RowCount(), 0);
    EXPECT_TRUE(list->SelectedRows().isEmpty());
    for (int r = 5; r >= 0; --r)
        list->AppendRow(Row(r), 100 + r);
    QList<int> again;
    for (int row = 0; row < list->RowCount(); ++row) {
        if (marked.contains(list->RowData(row)))
            again.append(row);
    }
    list->SelectRows(again);
    EXPECT_EQ(list->SelectedRows(), (QList<int>{1, 4}));
    EXPECT_EQ(list->Text(1, 0), "r4c0");
    EXPECT_EQ(list->Text(4, 0), "r1c0");

    list->SelectRows({2, 99, -1});  // rows that do not exist are passed over
    EXPECT_EQ(list->SelectedRows(), (QList<int>{2}));
    list->SelectRows({});
    EXPECT_TRUE(list->SelectedRows().isEmpty());
}

TEST(ListCtrlEx, FollowsTheEndOnlyWhenThere)
{
    auto list = MakeList();
    list->resize(600, 150);
    list->show();
    QApplication::processEvents();
    EXPECT_TRUE(list->AtEnd());  // cannot scroll
    for (int r = 0; r < 40; ++r)
        list->AppendRow(Row(r));
    EXPECT_FALSE(list->AtEnd());  // rows appended just now count
    list->ScrollToRow(39);
    EXPECT_TRUE(list->AtEnd());
    list->AppendRow(Row(40));
    EXPECT_FALSE(list->AtEnd());
    list->ScrollToRow(40);
    EXPECT_TRUE(list->AtEnd());
    list->verticalScrollBar()->setValue(0);
    EXPECT_FALSE(list->AtEnd());
}

TEST(ListCtrlEx, RightClickInTheRowsGoesToTheHost)
{
    auto list = MakeList();
    list->show();
    list->AppendRow(Row(0));
    QList<QPoint> menus;
    QObject::connect(list.get(), &CListCtrlEx::rowMenuRequested, [&](const QPoint& at) { menus.append(at); });
    const QPoint pos = CellCentre(*list, 0, 2);
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, list->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(list->viewport(), &event);
    ASSERT_EQ(menus.size(), 1);
    EXPECT_EQ(menus.at(0), list->viewport()->mapToGlobal(pos));
}

}  // namespace
