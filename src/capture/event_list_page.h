// SPDX-License-Identifier: MIT
#pragma once

#include "capture/event_log.h"

#include <QWidget>

#include <deque>
#include <functional>
#include <string>

namespace zpmoni {

class ReportListView;
class ProfileStore;

// The log tab: one row per log-on, log-off and join, newest at the bottom, at most `ListLine`.
class EventListPage final : public QWidget, public EventRowSink {
    Q_OBJECT
public:
    EventListPage(const ProfileStore& store, const int& listLine, QWidget* parent = nullptr);

    void AppendRow(const EventRow& row) override;
    void CopyAddress();
    // The deny-access command: the first selected row's address, its user name as the comment.
    using DenyAccessFn = std::function<void(const std::string& address, const std::string& comment)>;
    void SetDenyAccess(DenyAccessFn deny) { denyAccess = std::move(deny); }
    void DenyAccess();
    // The list's column layout goes to MonitorDlg / ListCtrl.
    void SaveState(ProfileStore& store);

    ReportListView* List() { return list; }

private:
    void ShowMenu(const QPoint& globalPos);

    ReportListView* list;
    const int& listLine;
    DenyAccessFn denyAccess;
    std::deque<std::string> rowUsers;  // each row's user name as received, for the deny list
};

}  // namespace zpmoni
