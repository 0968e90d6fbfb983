// SPDX-License-Identifier: MIT
#include "platform/window_system.h"

#include "platform/command_runner.h"

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>
#include <xcb/res.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <map>

namespace zpmoni {

namespace {

// ---- X11 ---------------------------------------------------------------------------------

// The windows of the graphical executables on $DISPLAY. One lock around the connection, which
// may be used from any thread.
class X11Windows {
public:
    ~X11Windows()
    {
        std::lock_guard guard(lock);
        Disconnect();
    }

    std::vector<WindowInfo> TopLevelWindows()
    {
        std::lock_guard guard(lock);
        std::vector<WindowInfo> result;
        if (!Connected())
            return result;
        for (xcb_window_t w : ClientWindows())
            result.push_back(Describe(w));
        return result;
    }

    std::optional<WindowInfo> EnabledPopup(xcb_window_t owner)
    {
        std::lock_guard guard(lock);
        if (!Connected())
            return std::nullopt;
        // Managed pop-ups and the unmanaged ones (menus) that sit on the root itself.
        std::vector<xcb_window_t> candidates = ClientWindows();
        for (xcb_window_t w : RootChildren())
            candidates.push_back(w);
        for (xcb_window_t w : candidates) {
            // Shown, or minimised together with its owner.
            if (w == owner || TransientFor(w) != owner || !(Viewable(w) || Iconic(w)))
                continue;
            WindowInfo info = Describe(w);
            if (IsMenu(w))
                info.kind = WindowKind::Menu;
            return info;
        }
        return std::nullopt;
    }

    bool IsWindow(xcb_window_t w)
    {
        std::lock_guard guard(lock);
        if (!Connected())
            return std::getenv("DISPLAY") != nullptr;  // a lost display tells nothing
        xcb_get_window_attributes_reply_t* r =
            xcb_get_window_attributes_reply(conn, xcb_get_window_attributes(conn, w), nullptr);
        std::free(r);
        return r != nullptr;
    }

    bool IsIconic(xcb_window_t w)
    {
        std::lock_guard guard(lock);
        return Connected() && Iconic(w);
    }

    uint32_t Pid(xcb_window_t w)
    {
        std::lock_guard guard(lock);
        return Connected() ? Describe(w).pid : 0;
    }

    void PostClose(xcb_window_t w)
    {
        std::lock_guard guard(lock);
        if (Connected())
            SendClientMessage(w, w, wmProtocols, {wmDeleteWindow, XCB_CURRENT_TIME}, 0);
    }

    void PostMinimize(xcb_window_t w)
    {
        std::lock_guard guard(lock);
        // What XIconifyWindow does: ask the window manager through the root.
        if (Connected())
            SendClientMessage(w, root, wmChangeState, {XCB_ICCCM_WM_STATE_ICONIC, 0},
                              XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT |
                                  XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
    }

    void ShowAndRaise(xcb_window_t w)
    {
        std::lock_guard guard(lock);
        if (!Connected())
            return;
        xcb_map_window(conn, w);
        const uint32_t above = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(conn, w, XCB_CONFIG_WINDOW_STACK_MODE, &above);
        xcb_ewmh_request_change_active_window(&ewmh, screenNumber, w,
                                              XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
                                              XCB_CURRENT_TIME, XCB_NONE);
        xcb_flush(conn);
    }

    void PostKey(xcb_window_t w, uint8_t code)
    {
        std::lock_guard guard(lock);
        if (!Connected())
            return;
        const xcb_keycode_t keycode = Keycode(code == 27 ? 0xff1b : (code | 0x20u));
        if (keycode == 0)
            return;
        for (uint8_t type : {XCB_KEY_PRESS, XCB_KEY_RELEASE}) {
            xcb_key_press_event_t e{};
            e.response_type = type;
            e.detail = keycode;
            e.time = XCB_CURRENT_TIME;
            e.root = root;
            e.event = w;
            e.child = XCB_NONE;
            e.same_screen = 1;
            xcb_send_event(conn, 1, w,
                           type == XCB_KEY_PRESS ? XCB_EVENT_MASK_KEY_PRESS
                                                 : XCB_EVENT_MASK_KEY_RELEASE,
                           reinterpret_cast<const char*>(&e));
        }
        xcb_flush(conn);
    }

private:
    // Connects when first needed and again after the display was lost, at most every 2 s.
    bool Connected()
    {
        if (conn && !xcb_connection_has_error(conn))
            return true;
        Disconnect();
        const auto now = std::chrono::steady_clock::now();
        if (now < nextTry || !std::getenv("DISPLAY"))
            return false;
        nextTry = now + std::chrono::seconds(2);
        conn = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(conn)) {
            xcb_disconnect(conn);
            conn = nullptr;
            return false;
        }
        xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(conn, &ewmh);
        if (!xcb_ewmh_init_atoms_replies(&ewmh, cookies, nullptr)) {
            xcb_disconnect(conn);
            conn = nullptr;
            return false;
        }
        ewmhReady = true;
        root = ewmh.screens[screenNumber]->root;
        // Client pids need X-Resource 1.2.
        const xcb_query_extension_reply_t* res = xcb_get_extension_data(conn, &xcb_res_id);
        xcb_res_query_version_reply_t* version =
            res && res->present ? xcb_res_query_version_reply(conn, xcb_res_query_version(conn, 1, 2), nullptr) : nullptr;
        hasRes = version && (version->server_major > 1 || (version->server_major == 1 && version->server_minor >= 2));
        std::free(version);
        wmState = Atom("WM_STATE");
        wmChangeState = Atom("WM_CHANGE_STATE");
        wmProtocols = Atom("WM_PROTOCOLS");
        wmDeleteWindow = Atom("WM_DELETE_WINDOW");
        LoadKeymap();
        return true;
    }

