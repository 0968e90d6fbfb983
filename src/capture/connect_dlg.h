// SPDX-License-Identifier: MIT
#pragma once

#include "capture/connection_list.h"

#include <QTimer>
#include <QWidget>

class CListCtrlEx;
class CZpmoniApp;
class ProfileStore;

// The connections tab: the players online, refreshed once a second while the page is shown.
class CConnectDlg final : public QWidget {
    Q_OBJECT
public:
    explicit CConnectDlg(CZpmoniApp& app, QWidget* parent = nullptr);

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

    CZpmoniApp& app;
    CListCtrlEx* list;
    QTimer timer;
    connection_list::Sort sort;
};
