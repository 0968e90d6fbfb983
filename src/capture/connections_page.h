// SPDX-License-Identifier: MIT
#pragma once

#include "capture/connection_list.h"
#include "capture/player_list_page.h"

#include <QTimer>

namespace zpmoni {

class Clock;
class ConnectionsOrder;
class PlayerTable;
class ReportRows;

// The connections tab: the players online, brought up to date once a second while the page is
// shown.
class ConnectionsPage final : public PlayerListPage {
    Q_OBJECT
public:
    ConnectionsPage(PlayerTable& players, const ProfileStore& profile, const Clock& clock,
                    QWidget* parent = nullptr);

    void Refresh();
    // Clears the selected players' records.
    void DeleteSelected();

protected:
    void showEvent(QShowEvent* event) override;
    void AddMenuEntries(QMenu& menu) override;

private:
    PlayerTable& players;
    const Clock& clock;
    ReportRows* rows;
    ConnectionsOrder* order;
    QTimer timer;
};

}  // namespace zpmoni
