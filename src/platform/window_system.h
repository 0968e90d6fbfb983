// SPDX-License-Identifier: MIT
#pragma once

#include "base/server_state.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zpmoni {

// How a key reaches the simulator: a key press of the graphical window, or a character typed
// into the console server.
enum class KeyKind { KeyDown, Char };

// What a window is to the supervisor: a program's own top-level window, a dialog or message
// box that another window owns, a menu that pops up over it, or a console server's pane.
enum class WindowKind { Main, Dialog, Menu, Console };

// What the supervisor learns about a top-level window.
struct WindowInfo {
    WindowId id = 0;
    std::string className;  // the X11 class (WM_CLASS); "" for a console pane
    std::string title;
    uint32_t pid = 0;       // 0 when the window does not say
    WindowKind kind = WindowKind::Main;
    // A window of its own, not a pop-up of another one.
    bool TopLevel() const { return kind == WindowKind::Main || kind == WindowKind::Console; }
};

// The windows of other programs: X11 windows of the graphical executables and the console
// panes of the console server. Any thread, one at a time; each call may wait for tmux or the X
// server, so the event loop reaches them through WindowAccess. Without a display or a console
// the lists are empty and posts reach nobody.
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

// The window system as the event loop reaches it: every call runs on a thread of its own, in
// the order posted, and what it found comes back to the main thread.
class WindowAccess {
public:
    virtual ~WindowAccess() = default;
    // Any thread. `work` runs later with the window system; `answer` (may be empty) after it,
    // on the main thread.
    virtual void Post(std::function<void(WindowSystem&)> work, std::function<void()> answer = {}) = 0;
    // The main thread, at the monitor's end: runs everything posted so far, answers included.
    virtual void Drain() = 0;

    // `work`'s value handed to `answer` on the main thread.
    template <class R>
    void Ask(std::function<R(WindowSystem&)> work, std::function<void(R)> answer)
    {
        auto value = std::make_shared<std::optional<R>>();
        Post([value, work = std::move(work)](WindowSystem& w) { value->emplace(work(w)); },
             [value, answer = std::move(answer)] {
                 if (*value)
                     answer(std::move(**value));
             });
    }
};

// The window system behind a queue of its own.
std::unique_ptr<WindowAccess> MakeWindowAccess(std::unique_ptr<WindowSystem> windows);

// The X11 display of $DISPLAY (connected when first needed, again after it was lost) and the
// console panes of the tmux socket `consoleSocket` and of the user's default tmux socket.
std::unique_ptr<WindowSystem> MakeWindowSystem(const std::string& consoleSocket);

}  // namespace zpmoni