    void Disconnect()
    {
        if (ewmhReady)
            xcb_ewmh_connection_wipe(&ewmh);
        ewmhReady = false;
        if (conn)
            xcb_disconnect(conn);
        conn = nullptr;
        keymap.clear();
    }

    xcb_atom_t Atom(const char* name)
    {
        xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
            conn, xcb_intern_atom(conn, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t atom = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(r);
        return atom;
    }

    void LoadKeymap()
    {
        const xcb_setup_t* setup = xcb_get_setup(conn);
        const uint8_t count = static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1);
        xcb_get_keyboard_mapping_reply_t* r = xcb_get_keyboard_mapping_reply(
            conn, xcb_get_keyboard_mapping(conn, setup->min_keycode, count), nullptr);
        if (!r)
            return;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(r);
        const int perCode = r->keysyms_per_keycode;
        for (int i = 0; i < count * perCode; ++i) {
            const auto code = static_cast<xcb_keycode_t>(setup->min_keycode + i / perCode);
            keymap.emplace(syms[i], code);  // the first keycode of a symbol wins
        }
        std::free(r);
    }

    xcb_keycode_t Keycode(xcb_keysym_t sym)
    {
        auto it = keymap.find(sym);
        return it == keymap.end() ? 0 : it->second;
    }

    // Top-level client windows, topmost first: the window manager's stacking list, its
    // unordered list, or without a window manager the root's own children.
    std::vector<xcb_window_t> ClientWindows()
    {
        xcb_ewmh_get_windows_reply_t list;
        if (xcb_ewmh_get_client_list_stacking_reply(
                &ewmh, xcb_ewmh_get_client_list_stacking(&ewmh, screenNumber), &list, nullptr) ||
            xcb_ewmh_get_client_list_reply(&ewmh, xcb_ewmh_get_client_list(&ewmh, screenNumber),
                                           &list, nullptr)) {
            std::vector<xcb_window_t> windows(list.windows, list.windows + list.windows_len);
            xcb_ewmh_get_windows_reply_wipe(&list);
            return {windows.rbegin(), windows.rend()};
        }
        return RootChildren();
    }

    std::vector<xcb_window_t> RootChildren()
    {
        std::vector<xcb_window_t> windows;
        xcb_query_tree_reply_t* r = xcb_query_tree_reply(conn, xcb_query_tree(conn, root), nullptr);
        if (!r)
            return windows;
        const xcb_window_t* children = xcb_query_tree_children(r);
        for (int i = xcb_query_tree_children_length(r) - 1; i >= 0; --i)
            windows.push_back(children[i]);
        std::free(r);
        return windows;
    }

