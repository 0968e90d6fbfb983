// SPDX-License-Identifier: MIT
#include "ui/report_list_view.h"

#include "base/profile_store.h"
#include "ui/list_state.h"
#include "ui/network_text.h"

#include <QCursor>
#include <QHeaderView>
#include <QItemSelection>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>
#include <QToolTip>

#include <algorithm>
#include <cstdlib>

namespace zpmoni {

// Paints the sort column's cells on the tint; every other cell keeps the list's background.
class ReportListView::TintDelegate : public QStyledItemDelegate {
public:
    explicit TintDelegate(ReportListView* list) : QStyledItemDelegate(list), list(list) {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.column() == list->TintedColumn())
            option->backgroundBrush = list->tint;
    }

private:
    ReportListView* list;
};

namespace {

Qt::Alignment CellAlignment(Qt::Alignment alignment)
{
    if (!(alignment & Qt::AlignVertical_Mask))
        alignment |= Qt::AlignVCenter;
    return alignment;
}

}  // namespace

ReportRows::ReportRows(std::span<const ListColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), columns(columns)
{
}

int ReportRows::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows.size());
}

int ReportRows::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(columns.size());
}

QVariant ReportRows::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const Row& row = rows[static_cast<size_t>(index.row())];
    const auto column = static_cast<size_t>(index.column());
    switch (role) {
    case Qt::DisplayRole:
        return row.texts[column];
    case kBytesRole:
        return QByteArray(row.bytes[column].data(), static_cast<qsizetype>(row.bytes[column].size()));
    case Qt::TextAlignmentRole:
        return CellAlignment(columns[column].alignment).toInt();
    case Qt::UserRole:
        return column == 0 && row.number >= 0 ? QVariant(row.number) : QVariant();
    default:
        return {};
    }
}

QVariant ReportRows::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    const ListColumn& c = columns[static_cast<size_t>(section)];
    if (role == Qt::DisplayRole)
        return QString::fromUtf8(c.title);
    if (role == Qt::TextAlignmentRole)
        return CellAlignment(c.alignment).toInt();
    return {};
}

void ReportRows::Insert(int at, std::span<const std::string> bytes, int number)
{
    Row row{number, std::vector<std::string>(columns.size()), std::vector<QString>(columns.size())};
    for (size_t c = 0; c < columns.size() && c < bytes.size(); ++c)
        row.texts[c] = NetworkText(row.bytes[c] = bytes[c]);
    beginInsertRows({}, at, at);
    rows.insert(rows.begin() + at, std::move(row));
    endInsertRows();
}

void ReportRows::Remove(int first, int last)
{
    if (first < 0 || last < first || last >= rowCount())
        return;
    beginRemoveRows({}, first, last);
    rows.erase(rows.begin() + first, rows.begin() + last + 1);
    endRemoveRows();
}

bool ReportRows::Update(int at, std::span<const std::string> bytes)
{
    Row& row = rows[static_cast<size_t>(at)];
    int first = -1, last = -1;
    for (size_t c = 0; c < columns.size() && c < bytes.size(); ++c) {
        if (row.bytes[c] == bytes[c])
            continue;
        row.texts[c] = NetworkText(row.bytes[c] = bytes[c]);
        first = first < 0 ? static_cast<int>(c) : first;
        last = static_cast<int>(c);
    }
    if (first >= 0)
        emit dataChanged(index(at, first), index(at, last), {Qt::DisplayRole, kBytesRole});
    return first >= 0;
}

