// SPDX-License-Identifier: MIT
#include "ui/list_ctrl_ex.h"

#include "base/profile_store.h"
#include "gui/list_menu.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QMouseEvent>

#include <memory>

namespace {

// Columns like the event list's, the last title with an ampersand; every one hideable but
// column 0 (never) and the key column 1, as the pages ask.
const char* const kTitles[] = {"時刻", "ユーザー名", "IPアドレス", "ポート", "IFF", "機体", "収録パック",
                               "スタートポジション", "R&D"};
const int kWidths[] = {50, 70, 100, 42, 28, 100, 100, 102, 60};

std::unique_ptr<CListCtrlEx> MakeList(int columns = 9)
{
    auto list = std::make_unique<CListCtrlEx>();
    for (int c = 0; c < columns; ++c) {
        list->InsertColumn(QString::fromUtf8(kTitles[c]), Qt::AlignLeft, kWidths[c]);
        list->EnableColumnHiding(c, c != 1);
    }
    list->resize(900, 300);
    list->show();
    return list;
}

QPoint Cell(CListCtrlEx& list, int row, int column)
{
    return list.visualRect(list.model()->index(row, column)).center();
}

TEST(ListCtrlEx, HiddenColumnComesBackWithWidthAndTexts)
{
    auto list = MakeList(3);  // column 2 is the only hideable one
    list->AppendRow({"a", "b", "<i>c</i>"}, 7);
    list->AppendRow({"d", "e", "f"}, 8);
    list->header()->resizeSection(2, 137);
    list->SetColumnVisible(2, false);
    EXPECT_FALSE(list->IsColumnVisible(2));
    EXPECT_EQ(list->ColumnWidth(2), 137);
    list->header()->resizeSection(0, 90);  // other columns change meanwhile
    list->SetColumnVisible(2, true);
    EXPECT_EQ(list->header()->sectionSize(2), 137);
    EXPECT_EQ(list->header()->visualIndex(2), 2);
    EXPECT_EQ(list->Text(0, 2), "<i>c</i>");
    EXPECT_EQ(list->Text(1, 2), "f");
}

TEST(ListCtrlEx, HeaderMenuGreysColumnZeroAndTheKeyColumn)
{
    auto list = MakeList();
    list->SetColumnVisible(4, false);
    const QList<MenuEntry> entries = HeaderMenu(*list);
    ASSERT_EQ(entries.size(), 9);
    for (int c = 0; c < 9; ++c) {
        EXPECT_EQ(entries[c].title, QString::fromUtf8(kTitles[c]).replace("&", "&&")) << c;  // no mnemonic
        EXPECT_EQ(entries[c].checked, c != 4) << c;
        EXPECT_EQ(entries[c].enabled, c > 1) << c;
    }
    HeaderMenu(*list, QString::fromUtf8(kTitles[4]));
    EXPECT_TRUE(list->IsColumnVisible(4));
    HeaderMenu(*list, QString::fromUtf8(kTitles[7]));
    EXPECT_FALSE(list->IsColumnVisible(7));
    for (int c : {0, 1}) {
        HeaderMenu(*list, QString::fromUtf8(kTitles[c]));
        list->SetColumnVisible(c, false);
        EXPECT_TRUE(list->IsColumnVisible(c)) << c;
    }
    // Disabling shows the column first; with nothing left to hide there is no menu.
    for (int c = 2; c < 9; ++c)
        list->EnableColumnHiding(c, false);
    EXPECT_TRUE(list->IsColumnVisible(7));
    EXPECT_TRUE(HeaderMenu(*list).isEmpty());
}

TEST(ListCtrlEx, OnlyTheSortColumnIsPaintedOnTheTint)
{
    auto list = MakeList();
    auto setBase = [&](const QColor& base) {
        QPalette palette = list->palette();
        palette.setColor(QPalette::Base, base);
        list->setPalette(palette);
    };
    const QColor base(100, 200, 240), tint(110, 220, 255);
    setBase(base);
    list->EnableSortTint(true);
    for (int r = 0; r < 3; ++r)
        list->AppendRow(QStringList(9, QString()));  // no text where the pixels are read
    auto pixel = [&](int column) { return list->viewport()->grab().toImage().pixelColor(Cell(*list, 1, column)); };
    struct Case { int sort; int column; QColor expected; };
    const Case cases[] = {{0, 2, base}, {3, 2, tint}, {3, 0, base}, {3, 5, base}, {-6, 5, tint}, {-6, 2, base}};
    for (const Case& c : cases) {
        list->SetSortColumn(c.sort);
        EXPECT_EQ(pixel(c.column), c.expected) << c.sort << " " << c.column;
    }
    setBase(Qt::white);  // a new background, a new tint
    EXPECT_EQ(pixel(5), QColor(247, 247, 247));
    list->EnableSortTint(false);
    EXPECT_EQ(pixel(5), QColor(Qt::white));
    list->EnableSortArrow(true);
    EXPECT_TRUE(list->header()->isSortIndicatorShown());
    list->EnableSortArrow(false);
    EXPECT_FALSE(list->header()->isSortIndicatorShown());
}

TEST(ListCtrlEx, StateRoundTripsThroughTheSettingsFile)
{
    TempFolder dir;
    ProfileStore store(dir.File("Zpmoni.ini"));
    {
        auto list = MakeList();
        QHeaderView* h = list->header();
        list->SetSortColumn(-3);
        h->resizeSection(2, 150);
        h->resizeSection(5, 77);
        list->SetColumnVisible(5, false);
        h->resizeSection(5, 0);  // hidden: its kept width counts
        list->SetColumnVisible(6, false);
        h->moveSection(h->visualIndex(8), 0);
        h->moveSection(h->visualIndex(1), 4);
        EXPECT_TRUE(list->SaveState(store, "MonitorDlg", "ListCtrl"));
        EXPECT_FALSE(CListCtrlEx().SaveState(store, "Empty", "ListCtrl"));
    }
    EXPECT_EQ(store.GetString("monitordlg", "listctrl", "").substr(0, 8), "JAAAAAAA");  // n = 9
    auto list = MakeList();
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
        EXPECT_EQ(list->header()->logicalIndex(v), visualOrder[v]) << v;
    list->SetColumnVisible(5, true);
    EXPECT_EQ(list->header()->sectionSize(5), 77);

    auto eight = MakeList(8);  // another column count: the defaults stay
    eight->RestoreState(store, "MonitorDlg", "ListCtrl");
    EXPECT_EQ(eight->SortColumn(), 0);
    EXPECT_EQ(eight->ColumnWidth(2), kWidths[2]);
    // Sort 2 descending; widths 80, 90, 99; column 1's order 5 is out of range: column 2 and the
    // order stay as they were.
    store.WriteBytes("ConnectDlg", "ListCtrl", std::vector<uint8_t>{3, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 1, 80, 0, 0, 0, 1, 0,
                                                                 0, 0, 1, 90, 0, 0, 0, 5, 0, 0, 0, 0, 99, 0, 0, 0, 0, 0, 0, 0});
    auto three = MakeList(3);
    three->RestoreState(store, "ConnectDlg", "ListCtrl");
    EXPECT_EQ(three->SortColumn(), -2);
    EXPECT_EQ(three->ColumnWidth(1), 90);
    EXPECT_EQ(three->ColumnWidth(2), kWidths[2]);
    EXPECT_TRUE(three->IsColumnVisible(2));
    EXPECT_EQ(three->header()->visualIndex(0), 0);
}

TEST(ListCtrlEx, CutOffTextShowsWholeAndPlain)
{
    auto list = MakeList(3);
    list->AppendRow({"<b>x</b>", "short", "a rather long text that cannot fit in its column"});
    list->header()->resizeSection(0, 12);
    list->header()->resizeSection(1, 200);
    list->header()->resizeSection(2, 40);
    QApplication::processEvents();
    auto* tip = list->findChild<QLabel*>("cellTip");
    ASSERT_NE(tip, nullptr);
    auto hover = [&](const QPoint& at) {
        QMouseEvent move(QEvent::MouseMove, at, list->viewport()->mapToGlobal(at), Qt::NoButton, Qt::NoButton, {});
        QApplication::sendEvent(list->viewport(), &move);
        return tip->isVisible() ? tip->text() : QString();
    };
    EXPECT_EQ(hover(Cell(*list, 0, 2)), "a rather long text that cannot fit in its column");
    EXPECT_EQ(hover(QPoint(5, list->viewport()->height() - 2)), "");  // below the last row
    EXPECT_EQ(hover(Cell(*list, 0, 1)), "");  // fits
    EXPECT_EQ(hover(Cell(*list, 0, 0)), "<b>x</b>");
    EXPECT_EQ(tip->textFormat(), Qt::PlainText);
    EXPECT_EQ(tip->font(), list->font());
    const QRect cell = list->visualRect(list->model()->index(0, 0));
    EXPECT_EQ(tip->geometry().topLeft(), list->viewport()->mapToGlobal(cell.topLeft()));
    EXPECT_GT(tip->width(), cell.width());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(list->viewport(), &leave);
    EXPECT_FALSE(tip->isVisible());
}

TEST(ListCtrlEx, RightClickInTheRowsGoesToTheHostAtTheClick)
{
    auto list = MakeList();
    list->AppendRow(QStringList(9, "x"));
    QList<QPoint> menus;
    QObject::connect(list.get(), &CListCtrlEx::rowMenuRequested, [&](const QPoint& at) { menus.append(at); });
    const QPoint pos = Cell(*list, 0, 2);
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, list->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(list->viewport(), &event);
    EXPECT_EQ(menus, QList<QPoint>{list->viewport()->mapToGlobal(pos)});
}

}  // namespace