    WindowInfo Describe(xcb_window_t w)
    {
        WindowInfo info;
        info.id = w;
        xcb_icccm_get_wm_class_reply_t cls;
        if (xcb_icccm_get_wm_class_reply(conn, xcb_icccm_get_wm_class(conn, w), &cls, nullptr)) {
            info.className = cls.class_name ? cls.class_name : "";
            xcb_icccm_get_wm_class_reply_wipe(&cls);
        }
        xcb_ewmh_get_utf8_strings_reply_t name;
        if (xcb_ewmh_get_wm_name_reply(&ewmh, xcb_ewmh_get_wm_name(&ewmh, w), &name, nullptr)) {
            info.title.assign(name.strings, name.strings_len);
            xcb_ewmh_get_utf8_strings_reply_wipe(&name);
        } else {
            xcb_icccm_get_text_property_reply_t text;
            if (xcb_icccm_get_wm_name_reply(conn, xcb_icccm_get_wm_name(conn, w), &text, nullptr)) {
                info.title.assign(text.name, text.name_len);
                xcb_icccm_get_text_property_reply_wipe(&text);
            }
        }
        info.pid = ClientPid(w);
        info.kind = TransientFor(w) != XCB_NONE ? WindowKind::Dialog : WindowKind::Main;
        return info;
    }

    // The process of the client that owns the window, as the X server itself knows it (the
    // X-Resource extension); never _NET_WM_PID, which any client may set to any pid. 0 when
    // the server cannot tell (no extension, a remote client).
    uint32_t ClientPid(xcb_window_t w)
    {
        if (!hasRes)
            return 0;
        xcb_res_client_id_spec_t spec{w, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
        xcb_res_query_client_ids_reply_t* r =
            xcb_res_query_client_ids_reply(conn, xcb_res_query_client_ids(conn, 1, &spec), nullptr);
        uint32_t pid = 0;
        if (r) {
            for (auto it = xcb_res_query_client_ids_ids_iterator(r); it.rem; xcb_res_client_id_value_next(&it)) {
                if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) &&
                    xcb_res_client_id_value_value_length(it.data) >= 1)
                    pid = *xcb_res_client_id_value_value(it.data);
            }
            std::free(r);
        }
        return pid;
    }

    xcb_window_t TransientFor(xcb_window_t w)
    {
        xcb_window_t owner = XCB_NONE;
        if (!xcb_icccm_get_wm_transient_for_reply(conn, xcb_icccm_get_wm_transient_for(conn, w),
                                                  &owner, nullptr))
            return XCB_NONE;
        return owner;
    }

    bool Iconic(xcb_window_t w)
    {
        xcb_get_property_reply_t* r = xcb_get_property_reply(
            conn, xcb_get_property(conn, 0, w, wmState, wmState, 0, 2), nullptr);
        bool iconic = false;
        if (r && xcb_get_property_value_length(r) >= 4) {
            uint32_t state;
            std::memcpy(&state, xcb_get_property_value(r), 4);
            iconic = state == XCB_ICCCM_WM_STATE_ICONIC;
        }
        std::free(r);
        return iconic;
    }

    bool Viewable(xcb_window_t w)
    {
        xcb_get_window_attributes_reply_t* r =
            xcb_get_window_attributes_reply(conn, xcb_get_window_attributes(conn, w), nullptr);
        const bool viewable = r && r->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(r);
        return viewable;
    }

    bool IsMenu(xcb_window_t w)
    {
        xcb_ewmh_get_atoms_reply_t types;
        if (!xcb_ewmh_get_wm_window_type_reply(&ewmh, xcb_ewmh_get_wm_window_type(&ewmh, w),
                                               &types, nullptr))
            return false;
        bool menu = false;
        for (uint32_t i = 0; i < types.atoms_len; ++i) {
            const xcb_atom_t t = types.atoms[i];
            menu = menu || t == ewmh._NET_WM_WINDOW_TYPE_MENU ||
                   t == ewmh._NET_WM_WINDOW_TYPE_DROPDOWN_MENU ||
                   t == ewmh._NET_WM_WINDOW_TYPE_POPUP_MENU;
        }
        xcb_ewmh_get_atoms_reply_wipe(&types);
        return menu;
    }

    void SendClientMessage(xcb_window_t about, xcb_window_t to, xcb_atom_t type,
                           std::initializer_list<uint32_t> data, uint32_t mask)
    {
        xcb_client_message_event_t e{};
        e.response_type = XCB_CLIENT_MESSAGE;
        e.format = 32;
        e.window = about;
        e.type = type;
        size_t i = 0;
        for (uint32_t d : data)
            e.data.data32[i++] = d;
        xcb_send_event(conn, 0, to, mask, reinterpret_cast<const char*>(&e));
        xcb_flush(conn);
    }