ReportListView::ReportListView(QWidget* parent) : QTreeView(parent)
{
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The host orders the rows; the header only carries the mark.
    setSortingEnabled(false);
    setItemDelegate(new TintDelegate(this));
    setContextMenuPolicy(Qt::CustomContextMenu);
    viewport()->setMouseTracking(true);

    QHeaderView* h = header();
    h->setSectionsMovable(true);
    h->setFirstSectionMovable(true);
    h->setSectionsClickable(true);
    h->setStretchLastSection(false);
    h->setSectionResizeMode(QHeaderView::Interactive);
    h->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(h, &QHeaderView::sectionClicked, this, &ReportListView::OnSectionClicked);
    connect(h, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        ForgetTip();
        if (hideableCount >= 1)
            ShowHeaderMenu(header()->viewport()->mapToGlobal(pos));
    });
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        ForgetTip();
        emit rowMenuRequested(viewport()->mapToGlobal(pos));
    });

    // A tip shows what is under the pointer; anything that moves or changes cells re-evaluates it.
    connect(h, &QHeaderView::sectionResized, this, &ReportListView::RecheckTipSoon);
    connect(h, &QHeaderView::sectionMoved, this, &ReportListView::RecheckTipSoon);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &ReportListView::RecheckTipSoon);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, &ReportListView::RecheckTipSoon);

    // Placed over the cell itself, so it must not take the pointer away from the list.
    tip = new QLabel(this, Qt::ToolTip | Qt::WindowTransparentForInput | Qt::FramelessWindowHint);
    tip->setObjectName(QStringLiteral("cellTip"));
    tip->setTextFormat(Qt::PlainText);  // network texts are never markup
    tip->setWordWrap(false);
    tip->setFrameStyle(QFrame::Box | QFrame::Plain);
    tip->setLineWidth(1);
    tip->setIndent(0);
    tip->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    tip->setAutoFillBackground(true);
    tip->setBackgroundRole(QPalette::ToolTipBase);
    tip->setForegroundRole(QPalette::ToolTipText);
    tip->setAttribute(Qt::WA_ShowWithoutActivating);
    tip->setAttribute(Qt::WA_TransparentForMouseEvents);
}

ReportListView::~ReportListView() = default;

