// SPDX-License-Identifier: MIT
#include "capture/player_list_page.h"

#include "base/profile_store.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QShortcut>

namespace zpmoni {

PlayerListPage::PlayerListPage(const PlayerListLayout& layout, QAbstractItemModel* rows, const ProfileStore& store,
                               QWidget* parent)
    : QWidget(parent), layout(layout)
{
    rows->setParent(this);
    list = ReportListView::FillPage(this, rows, layout.columns, layout.userColumn);
    list->RestoreState(store, layout.section, "ListCtrl");
    connect(list, &ReportListView::rowMenuRequested, this, &PlayerListPage::ShowMenu);
    AddShortcut(QKeySequence(Qt::CTRL | Qt::Key_C), [this] { Copy(); });
}

void PlayerListPage::AddShortcut(const QKeySequence& keys, std::function<void()> act)
{
    auto* shortcut = new QShortcut(keys, this);
    shortcut->setContext(Qt::WidgetWithChildrenShortcut);
    connect(shortcut, &QShortcut::activated, this, std::move(act));
}

void PlayerListPage::Copy()
{
    const QList<int> rows = list->SelectedRows();
    if (rows.isEmpty())
        return;
    QGuiApplication::clipboard()->setText(list->Text(rows.first(), layout.copyColumn).left(layout.copyLength));
}

void PlayerListPage::DenyAccess()
{
    const QList<int> rows = list->SelectedRows();
    if (rows.isEmpty() || !denyAccess)
        return;
    const QAbstractItemModel* shown = list->model();
    denyAccess(list->Text(rows.first(), layout.addressColumn).toStdString(),
               shown->index(rows.first(), layout.userColumn).data(kBytesRole).toByteArray().toStdString());
}

void PlayerListPage::ShowMenu(const QPoint& globalPos)
{
    QMenu menu(this);
    menu.addAction(QString::fromUtf8(layout.copyTitle), this, &PlayerListPage::Copy);
    menu.addAction(QString::fromUtf8("アクセス禁止(&A)"), this, &PlayerListPage::DenyAccess)
        ->setEnabled(static_cast<bool>(denyAccess));
    AddMenuEntries(menu);
    menu.exec(globalPos);
}

void PlayerListPage::SaveState(ProfileStore& store)
{
    list->SaveState(store, layout.section, "ListCtrl");
}

}  // namespace zpmoni