    std::mutex lock;
    xcb_connection_t* conn = nullptr;
    xcb_ewmh_connection_t ewmh{};
    bool ewmhReady = false;
    bool hasRes = false;
    int screenNumber = 0;
    xcb_window_t root = XCB_NONE;
    xcb_atom_t wmState = XCB_ATOM_NONE, wmChangeState = XCB_ATOM_NONE;
    xcb_atom_t wmProtocols = XCB_ATOM_NONE, wmDeleteWindow = XCB_ATOM_NONE;
    std::multimap<xcb_keysym_t, xcb_keycode_t> keymap;
    std::chrono::steady_clock::time_point nextTry{};
};

// ---- console panes -------------------------------------------------------------------------

// A pane of a tmux server stands for the console server's window: pane_pid is its process, a
// pane on no attached client counts as minimised, killing its session closes it. A tmux server
// that ran out of sessions starts numbering its panes anew, so an id holds the pane's number
// and its process id, and names nothing once that process has left the pane.
constexpr WindowId kConsoleBit = WindowId{1} << 62;
constexpr WindowId kDefaultSocketBit = WindowId{1} << 61;

class ConsoleWindows {
public:
    explicit ConsoleWindows(std::string socket) : socket(std::move(socket)) {}

    static bool Owns(WindowId w) { return (w & kConsoleBit) != 0; }

    // The panes of the monitor's own socket, and with `foreign` those of the user's default
    // socket (take control finds a server there).
    std::vector<WindowInfo> TopLevelWindows(bool foreign = true)
    {
        std::vector<WindowInfo> result;
        std::vector<std::string> sockets{socket};
        if (!socket.empty() && foreign)
            sockets.emplace_back();
        for (const std::string& s : sockets) {
            const std::optional<std::string> out = Tmux(s, {"list-panes", "-a", "-F",
                "#{pane_id}\t#{pane_pid}\t#{session_name}\t#{pane_start_command}"});
            size_t pos = 0;
            while (out && pos < out->size()) {
                size_t end = out->find('\n', pos);
                if (end == std::string::npos)
                    end = out->size();
                ParsePane(std::string_view(*out).substr(pos, end - pos), s.empty(), result);
                pos = end + 1;
            }
        }
        return result;
    }

    bool IsWindow(WindowId w)
    {
        bool unanswered = false;
        return Target(w, &unanswered).has_value() || unanswered;
    }

    uint32_t WindowPid(WindowId w) { return Target(w) ? static_cast<uint32_t>(w & 0xffffffffu) : 0; }

    bool IsIconic(WindowId w)
    {
        if (Foreign(w))
            return true;  // never minimised there: that would throw the operator out
        const std::optional<std::string> target = Target(w);
        const std::optional<std::string> attached =
            target ? Tmux(SocketOf(w), {"display-message", "-p", "-t", *target,
                                        "#{session_attached}"})
                   : std::nullopt;
        return attached && attached->starts_with("0");
    }

    // The pane alone: a session on the operator's socket may hold the operator's other windows.
    void PostClose(WindowId w) { Command(w, {"kill-pane", "-t"}); }
    void PostMinimize(WindowId w)
    {
        if (!Foreign(w))
            Command(w, {"detach-client", "-s"});
    }

    void PostKey(WindowId w, uint8_t code)
    {
        if (code == 27)
            Command(w, {"send-keys", "-t"}, {"Escape"});
        else if (code > 0x20 && code < 0x7f)
            Command(w, {"send-keys", "-t"}, {"-l", std::string(1, static_cast<char>(code))});
    }

private:
    void ParsePane(std::string_view line, bool defaultSocket, std::vector<WindowInfo>& out)
    {
        std::vector<std::string_view> f;
        for (int i = 0; i < 3; ++i) {
            const size_t tab = line.find('\t');
            if (tab == std::string_view::npos)
                return;
            f.push_back(line.substr(0, tab));
            line.remove_prefix(tab + 1);
        }
        if (f[0].size() < 2 || f[0][0] != '%')
            return;
        WindowInfo info;
        const unsigned long pane = std::strtoul(std::string(f[0].substr(1)).c_str(), nullptr, 10);
        info.pid = static_cast<uint32_t>(std::strtoul(std::string(f[1]).c_str(), nullptr, 10));
        info.id = kConsoleBit | (defaultSocket ? kDefaultSocketBit : 0) |
                  (WindowId{pane & 0xfffffff} << 32) | info.pid;
        info.kind = WindowKind::Console;
        info.title = std::string(f[2]) + " " + std::string(line);
        out.push_back(std::move(info));
    }

