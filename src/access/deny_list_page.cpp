// SPDX-License-Identifier: MIT
#include "access/deny_list_page.h"

#include "access/deny_file.h"
#include "base/ipv4_address.h"

#include <QDateTime>
#include <QIntValidator>

#include <QGridLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTreeWidget>

#include <algorithm>
#include <array>

namespace zpmoni {

namespace {

constexpr int kFieldRole = Qt::UserRole;  // the entry's own bytes, column by column

// What an address field holds; fields left blank count as 0.
Ipv4Address FieldValue(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value = value << 8 | (i < parts.size() ? (parts[i].toUInt() & 0xFF) : 0);
    return Ipv4Address(value);
}

// Dotted text, then (for the address) a prefix length, or (for the mask) a prefix length alone.
QLineEdit* AddressField(const char* objectName, bool isMask, QWidget* parent)
{
    static const QString kDotted = QStringLiteral(
        "((25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])?\\.){0,3}(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])?");
    static const QString kPrefix = QStringLiteral("/(3[0-2]|[12]?[0-9])?");
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(objectName));
    const QRegularExpression form(isMask ? kDotted + "|" + kPrefix : kDotted + "(" + kPrefix + ")?");
    edit->setValidator(new QRegularExpressionValidator(form, edit));
    return edit;
}

// The field's dotted part completed with zeros, its "/N" kept.
std::string FieldBlockText(const QLineEdit* edit)
{
    const QString text = edit->text();
    const qsizetype slash = text.indexOf(QLatin1Char('/'));
    if (slash == 0)
        return text.toStdString();
    return FieldValue(slash < 0 ? text : text.left(slash)).ToString() + (slash < 0 ? "" : text.mid(slash).toStdString());
}

QString FieldText(const std::string& text)
{
    const std::optional<Ipv4Address> value = Ipv4Address::Parse(text, Ipv4Address::LeadingZeros::Decimal);
    // What an address that does not read gives.
    return QString::fromStdString(value.value_or(Ipv4Address(0xFFFFFFFF)).ToString());
}

}  // namespace

DenyListPage::DenyListPage(const DenyList& list, const DenyRuleset* inForce, QWidget* parent)
    : SettingsPage(QString::fromUtf8("拒否リスト"), parent), list(list), inForce(inForce)
{
}

QString DenyListPage::InForceText(const DenyEntry& entry, const DenyRuleset* rules, bool* held)
{
    const DenyMatch m = MatchOf(entry);
    const bool in = m.kind == DenyMatch::Enforced && (!rules || rules->Covers(m));
    if (held)
        *held = in;
    switch (m.kind) {
    case DenyMatch::BadAddress:
        return QString::fromUtf8("適用されません (IPアドレスが不正)");
    case DenyMatch::BadMask:
        return QString::fromUtf8("適用されません (サブネットマスクが不正)");
    case DenyMatch::Enforced:
        break;
    }
    const QString block = QString::fromStdString(m.Text());
    return in ? block : block + QString::fromUtf8(" 適用されていません");
}

void DenyListPage::BuildControls()
{
    address = AddressField("address", false, this);
    mask = AddressField("mask", true, this);
    comment = new QLineEdit(this);
    comment->setObjectName(QStringLiteral("comment"));
    expiry = new QLineEdit(this);
    expiry->setObjectName(QStringLiteral("expiry"));
    expiry->setValidator(new QIntValidator(1, 5256000, expiry));  // ten years of minutes
    expiry->setPlaceholderText(QString::fromUtf8("無期限"));
    auto* add = new QPushButton(QString::fromUtf8("リストに追加"), this);
    add->setObjectName(QStringLiteral("add"));
    auto* remove = new QPushButton(QString::fromUtf8("選択IPを削除"), this);
    remove->setObjectName(QStringLiteral("remove"));
    rows = new QTreeWidget(this);
    rows->setObjectName(QStringLiteral("rows"));
    rows->setRootIsDecorated(false);
    rows->setSelectionMode(QAbstractItemView::ExtendedSelection);
    rows->setSelectionBehavior(QAbstractItemView::SelectRows);
    rows->setHeaderLabels({QString::fromUtf8("IPアドレス"), QString::fromUtf8("サブネットマスク"),
                           QString::fromUtf8("コメント"), QString::fromUtf8("適用範囲")});
    // 100 pixels each, or what a full dotted address needs in the font in use.
    const int width = std::max(100, rows->fontMetrics().horizontalAdvance(QStringLiteral("255.255.255.255")) + 16);
    rows->header()->resizeSection(0, width);
    rows->header()->resizeSection(1, width);
    rows->header()->resizeSection(2, width);
    rows->header()->setStretchLastSection(true);
    rows->installEventFilter(this);

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QString::fromUtf8("拒否IPアドレス"), this), 0, 0);
    grid->addWidget(address, 0, 1);
    grid->addWidget(new QLabel(QString::fromUtf8("サブネットマスク"), this), 0, 2);
    grid->addWidget(mask, 0, 3);
    grid->addWidget(new QLabel(QString::fromUtf8("コメント"), this), 1, 0);
    grid->addWidget(comment, 1, 1);
    grid->addWidget(new QLabel(QString::fromUtf8("期限 (分)"), this), 1, 2);
    grid->addWidget(expiry, 1, 3);
    grid->addWidget(add, 2, 1);
    grid->addWidget(remove, 2, 3);
    grid->addWidget(rows, 3, 0, 1, 4);
    grid->setRowStretch(3, 1);
    // The server listens on IPv4 only, and so the rules drop IPv4 only.
    grid->addWidget(new QLabel(QString::fromUtf8("IPv4 のみ: IPv6 の通信はこのリストでは拒否されません"), this), 4, 0, 1, 4);

    for (const DenyEntry& entry : list)
        AddRow(entry);
    ResetControls();
    connect(add, &QPushButton::clicked, this, &DenyListPage::OnAdd);
    connect(remove, &QPushButton::clicked, this, &DenyListPage::OnRemove);
    connect(rows, &QTreeWidget::itemSelectionChanged, this, &DenyListPage::OnSelectionChanged);
}

