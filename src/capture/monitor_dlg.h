// SPDX-License-Identifier: MIT
#pragma once

#include "capture/event_log.h"

#include <QWidget>

class CListCtrlEx;
class ProfileStore;

// The log tab: one row per log-on, log-off and join, newest at the bottom, at most `ListLine`.
class CMonitorDlg final : public QWidget, public EventRowSink {
    Q_OBJECT
public:
    CMonitorDlg(const ProfileStore& store, const int& listLine, QWidget* parent = nullptr);

    void AppendRow(const EventRow& row) override;
    void CopyAddress();
    // The list's column layout goes to MonitorDlg / ListCtrl.
    void SaveState(ProfileStore& store);

    CListCtrlEx* List() { return list; }

private:
    void ShowMenu(const QPoint& globalPos);

    CListCtrlEx* list;
    const int& listLine;
};