    static bool Foreign(WindowId w) { return (w & kDefaultSocketBit) != 0; }
    std::string SocketOf(WindowId w) const { return Foreign(w) ? "" : socket; }

    // "%N" while pane N still runs the process of the id. `unanswered`: tmux did not answer.
    std::optional<std::string> Target(WindowId w, bool* unanswered = nullptr)
    {
        const std::string pane = "%" + std::to_string((w >> 32) & 0xfffffff);
        const std::optional<std::string> pid =
            Tmux(SocketOf(w), {"display-message", "-p", "-t", pane, "#{pane_pid}"}, unanswered);
        if (!pid || std::strtoul(pid->c_str(), nullptr, 10) != (w & 0xffffffffu))
            return std::nullopt;
        return pane;
    }

    void Command(WindowId w, std::vector<std::string> head, std::vector<std::string> tail = {})
    {
        const std::optional<std::string> target = Target(w);
        if (!target)
            return;
        head.push_back(*target);
        head.insert(head.end(), tail.begin(), tail.end());
        Tmux(SocketOf(w), std::move(head));
    }

    static std::optional<std::string> Tmux(const std::string& s, std::vector<std::string> args,
                                           bool* unanswered = nullptr)
    {
        const std::vector<std::string> argv = TmuxCommand(s, std::move(args));
        if (argv.empty())
            return std::nullopt;
        return RunCapture(argv, 1 << 20, s.empty() ? std::nullopt : ConsoleIdentity(), unanswered);
    }

    std::string socket;
};

// ---- both ----------------------------------------------------------------------------------

class LinuxWindowSystem final : public WindowSystem {
public:
    explicit LinuxWindowSystem(std::string socket) : console(std::move(socket)) {}

    std::vector<WindowInfo> TopLevelWindows() override
    {
        std::vector<WindowInfo> all = x11.TopLevelWindows();
        for (WindowInfo& w : console.TopLevelWindows())
            all.push_back(std::move(w));
        return all;
    }
    std::vector<WindowInfo> ServerWindows(bool isConsole) override
    {
        return isConsole ? console.TopLevelWindows(false) : x11.TopLevelWindows();
    }
    uint32_t WindowPid(WindowId w) override
    {
        if (!IsX11(w))
            return w != 0 ? console.WindowPid(w) : 0;
        return x11.Pid(Xid(w));
    }
    std::optional<WindowInfo> EnabledPopup(WindowId w) override
    {
        return IsX11(w) ? x11.EnabledPopup(Xid(w)) : std::nullopt;
    }
    bool IsWindow(WindowId w) override
    {
        return IsX11(w) ? x11.IsWindow(Xid(w)) : w != 0 && console.IsWindow(w);
    }
    bool IsIconic(WindowId w) override
    {
        return IsX11(w) ? x11.IsIconic(Xid(w)) : w != 0 && console.IsIconic(w);
    }
    void PostClose(WindowId w) override
    {
        if (IsX11(w))
            x11.PostClose(Xid(w));
        else if (w != 0)
            console.PostClose(w);
    }
    void PostMinimize(WindowId w) override
    {
        if (IsX11(w))
            x11.PostMinimize(Xid(w));
        else if (w != 0)
            console.PostMinimize(w);
    }
    void ShowAndRaise(WindowId w) override
    {
        if (IsX11(w))
            x11.ShowAndRaise(Xid(w));
    }
    void PostKey(WindowId w, KeyKind, uint8_t code) override
    {
        if (IsX11(w))
            x11.PostKey(Xid(w), code);
        else if (w != 0)
            console.PostKey(w, code);
    }

private:
    static bool IsX11(WindowId w) { return w != 0 && !ConsoleWindows::Owns(w) && w <= 0xffffffffu; }
    static xcb_window_t Xid(WindowId w) { return static_cast<xcb_window_t>(w); }

    X11Windows x11;
    ConsoleWindows console;
};

}  // namespace

std::unique_ptr<WindowSystem> MakeWindowSystem(const std::string& consoleSocket)
{
    return std::make_unique<LinuxWindowSystem>(consoleSocket);
}

}  // namespace zpmoni
