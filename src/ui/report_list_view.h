// SPDX-License-Identifier: MIT
#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QList>
#include <QPersistentModelIndex>
#include <QString>
#include <QTreeView>

#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class QLabel;

namespace zpmoni {

class ProfileStore;

struct ListColumn {
    const char* title;  // UTF-8
    Qt::Alignment alignment;
    int width;
};

// A cell's text as it came, bytes (QByteArray); the list shows it decoded.
constexpr int kBytesRole = Qt::UserRole + 1;

// The rows a report list shows: one text per column, kept as the bytes it came as and shown
// decoded, and a number of the row's own (Qt::UserRole of column 0). Titles and alignments
// come from the columns.
class ReportRows final : public QAbstractTableModel {
public:
    ReportRows(std::span<const ListColumn> columns, QObject* parent);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void Insert(int at, std::span<const std::string> bytes, int number = -1);
    void Remove(int first, int last);
    // New texts for a row: only the cells that changed are reported. Whether any did.
    bool Update(int at, std::span<const std::string> bytes);
    int Number(int row) const { return rows[static_cast<size_t>(row)].number; }

private:
    struct Row {
        int number;
        std::vector<std::string> bytes;
        std::vector<QString> texts;
    };
    std::span<const ListColumn> columns;
    std::deque<Row> rows;
};

// The report list the two list pages share: columns the user may hide, move and resize, a sort
// mark that follows header clicks, a tinted sort column, tips for cut-off cells, and a column
// layout kept in the settings file. It shows any table model; the host fills and orders the
// rows, and names columns by their logical number whether they are shown or not.
class ReportListView : public QTreeView {
    Q_OBJECT
public:
    explicit ReportListView(QWidget* parent = nullptr);
    ~ReportListView() override;

    // A page's list filling the page, showing `rows` in columns of the given widths, every one
    // hideable but column 0 and the key column; the sort mark on column 0, ascending.
    static ReportListView* FillPage(QWidget* page, QAbstractItemModel* rows, std::span<const ListColumn> columns,
                                    int keyColumn);

    // Shows `rows`, whose columns stay fixed from now on, at the columns' widths.
    void SetRows(QAbstractItemModel* rows, std::span<const ListColumn> columns);
    // Columns, in logical order.
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

    // Rows as shown: one plain text per logical column.
    int RowCount() const;
    QString Text(int row, int column) const;
    int RowData(int row) const;  // Qt::UserRole of column 0, -1 without one
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
