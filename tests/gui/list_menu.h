// SPDX-License-Identifier: MIT
#pragma once

#include "ui/list_ctrl_ex.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QTimer>

#include <functional>

struct MenuEntry {
    QString title;
    bool checked;
    bool enabled;
};

// Opens the header menu by a right click on the header and gives the entries it showed; while
// it is open, `whileOpen` runs and the entry titled `choose`, if any, is triggered.
inline QList<MenuEntry> HeaderMenu(CListCtrlEx& list, const QString& choose = {},
                                   const std::function<void(QMenu&)>& whileOpen = {})
{
    QList<MenuEntry> entries;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        if (whileOpen)
            whileOpen(*menu);
        for (QAction* action : menu->actions()) {
            entries.append({action->text(), action->isChecked(), action->isEnabled()});
            if (action->text() == choose)
                action->trigger();
        }
        menu->close();
    });
    QHeaderView* h = list.header();
    const QPoint pos(5, h->height() / 2);
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, h->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(h->viewport(), &event);
    QApplication::processEvents();  // no menu: let the timer run and find none
    return entries;
}
