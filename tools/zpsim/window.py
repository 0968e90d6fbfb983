# SPDX-License-Identifier: MIT
"""X11 window of the graphical executables (zemain.exe, zemaino.exe, zemaindx.exe).

The real simulator shows a window of class "ZEPHRINEWINDOW" whose title holds "CPU", "OpenGL"
or "Direct3D"; the monitor finds it by _NET_WM_PID, minimises it, sends it keys and closes it.
This draws the same through Xlib by ctypes (no toolkit, any Python 3): key presses go to
on_key(code), WM_DELETE_WINDOW to on_close(). On request it also opens an error dialog or a
menu owned by the window, and records when each was closed.  Without a display it returns None.
"""
import asyncio
import ctypes
import ctypes.util
import os

KEY_PRESS, UNMAP_NOTIFY, CLIENT_MESSAGE = 2, 18, 33
KEY_PRESS_MASK, STRUCTURE_NOTIFY_MASK = 1 << 0, 1 << 17
PROP_MODE_REPLACE, XA_ATOM, XA_CARDINAL = 0, 4, 6


class XClientMessageEvent(ctypes.Structure):
    _fields_ = [('type', ctypes.c_int), ('serial', ctypes.c_ulong), ('send_event', ctypes.c_int),
                ('display', ctypes.c_void_p), ('window', ctypes.c_ulong),
                ('message_type', ctypes.c_ulong), ('format', ctypes.c_int),
                ('data', ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [('type', ctypes.c_int), ('client', XClientMessageEvent),
                ('pad', ctypes.c_long * 24)]


class XClassHint(ctypes.Structure):
    _fields_ = [('res_name', ctypes.c_char_p), ('res_class', ctypes.c_char_p)]


def _xlib():
    name = ctypes.util.find_library('X11') or 'libX11.so.6'
    x = ctypes.CDLL(name)
    ul, vp, i = ctypes.c_ulong, ctypes.c_void_p, ctypes.c_int
    for fn, res, args in (
            ('XOpenDisplay', vp, [ctypes.c_char_p]), ('XDefaultScreen', i, [vp]),
            ('XRootWindow', ul, [vp, i]), ('XConnectionNumber', i, [vp]),
            ('XCreateSimpleWindow', ul, [vp, ul, i, i, ctypes.c_uint, ctypes.c_uint,
                                         ctypes.c_uint, ul, ul]),
            ('XInternAtom', ul, [vp, ctypes.c_char_p, i]),
            ('XChangeProperty', i, [vp, ul, ul, ul, i, i, ctypes.c_void_p, i]),
            ('XSetWMProtocols', i, [vp, ul, ctypes.POINTER(ul), i]),
            ('XSetClassHint', i, [vp, ul, ctypes.POINTER(XClassHint)]),
            ('XStoreName', i, [vp, ul, ctypes.c_char_p]),
            ('XSetTransientForHint', i, [vp, ul, ul]), ('XSelectInput', i, [vp, ul, ctypes.c_long]),
            ('XMapWindow', i, [vp, ul]), ('XDestroyWindow', i, [vp, ul]), ('XFlush', i, [vp]),
            ('XPending', i, [vp]), ('XNextEvent', i, [vp, ctypes.POINTER(XEvent)]),
            ('XLookupString', i, [ctypes.POINTER(XEvent), ctypes.c_char_p, i,
                                  ctypes.POINTER(ul), vp]),
            ('XCloseDisplay', i, [vp])):
        f = getattr(x, fn)
        f.restype, f.argtypes = res, args
    return x


class Window:
    def __init__(self, x, dpy, exe, title, on_key, on_close, record):
        self.x, self.dpy, self.on_key, self.on_close, self.record = x, dpy, on_key, on_close, record
        self.atom = lambda n: x.XInternAtom(dpy, n.encode(), 0)
        self.delete = self.atom('WM_DELETE_WINDOW')
        self.root = x.XRootWindow(dpy, x.XDefaultScreen(dpy))
        self.popups = {}   # window -> kind ('dialog' or 'menu')
        self.main = self.make(title, 'ZEPHRINEWINDOW', exe, 480, 320, None, None)
        self.loop = asyncio.get_running_loop()
        self.loop.add_reader(x.XConnectionNumber(dpy), self.pump)

    def make(self, title, cls, name, w, h, owner, kind):
        x, dpy = self.x, self.dpy
        win = x.XCreateSimpleWindow(dpy, self.root, 40, 40, w, h, 1, 0, 0xC0C0C0)
        hint = XClassHint(name.encode(), cls.encode())
        x.XSetClassHint(dpy, win, ctypes.byref(hint))
        x.XStoreName(dpy, win, title.encode())
        utf8 = title.encode()
        x.XChangeProperty(dpy, win, self.atom('_NET_WM_NAME'), self.atom('UTF8_STRING'), 8,
                          PROP_MODE_REPLACE, utf8, len(utf8))
        pid = ctypes.c_long(os.getpid())
        x.XChangeProperty(dpy, win, self.atom('_NET_WM_PID'), XA_CARDINAL, 32,
                          PROP_MODE_REPLACE, ctypes.byref(pid), 1)
        if kind:
            wtype = ctypes.c_long(self.atom('_NET_WM_WINDOW_TYPE_' + kind.upper()))
            x.XChangeProperty(dpy, win, self.atom('_NET_WM_WINDOW_TYPE'), XA_ATOM, 32,
                              PROP_MODE_REPLACE, ctypes.byref(wtype), 1)
        if owner:
            x.XSetTransientForHint(dpy, win, owner)
        protocols = (ctypes.c_ulong * 1)(self.delete)
        x.XSetWMProtocols(dpy, win, protocols, 1)
        x.XSelectInput(dpy, win, KEY_PRESS_MASK | STRUCTURE_NOTIFY_MASK)
        x.XMapWindow(dpy, win)
        x.XFlush(dpy)
        return win

    def popup(self, kind):
        """Opens an error dialog or a menu owned by the main window."""
        if self.main is None:
            return
        title = 'Error' if kind == 'dialog' else 'Menu'
        win = self.make(title, '#32770' if kind == 'dialog' else 'ZPMENU', 'zpsim', 240, 100,
                        self.main, kind)
        self.popups[win] = kind
        self.record(kind + '-open', window=win)

    def pump(self):
        event = XEvent()
        while self.main is not None and self.x.XPending(self.dpy):
            self.x.XNextEvent(self.dpy, ctypes.byref(event))
            win = event.client.window
            if event.type == KEY_PRESS and win == self.main:
                buf, sym = ctypes.create_string_buffer(8), ctypes.c_ulong()
                self.x.XLookupString(ctypes.byref(event), buf, 8, ctypes.byref(sym), None)
                if sym.value == 0xff1b:
                    self.on_key(0x1b)
                elif buf.value:
                    self.on_key(buf.value.upper()[0])
            elif event.type == UNMAP_NOTIFY and win == self.main:
                self.record('iconified')   # the window manager hides what it minimises
            elif event.type == CLIENT_MESSAGE and event.client.data[0] == self.delete:
                if win in self.popups:
                    self.record(self.popups.pop(win) + '-closed', window=win)
                    self.x.XDestroyWindow(self.dpy, win)
                    self.x.XFlush(self.dpy)
                elif win == self.main:
                    self.record('window-closed')
                    self.on_close()

    def close(self):
        if self.main is None:
            return
        self.loop.remove_reader(self.x.XConnectionNumber(self.dpy))
        self.main = None
        self.x.XCloseDisplay(self.dpy)


def open_window(exe, title, on_key, on_close, record=lambda ev, **fields: None,
                error_dialog_after=None, menu_after=None):
    if not os.environ.get('DISPLAY'):
        return None
    try:
        x = _xlib()
    except OSError:
        return None
    dpy = x.XOpenDisplay(None)
    if not dpy:
        return None
    w = Window(x, dpy, exe, title, on_key, on_close, record)
    for after, kind in ((menu_after, 'menu'), (error_dialog_after, 'dialog')):
        if after is not None:
            w.loop.call_later(after, w.popup, kind)
    return w
