// SPDX-License-Identifier: MIT
#pragma once

#include "platform/window_system.h"

#include <QDialog>

#include <functional>
#include <optional>

class QPushButton;

namespace zpmoni {

class ServerService;

// The window finder: searches for a running simulator's window and offers to put it under
// control.
class FindWindowDialog final : public QDialog {
    Q_OBJECT
public:
    // Looks for the window and hands what it found to the callback later, on the main thread.
    using Search = std::function<void(std::function<void(std::optional<WindowInfo>)>)>;
    FindWindowDialog(Search search, std::function<void(WindowId)> show, QWidget* parent = nullptr);

    const std::optional<WindowInfo>& Found() const { return found; }
    QPushButton* SearchButton() const { return searchButton; }
    QPushButton* ControlButton() const { return controlButton; }
    // The search button's work (without the message box when `quiet`): the button waits for
    // the answer.
    void OnSearch(bool quiet = false);

private:
    void Searched(std::optional<WindowInfo> window, bool quiet);

    Search search;
    std::function<void(WindowId)> show;
    std::optional<WindowInfo> found;
    QPushButton* searchButton = nullptr;
    QPushButton* controlButton = nullptr;
};

// The take-control command: refused while a server is under control; otherwise the window
// finder, and control of the found window when it is confirmed.
void TakeControl(QWidget* parent, ServerService& server);

}  // namespace zpmoni
