// SPDX-License-Identifier: MIT
#pragma once

#include "capture/connection_list.h"

#include <QTimer>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

namespace zpmoni {

class ReportListView;
class Clock;
class PlayerTable;
class ProfileStore;

// The connections tab: the players online, refreshed once a second while the page is shown.
class ConnectionsPage final : public QWidget {
    Q_OBJECT
public:
    ConnectionsPage(PlayerTable& players, const ProfileStore& profile, const Clock& clock,
                QWidget* parent = nullptr);

    void Refresh();
    void CopyHostName();
    void DeleteSelected();
    // The deny-access command: the first selected row's address, its user name as the comment.
    using DenyAccessFn = std::function<void(const std::string& address, const std::string& comment)>;
    void SetDenyAccess(DenyAccessFn deny) { denyAccess = std::move(deny); }
    void DenyAccess();
    // The list's column layout goes to ConnectDlg / ListCtrl.
    void SaveState(ProfileStore& store);

    ReportListView* List() { return list; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ShowMenu(const QPoint& globalPos);

    PlayerTable& players;
    const Clock& clock;
    ReportListView* list;
    QTimer timer;
    connection_list::Sort sort;
    DenyAccessFn denyAccess;
    std::vector<std::string> rowUsers;  // each row's user name as received, for the deny list
};

}  // namespace zpmoni
