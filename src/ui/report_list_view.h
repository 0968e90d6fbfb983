// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QList>
#include <QPersistentModelIndex>
#include <QString>
#include <QStringList>
#include <QTreeView>

#include <initializer_list>
#include <string_view>
#include <vector>

class QLabel;
class QStandardItemModel;

namespace zpmoni {

class ProfileStore;

struct ListColumn {
    const char* title;  // UTF-8
    Qt::Alignment alignment;
    int width;
};

// The report list the two list pages share: columns the user may hide, move and resize, a sort
// mark that follows header clicks, a tinted sort column, tips for cut-off cells, and a column
// layout kept in the settings file. The host fills and orders the rows; it names columns by
// their logical number whether they are shown or not.
class ReportListView : public QTreeView {
    Q_OBJECT
public:
    explicit ReportListView(QWidget* parent = nullptr);
    ~ReportListView() override;

    // A page's list filling the page: its columns, every one hideable but column 0 and the key
    // column; the sort mark on column 0, ascending.
    static ReportListView* FillPage(QWidget* page, std::initializer_list<ListColumn> columns,
                                 int keyColumn);

    // Columns, in logical order.
    int InsertColumn(const QString& title, Qt::Alignment alignment, int width);
    int ColumnCount() const;
    // Marks a column the user may hide from the header menu; every other column, column 0
    // always, is shown there greyed. Disabling shows the column first.
    void EnableColumnHiding(int column, bool enable);
    // Hides only a column the user may hide.
    void SetColumnVisible(int column, bool visible);
    bool IsColumnVisible(int column) const;
    int ColumnWidth(int column) const;  // saved width while hidden

    void EnableSortArrow(bool enable);
    void EnableSortTint(bool enable);
    // Signed: 0 none, k > 0 logical column k-1 ascending, -k the same descending.
    int SortColumn() const { return sortColumn; }
    void SetSortColumn(int signedColumn);

    // Rows: one text per logical column; the texts are shown as plain text.
    int RowCount() const;
    int AppendRow(const QStringList& texts, int data = -1);
    void RemoveRow(int row);
    void ClearRows();
    QString Text(int row, int column) const;
    int RowData(int row) const;
    QList<int> SelectedRows() const;  // ascending
    // Selects the rows; the last one of them takes the focus mark.
    void SelectRows(const QList<int>& rows);
    void ScrollToRow(int row);
    // Whether the view shows the end of the list (true also when it cannot scroll).
    bool AtEnd() const;

    // The column layout as a settings byte block (9 * n + 8 bytes, little-endian).
    bool SaveState(ProfileStore& store, std::string_view section, std::string_view key) const;
    void RestoreState(const ProfileStore& store, std::string_view section, std::string_view key);

signals:
    // A header click, after the sort column was updated; the host sorts by it.
    void columnClicked(int column);
    // A right click in the row area, at a global position; the host shows its menu.
    void rowMenuRequested(const QPoint& globalPos);

protected:
    bool viewportEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct Column {
        QString title;
        Qt::Alignment alignment;
        bool hideable = false;
        int savedWidth = 0;  // the width to give back when a hidden column is shown again
    };
    class TintDelegate;

    void OnSectionClicked(int logicalColumn);
    void ShowHeaderMenu(const QPoint& globalPos);
    void UpdateSortIndicator();
    void UpdateTint();
    int TintedColumn() const;  // -1 when no cell gets the tint
    int FirstVisibleColumn() const;
    void SetWidth(int column, int width);
    // Tips for cut-off cells.
    void UpdateTip(const QPoint& viewportPos);
    void ForgetTip();
    void RecheckTipSoon();

    QStandardItemModel* items = nullptr;  // one item per cell, every column
    std::vector<Column> columns;
    int hideableCount = 0;
    int sortColumn = 0;
    bool sortArrow = false;
    bool sortTint = false;  // asked for; the tint is painted only while `tint` is valid
    QColor tint;
    QLabel* tip = nullptr;
    QPersistentModelIndex tipCell;
    bool tipRecheckQueued = false;
};

}  // namespace zpmoni