void DenyListPage::AddRow(const DenyEntry& entry, bool added)
{
    auto* item = new QTreeWidgetItem(rows);
    const std::array<const std::string*, 3> fields{&entry.address, &entry.mask, &entry.comment};
    for (int c = 0; c < 3; ++c) {
        item->setText(c, Shown(*fields[static_cast<size_t>(c)]));
        item->setData(c, kFieldRole, QByteArray::fromStdString(*fields[static_cast<size_t>(c)]));
    }
    // A row added here goes in force with the sheet's OK, as its block says.
    bool held = false;
    const QString mark = InForceText(entry, added ? nullptr : inForce, &held);
    item->setText(3, mark);
    if (!held) {
        QFont italic = item->font(0);
        italic.setItalic(true);
        for (int c = 0; c < 4; ++c) {
            item->setForeground(c, QBrush(Qt::gray));
            item->setFont(c, italic);
            item->setToolTip(c, mark);
        }
    }
}

DenyList DenyListPage::List() const
{
    if (!Created())
        return list;
    DenyList entries;
    for (int r = 0; r < rows->topLevelItemCount(); ++r) {
        const QTreeWidgetItem* item = rows->topLevelItem(r);
        entries.push_back({item->data(0, kFieldRole).toByteArray().toStdString(),
                           item->data(1, kFieldRole).toByteArray().toStdString(),
                           item->data(2, kFieldRole).toByteArray().toStdString()});
    }
    return entries;
}

void DenyListPage::ResetControls()
{
    address->setText(QStringLiteral("0.0.0.0"));
    mask->setText(QStringLiteral("255.255.255.255"));
    comment->clear();
    expiry->clear();
}

void DenyListPage::OnAdd()
{
    DenyEntry entry{FieldValue(address->text()).ToString(), FieldValue(mask->text()).ToString(),
                    comment->text().toStdString()};
    if (address->text().contains(QLatin1Char('/')) || mask->text().startsWith(QLatin1Char('/'))) {
        DenyEntry block{FieldBlockText(address), mask->text().toStdString(), {}};
        if (!ReadBlockNotation(block)) {
            // The address must be the block's first: 198.51.100.7/24 may mean either.
            Message(QString::fromUtf8("ブロックの表記が不正です (a.b.c.0/24 のように先頭のアドレスで)"));
            return;
        }
        entry.address = block.address;
        entry.mask = block.mask;
    }
    if (!Ipv4Address::Parse(entry.mask)->IsPrefixMask()) {
        Message(QString::fromUtf8("サブネットマスクが不正です"));
        return;
    }
    if (const int minutes = expiry->text().toInt(); minutes > 0) {
        const int64_t now = QDateTime::currentSecsSinceEpoch();
        entry.comment = deny_file::FormatComment({entry.comment, "window", now, now + int64_t{minutes} * 60});
    }
    if (const DenyMatch m = MatchOf(entry); m.Wide()) {
        const auto answer = QMessageBox::question(
            this, QGuiApplication::applicationDisplayName(),
            QString::fromUtf8("%1 のすべてのアドレスを拒否します。よろしいですか?").arg(QString::fromStdString(m.Text())),
            QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel);
        if (answer != QMessageBox::Ok)
            return;
    }
    AddRow(entry, true);
    rows->scrollToItem(rows->topLevelItem(rows->topLevelItemCount() - 1));
    ResetControls();
}

void DenyListPage::OnRemove()
{
    int last = -1;
    while (!rows->selectedItems().isEmpty()) {
        // Always the first selected row, as the list shows them.
        int first = rows->topLevelItemCount();
        for (QTreeWidgetItem* item : rows->selectedItems())
            first = std::min(first, rows->indexOfTopLevelItem(item));
        delete rows->takeTopLevelItem(first);
        last = first;
    }
    if (last < 0)
        return;
    if (const int count = rows->topLevelItemCount(); count > 0) {
        QTreeWidgetItem* next = rows->topLevelItem(std::min(last, count - 1));
        rows->setCurrentItem(next);
        next->setSelected(true);
    }
    rows->setFocus();
}

void DenyListPage::OnSelectionChanged()
{
    QTreeWidgetItem* item = rows->currentItem();
    if (!item || !item->isSelected()) {
        const QList<QTreeWidgetItem*> selected = rows->selectedItems();
        item = selected.isEmpty() ? nullptr : selected.front();
    }
    if (!item) {
        ResetControls();
        return;
    }
    address->setText(FieldText(item->data(0, kFieldRole).toByteArray().toStdString()));
    mask->setText(FieldText(item->data(1, kFieldRole).toByteArray().toStdString()));
    comment->setText(item->text(2));
}

bool DenyListPage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == rows && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        OnRemove();
        return true;
    }
    return SettingsPage::eventFilter(watched, event);
}

}  // namespace zpmoni
