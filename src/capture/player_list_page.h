// SPDX-License-Identifier: MIT
#pragma once

#include "ui/report_list_view.h"

#include <QWidget>

#include <functional>
#include <span>
#include <string>
#include <string_view>

class QAbstractItemModel;
class QKeySequence;
class QMenu;

namespace zpmoni {

class ProfileStore;

// What sets one list of players apart from the other, besides its rows.
struct PlayerListLayout {
    std::string_view section;  // where the column layout is kept, key ListCtrl
    std::span<const ListColumn> columns;
    int userColumn;     // never hidden; the deny entry's comment
    int addressColumn;  // the deny entry's address
    int copyColumn;     // what Ctrl+C and the first menu entry copy
    int copyLength;
    const char* copyTitle;
};

// A tab listing players: the report list over the tab's rows, its menu, Ctrl+C and the
// deny-access command.
class PlayerListPage : public QWidget {
    Q_OBJECT
public:
    // The first selected row's text of the copy column, cut to its length.
    void Copy();
    // The deny-access command: the first selected row's address, its user name as the comment.
    using DenyAccessFn = std::function<void(const std::string& address, const std::string& comment)>;
    void SetDenyAccess(DenyAccessFn deny) { denyAccess = std::move(deny); }
    void DenyAccess();
    // The list's column layout goes to the page's section, key ListCtrl.
    void SaveState(ProfileStore& store);

    ReportListView* List() { return list; }

protected:
    PlayerListPage(const PlayerListLayout& layout, QAbstractItemModel* rows, const ProfileStore& store,
                   QWidget* parent);
    // The page's own menu entries, after those of every list of players.
    virtual void AddMenuEntries(QMenu&) {}
    void AddShortcut(const QKeySequence& keys, std::function<void()> act);

    ReportListView* list;

private:
    void ShowMenu(const QPoint& globalPos);

    const PlayerListLayout& layout;
    DenyAccessFn denyAccess;
};

}  // namespace zpmoni
