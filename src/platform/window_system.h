// SPDX-License-Identifier: MIT
#pragma once

#include "base/server_state.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zpmoni {

// How a key reaches the simulator: a key press of the graphical window, or a character typed
// into the console server.
enum class KeyKind { KeyDown, Char };

// What the supervisor learns about a top-level window.
struct WindowInfo {
    WindowId id = 0;
    std::string className;  // "#32768" for menus
    std::string title;
    uint32_t pid = 0;       // 0 when the window does not say
    bool hasOwner = false;  // a pop-up of another window, not a top-level one of its own
};

// The windows of other programs: X11 windows of the graphical executables and the console
// panes of the console server. Everything may be called on the main thread; PostKey also from
// any other thread. Without a display or a console the lists are empty and posts reach nobody.
class WindowSystem {
public:
    virtual ~WindowSystem() = default;
    // Top-level windows, topmost first.
    virtual std::vector<WindowInfo> TopLevelWindows() = 0;
    // The topmost mapped pop-up owned by the window, if any.
    virtual std::optional<WindowInfo> EnabledPopup(WindowId owner) = 0;
    // False only when the window is known to be gone; a display or tmux that does not answer
    // leaves it standing.
    virtual bool IsWindow(WindowId w) = 0;
    virtual bool IsIconic(WindowId w) = 0;
    virtual void PostClose(WindowId w) = 0;
    virtual void PostMinimize(WindowId w) = 0;
    virtual void ShowAndRaise(WindowId w) = 0;
    // code is the key's letter in upper case ('R') or 27 for Escape.
    virtual void PostKey(WindowId w, KeyKind kind, uint8_t code) = 0;
    // The top-level windows where a server of that kind is started: the console panes of the
    // monitor's own socket, or the graphical windows.
    virtual std::vector<WindowInfo> ServerWindows(bool console)
    {
        (void)console;
        return TopLevelWindows();
    }
    // The process of a top-level window, 0 when it is gone or not known.
    virtual uint32_t WindowPid(WindowId w)
    {
        for (const WindowInfo& info : TopLevelWindows())
            if (info.id == w)
                return info.pid;
        return 0;
    }
};

// The X11 display of $DISPLAY (connected when first needed, again after it was lost) and the
// console panes of the tmux socket `consoleSocket` and of the user's default tmux socket.
std::unique_ptr<WindowSystem> MakeWindowSystem(const std::string& consoleSocket);

}  // namespace zpmoni