void ReportListView::SetRows(QAbstractItemModel* rows, std::span<const ListColumn> widths)
{
    setModel(rows);
    const int count = rows->columnCount();
    columns.assign(static_cast<size_t>(count), Column{});
    hideableCount = 0;
    for (int column = 0; column < count && column < static_cast<int>(widths.size()); ++column) {
        columns[column].savedWidth = std::max(widths[column].width, 0);
        header()->resizeSection(column, columns[column].savedWidth);
    }
    for (auto changed : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(rows, changed, this, &ReportListView::RecheckTipSoon);
    connect(rows, &QAbstractItemModel::dataChanged, this, &ReportListView::RecheckTipSoon);
    connect(rows, &QAbstractItemModel::modelReset, this, &ReportListView::RecheckTipSoon);
    connect(rows, &QAbstractItemModel::layoutChanged, this, &ReportListView::RecheckTipSoon);
}

int ReportListView::ColumnCount() const
{
    return static_cast<int>(columns.size());
}

void ReportListView::EnableColumnHiding(int column, bool enable)
{
    // Column 0 holds the row itself (its item data, its focus mark): it always stays.
    if (column <= 0 || column >= ColumnCount() || columns[column].hideable == enable)
        return;
    if (enable) {
        columns[column].hideable = true;
        ++hideableCount;
    } else {
        SetColumnVisible(column, true);
        columns[column].hideable = false;
        --hideableCount;
    }
}

void ReportListView::SetColumnVisible(int column, bool visible)
{
    if (column < 0 || column >= ColumnCount() || visible == IsColumnVisible(column))
        return;
    Column& col = columns[column];
    QHeaderView* h = header();
    if (!visible) {
        if (!col.hideable)
            return;
        col.savedWidth = h->sectionSize(column);
        h->hideSection(column);
    } else {
        h->showSection(column);
        h->resizeSection(column, col.savedWidth);
    }
    viewport()->update();
}

bool ReportListView::IsColumnVisible(int column) const
{
    return column >= 0 && column < ColumnCount() && !header()->isSectionHidden(column);
}

int ReportListView::ColumnWidth(int column) const
{
    if (column < 0 || column >= ColumnCount())
        return 0;
    return IsColumnVisible(column) ? header()->sectionSize(column) : columns[column].savedWidth;
}

void ReportListView::SetWidth(int column, int width)
{
    if (IsColumnVisible(column))
        header()->resizeSection(column, width);
    else
        columns[column].savedWidth = width;
}

int ReportListView::FirstVisibleColumn() const
{
    const QHeaderView* h = header();
    for (int visual = 0; visual < h->count(); ++visual) {
        const int logical = h->logicalIndex(visual);
        if (!h->isSectionHidden(logical))
            return logical;
    }
    return 0;
}

void ReportListView::EnableSortArrow(bool enable)
{
    sortArrow = enable;
    UpdateSortIndicator();
}

void ReportListView::EnableSortTint(bool enable)
{
    sortTint = enable;
    UpdateTint();
}

void ReportListView::SetSortColumn(int signedColumn)
{
    if (std::abs(static_cast<long long>(signedColumn)) > ColumnCount())
        return;
    sortColumn = signedColumn;
    UpdateSortIndicator();
}

void ReportListView::UpdateTint()
{
    tint = QColor();
    if (sortTint) {
        const QColor base = palette().color(QPalette::Base).toRgb();
        const std::optional<Rgb> t = SortTint(
            Rgb{static_cast<uint8_t>(base.red()), static_cast<uint8_t>(base.green()), static_cast<uint8_t>(base.blue())},
            depth());
        if (t)
            tint = QColor(t->r, t->g, t->b);
    }
    viewport()->update();
}

int ReportListView::TintedColumn() const
{
    if (!sortTint || !tint.isValid() || sortColumn == 0)
        return -1;
    const int column = std::abs(sortColumn) - 1;
    return IsColumnVisible(column) ? column : -1;
}

void ReportListView::UpdateSortIndicator()
{
    QHeaderView* h = header();
    h->setSortIndicatorShown(sortArrow && sortColumn != 0);
    if (sortColumn == 0)
        h->setSortIndicator(-1, Qt::AscendingOrder);
    else
        h->setSortIndicator(std::abs(sortColumn) - 1, sortColumn > 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
    viewport()->update();  // the tint follows the sort column
}

void ReportListView::OnSectionClicked(int logicalColumn)
{
    if (logicalColumn < 0 || logicalColumn >= ColumnCount())
        return;
    // The header has already moved its own mark by its rules; ours decide.
    sortColumn = std::abs(sortColumn) - 1 == logicalColumn ? -sortColumn : logicalColumn + 1;
    UpdateSortIndicator();
    emit columnClicked(logicalColumn);
}

void ReportListView::ShowHeaderMenu(const QPoint& globalPos)
{
    QMenu menu(this);
    for (int column = 0; column < ColumnCount(); ++column) {
        QString title = model()->headerData(column, Qt::Horizontal).toString();
        title.replace(QLatin1Char('&'), QStringLiteral("&&"));  // a title is no mnemonic
        QAction* action = menu.addAction(title);
        action->setCheckable(true);
        action->setChecked(IsColumnVisible(column));
        action->setEnabled(columns[column].hideable);
        connect(action, &QAction::triggered, this, [this, column](bool checked) { SetColumnVisible(column, checked); });
    }
    menu.exec(globalPos);
}

int ReportListView::RowCount() const
{
    return model()->rowCount();
}

QString ReportListView::Text(int row, int column) const
{
    return model()->index(row, column).data().toString();
}

int ReportListView::RowData(int row) const
{
    bool ok = false;
    const int data = model()->index(row, 0).data(Qt::UserRole).toInt(&ok);
    return ok ? data : -1;
}

QList<int> ReportListView::SelectedRows() const
{
    QList<int> rows;
    if (!selectionModel())
        return rows;
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.append(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void ReportListView::SelectRows(const QList<int>& rows)
{
    QItemSelection selection;
    int focus = -1;
    for (int row : rows) {
        if (row < 0 || row >= RowCount())
            continue;
        selection.select(model()->index(row, 0), model()->index(row, std::max(ColumnCount() - 1, 0)));
        focus = row;  // each row takes the focus mark in turn: the last one keeps it
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (focus >= 0) {
        // Moving the focus mark scrolls to it; a refresh must not move the user's view.
        const int v = verticalScrollBar()->value();
        const int h = horizontalScrollBar()->value();
        selectionModel()->setCurrentIndex(model()->index(focus, FirstVisibleColumn()), QItemSelectionModel::NoUpdate);
        verticalScrollBar()->setValue(v);
        horizontalScrollBar()->setValue(h);
    }
}

void ReportListView::ScrollToRow(int row)
{
    if (row < 0 || row >= RowCount())
        return;
    const int h = horizontalScrollBar()->value();
    scrollTo(model()->index(row, FirstVisibleColumn()), QAbstractItemView::EnsureVisible);
    horizontalScrollBar()->setValue(h);
}

bool ReportListView::AtEnd() const
{
    // Rows appended since the last pass of the event loop count: lay them out first.
    const_cast<ReportListView*>(this)->executeDelayedItemsLayout();
    const QScrollBar* bar = verticalScrollBar();
    return bar->value() >= bar->maximum();
}

bool ReportListView::SaveState(ProfileStore& store, std::string_view section, std::string_view key) const
{
    if (columns.empty())
        return false;
    ListState state;
    state.sortColumn = sortColumn;
    for (int column = 0; column < ColumnCount(); ++column) {
        state.columns.push_back(ListColumnState{IsColumnVisible(column) || !columns[column].hideable,
                                                static_cast<uint32_t>(ColumnWidth(column)),
                                                static_cast<uint32_t>(header()->visualIndex(column))});
    }
    store.WriteBytes(section, key, EncodeListState(state));
    return true;
}

void ReportListView::RestoreState(const ProfileStore& store, std::string_view section, std::string_view key)
{
    if (columns.empty())
        return;
    const std::vector<uint8_t> block = store.GetBytes(section, key);
    if (block.empty())
        return;
    const std::optional<ListStateRestore> restore = DecodeListState(block, columns.size());
    if (!restore)
        return;
    SetSortColumn(restore->sortColumn);
    QHeaderView* h = header();
    const uint32_t widest = static_cast<uint32_t>(h->maximumSectionSize());
    for (size_t i = 0; i < restore->columns.size(); ++i) {
        const ListColumnState& c = restore->columns[i];
        const int column = static_cast<int>(i);
        if (columns[i].hideable && c.visible != IsColumnVisible(column))
            SetColumnVisible(column, c.visible);
        SetWidth(column, static_cast<int>(std::min(c.width, widest)));
    }
    if (!restore->applyOrder)
        return;
    // Fill the positions from the left; each move leaves the ones already placed alone.
    for (int position = 0; position < ColumnCount(); ++position) {
        for (size_t i = 0; i < restore->columns.size(); ++i) {
            if (restore->columns[i].order == static_cast<uint32_t>(position)) {
                h->moveSection(h->visualIndex(static_cast<int>(i)), position);
                break;
            }
        }
    }
}

bool ReportListView::viewportEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseMove:
        UpdateTip(static_cast<QMouseEvent*>(event)->position().toPoint());
        break;
    case QEvent::Leave:
    case QEvent::ContextMenu:
        ForgetTip();
        break;
    default:
        break;
    }
    return QTreeView::viewportEvent(event);
}

void ReportListView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        UpdateTint();
    else if (event->type() == QEvent::FontChange)
        ForgetTip();
    QTreeView::changeEvent(event);
}

void ReportListView::hideEvent(QHideEvent* event)
{
    ForgetTip();
    QTreeView::hideEvent(event);
}

void ReportListView::UpdateTip(const QPoint& viewportPos)
{
    const QModelIndex index = indexAt(viewportPos);
    if (tipCell == index)
        return;  // still the same cell: the tip stays as it is
    tipCell = index;
    tip->hide();
    if (!index.isValid())
        return;
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty())
        return;
    const QRect cell = visualRect(index);
    const QRect shown = cell.intersected(viewport()->rect());
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = cell;
    // The delegate's own measure: text, margins and any icon space.
    if (itemDelegateForIndex(index)->sizeHint(option, index).width() <= shown.width())
        return;

    // Line the tip's text up with the cell's.
    const int textMargin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    tip->setMargin(std::max(textMargin - tip->frameWidth(), 0));
    tip->setPalette(QToolTip::palette());
    tip->setFont(font());
    tip->setText(text);
    QRect geometry(viewport()->mapToGlobal(shown.topLeft()), tip->sizeHint());
    geometry.setHeight(std::max(geometry.height(), cell.height()));
    if (const QScreen* s = screen()) {
        const QRect area = s->availableGeometry();
        if (geometry.right() > area.right())
            geometry.moveRight(area.right());
        if (geometry.left() < area.left())
            geometry.moveLeft(area.left());
    }
    tip->setGeometry(geometry);
    tip->show();
    tip->raise();
}

void ReportListView::ForgetTip()
{
    tipCell = QPersistentModelIndex();
    tip->hide();
}

void ReportListView::RecheckTipSoon()
{
    ForgetTip();
    if (tipRecheckQueued)
        return;
    tipRecheckQueued = true;
    QTimer::singleShot(0, this, [this] {
        tipRecheckQueued = false;
        if (isVisible() && viewport()->underMouse())
            UpdateTip(viewport()->mapFromGlobal(QCursor::pos()));
    });
}

ReportListView* ReportListView::FillPage(QWidget* page, QAbstractItemModel* rows, std::span<const ListColumn> columns,
                                        int keyColumn)
{
    auto* list = new ReportListView(page);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list);
    list->SetRows(rows, columns);
    for (int c = 0; c < list->ColumnCount(); ++c)
        list->EnableColumnHiding(c, c != keyColumn);
    // The rows start in the order of column 0, ascending, and the mark says so: the first click
    // on it then turns rows and mark together.
    list->EnableSortArrow(true);
    list->SetSortColumn(1);
    return list;
}

}  // namespace zpmoni
