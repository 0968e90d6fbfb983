// SPDX-License-Identifier: MIT
#pragma once

#include "capture/event_log.h"
#include "capture/player_list_page.h"

namespace zpmoni {

// The log tab: one row per log-on, log-off and join, newest at the bottom, at most `ListLine`.
class EventListPage final : public PlayerListPage, public EventRowSink {
    Q_OBJECT
public:
    EventListPage(const ProfileStore& store, const int& listLine, QWidget* parent = nullptr);

    // Keeps the newest row in view if the view showed the end.
    void AppendRow(const EventRow& row) override;
    ReportRows* Rows() { return rows; }

private:
    ReportRows* rows;
    const int& listLine;
};

}  // namespace zpmoni
