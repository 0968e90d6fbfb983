// SPDX-License-Identifier: MIT
#pragma once

#include "capture/connection_list.h"

#include <QTimer>
#include <QWidget>

class CListCtrlEx;
class Clock;
class PlayerTable;
class ProfileStore;

// The connections tab: the players online, refreshed once a second while the page is shown.
class CConnectDlg final : public QWidget {
    Q_OBJECT
public:
    CConnectDlg(PlayerTable& players, const ProfileStore& profile, const Clock& clock,
                QWidget* parent = nullptr);

    void Refresh();
    void CopyHostName();
    void DeleteSelected();
    // The list's column layout goes to ConnectDlg / ListCtrl.
    void SaveState(ProfileStore& store);

    CListCtrlEx* List() { return list; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ShowMenu(const QPoint& globalPos);

    PlayerTable& players;
    const Clock& clock;
    CListCtrlEx* list;
    QTimer timer;
    connection_list::Sort sort;
};
