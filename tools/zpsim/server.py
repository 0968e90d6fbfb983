# SPDX-License-Identifier: MIT
"""Server side of the stand-in simulator: log-on handshake, object announcements, relays."""
import asyncio
import collections
import os
import signal
import socket
import struct
import sys
import termios
import time
import tty

import protocol as P
import window

# Executable name -> the word its window title carries; None is the console server.
EXECUTABLES = {
    'zemain.exe': 'CPU',
    'zemaino.exe': 'OpenGL',
    'zemaindx.exe': 'Direct3D',
    'zemainsvr.exe': None,
}

KEY_ACTIONS = {
    'R': 'revive ground objects',
    'E': 'start Endurance Mode(Jet)',
    'I': 'start Intercept Mission',
    'P': 'start Close Air Support Mission',
}
ESCAPE = 0x1B

HOSTILE_MODES = ('huge-length', 'dribble', 'big-echo')
REPLY_TYPES = (P.PKT_HANDSHAKE, P.PKT_ACK, P.PKT_PROBE33, P.PKT_ECHO43, P.PKT_ECHO44)
BIG_ECHO_BODY = 9000
SEND_BACKLOG_LIMIT = 1 << 20   # a client that stops reading is dropped, not buffered forever


class Client:
    def __init__(self, cid, reader, writer):
        self.id = cid
        self.reader = reader
        self.writer = writer
        peer = writer.get_extra_info('peername') or ('?', 0)
        self.peer = '%s:%d' % (peer[0], peer[1])
        self.user = None          # bytes, set by PKT_LOGON
        self.object_id = None     # aircraft of this player while joined
        self.expect = collections.deque()   # (group id, type, body) of replies still due
        self.groups = {}          # group id -> {'what', 'left', 'deadline'}
        self.desynced = False     # after a huge length field nothing more is sent
        self.closing = False
        self.dribble_queue = None
        self.dribble_task = None
        self.backlog = 0          # bytes still to dribble
        self.reads = 0            # read() calls so far; packets of one read share the number


class Server:
    def __init__(self, opts, rec):
        self.opts = opts
        self.rec = rec
        self.clients = {}
        self.next_conn = 1
        self.next_object_id = opts.first_object_id
        self.next_group = 1
        self.probe_seq = 0
        self.stop_event = None
        self.listener = None
        self.tty_saved = None
        self.window = None

    # ---- plumbing ------------------------------------------------------------------------

    def log(self, text):
        print('zpsim: ' + text, flush=True)

    def fields(self, c):
        return {'conn': c.id, 'peer': c.peer,
                'client': None if c.user is None else P.show(c.user)}

    def write(self, c, data):
        if self.opts.hostile == 'dribble':
            c.backlog += len(data)
            c.dribble_queue.put_nowait(data)
        else:
            c.writer.write(data)
            if c.writer.transport.get_write_buffer_size() > SEND_BACKLOG_LIMIT:
                self.drop(c, 'send-backlog')

    def send(self, c, ptype, body=b''):
        if c.closing or c.desynced or c.writer.transport.is_closing():
            return
        if ptype != P.PKT_AIR_STATE or not self.opts.skip_air_states:
            self.rec.packet('out', ptype, body, **self.fields(c))
        self.write(c, P.frame(ptype, body))

    async def dribble(self, c):
        pause = self.opts.dribble_pause
        while True:
            data = await c.dribble_queue.get()
            for i in range(len(data)):
                c.writer.write(data[i:i + 1])
                await c.writer.drain()
                c.backlog -= 1
                await asyncio.sleep(pause)

    def players(self):
        return [c for c in self.clients.values() if c.user is not None and not c.closing]

    # ---- reply checks --------------------------------------------------------------------

    def expect(self, c, what, replies):
        gid = self.next_group
        self.next_group += 1
        slack = c.backlog * self.opts.dribble_pause * 2
        c.groups[gid] = {'what': what, 'left': len(replies),
                         'deadline': time.monotonic() + self.opts.reply_timeout + slack}
        for ptype, body in replies:
            c.expect.append((gid, ptype, body))

    def fail(self, c, gid, detail):
        group = c.groups.pop(gid, None)
        what = group['what'] if group else 'unexpected'
        c.expect = collections.deque(e for e in c.expect if e[0] != gid)
        self.rec.write('check', what=what, ok=False, detail=detail, **self.fields(c))
        self.log('conn %d: check %s failed: %s' % (c.id, what, detail))
        if not self.opts.lenient and not self.opts.hostile:
            self.drop(c, 'check-failed')

    def on_reply(self, c, ptype, body):
        if not c.expect:
            self.fail(c, None, 'unexpected ' + P.describe(ptype, body))
            return
        gid, etype, ebody = c.expect[0]
        if (etype, ebody) != (ptype, bytes(body)):
            self.fail(c, gid, 'expected %s, got %s' % (P.describe(etype, ebody),
                                                        P.describe(ptype, body)))
            return
        c.expect.popleft()
        group = c.groups[gid]
        group['left'] -= 1
        if group['left'] == 0:
            del c.groups[gid]
            self.rec.write('check', what=group['what'], ok=True, **self.fields(c))

    async def watch_deadlines(self):
        while True:
            await asyncio.sleep(0.2)
            now = time.monotonic()
            for c in list(self.clients.values()):
                for gid, group in list(c.groups.items()):
                    if gid in c.groups and group['deadline'] < now and not c.closing:
                        self.fail(c, gid, 'no reply within %g s' % self.opts.reply_timeout)

    # ---- server packets ------------------------------------------------------------------

    def probe(self, c, ptype, body):
        self.send(c, ptype, body)
        self.expect(c, P.TYPE_NAMES[ptype].lower(), P.client_replies(ptype, body))

    def probe_body(self, c):
        # Distinct per probe, with zero and high bytes, so an echo must really be a copy.
        self.probe_seq += 1
        return struct.pack('<IIIBBBB', 0x4D53505A, c.id, self.probe_seq, 0, 0xFF, 0x80, 0x7F)

    def send_probes(self, c):
        self.probe(c, P.PKT_PROBE16, b'')
        self.probe(c, P.PKT_PROBE33, b'')
        self.probe(c, P.PKT_ECHO43, self.probe_body(c))
        self.probe(c, P.PKT_ECHO44, self.probe_body(c))

    def announce(self, owner, receiver):
        body = P.add_object_body(0, 0 if receiver is owner else 1, owner.object_id, owner.user)
        self.send(receiver, P.PKT_ADD_OBJECT, body)
        self.expect(receiver, 'add-object-ack', P.client_replies(P.PKT_ADD_OBJECT, body))

    def remove_aircraft(self, c, receivers):
        oid, c.object_id = c.object_id, None
        for o in receivers:
            self.send(o, P.PKT_REMOVE_OBJECT, P.remove_object_body(oid))

    # ---- client packets ------------------------------------------------------------------

    def on_packet(self, c, ptype, body):
        if ptype != P.PKT_AIR_STATE or not self.opts.skip_air_states:
            self.rec.packet('in', ptype, body, read=c.reads, **self.fields(c))
        if c.desynced:
            return
        if ptype == P.PKT_LOGON:
            self.on_logon(c, body)
        elif ptype in REPLY_TYPES:
            self.on_reply(c, ptype, body)
        elif c.user is None:
            self.rec.write('note', text='ignored before log-on', type=ptype, **self.fields(c))
        elif ptype == P.PKT_JOIN:
            self.on_join(c)
        elif ptype == P.PKT_AIR_STATE:
            self.on_air_state(c, body)
        elif ptype == P.PKT_UNJOIN:
            if c.object_id is not None:
                self.remove_aircraft(c, self.players())
        elif ptype == P.PKT_CHAT:
            line = b'(' + c.user + b')' + P.c_text(body, 8)
            for o in self.players():
                self.send(o, P.PKT_CHAT, P.chat_body(line))
        elif ptype == P.PKT_DAMAGE:
            self.on_damage(c, body)

    def on_logon(self, c, body):
        c.user = P.c_text(body, 0, P.NAME_FIELD)
        self.log('conn %d: log-on %s' % (c.id, P.show(c.user)))
        if self.opts.hostile == 'huge-length':
            raw = struct.pack('<II', 0x7FFFFFFF, P.PKT_HANDSHAKE) + bytes(range(64))
            self.rec.write('hostile', mode='huge-length', hex=raw.hex(), **self.fields(c))
            self.write(c, raw)
            c.desynced = True
            return
        self.probe(c, P.PKT_HANDSHAKE, self.probe_body(c))
        self.send_probes(c)
        if self.opts.hostile == 'big-echo':
            big = bytes(i & 0xFF for i in range(self.opts.big_echo_size))
            self.rec.write('hostile', mode='big-echo', len=len(big) + 4, **self.fields(c))
            self.send(c, P.PKT_ECHO43, big)
            # A client that skipped the oversized packet still answers this one.
            self.probe(c, P.PKT_ECHO43, b'after-big-echo')
        for o in self.players():
            if o is not c and o.object_id is not None:
                self.announce(o, c)
        if self.opts.welcome:
            self.send(c, P.PKT_CHAT, P.chat_body(os.fsencode(self.opts.welcome)))

    def on_join(self, c):
        if c.object_id is not None:
            # A second join without an unjoin replaces the aircraft.
            self.remove_aircraft(c, self.players())
        c.object_id = self.next_object_id
        self.next_object_id += 1
        for o in self.players():
            self.announce(c, o)

    def on_air_state(self, c, body):
        if c.object_id is None or len(body) < 8:
            self.rec.write('note', text='state not relayed (not joined or short)',
                           **self.fields(c))
            return
        relayed = P.with_object_id(body, c.object_id)
        for o in self.players():
            if o is not c:
                self.send(o, P.PKT_AIR_STATE, relayed)

    def on_damage(self, c, body):
        fields = P.decode(P.PKT_DAMAGE, body)
        target = next((o for o in self.players()
                       if fields.get('target') is not None and o.object_id == fields['target']),
                      None)
        self.rec.write('damage', to=None if target is None else P.show(target.user),
                       **fields, **self.fields(c))
        if target is not None:
            self.send(target, P.PKT_DAMAGE, body)

    # ---- connections ---------------------------------------------------------------------

    async def handle(self, reader, writer):
        c = Client(self.next_conn, reader, writer)
        self.next_conn += 1
        self.clients[c.id] = c
        sock = writer.get_extra_info('socket')
        if sock is not None:
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        if self.opts.hostile == 'dribble':
            c.dribble_queue = asyncio.Queue()
            c.dribble_task = asyncio.ensure_future(self.dribble(c))
        self.rec.write('accept', **self.fields(c))
        cutter = P.Cutter(self.opts.max_length)
        reason = 'fin'
        try:
            while not c.closing:
                data = await reader.read(65536)
                if not data:
                    break
                c.reads += 1
                for ptype, body in cutter.feed(data):
                    self.on_packet(c, ptype, body)
                    if c.closing:
                        break
        except P.BadLength as e:
            reason = 'bad-length'
            self.rec.write('bad-length', length=e.length, **self.fields(c))
        except (ConnectionResetError, BrokenPipeError):
            reason = 'reset'
        except Exception as e:   # a fault of ours must not take the other players down
            reason = 'error'
            self.rec.write('error', text=repr(e), **self.fields(c))
            self.log('conn %d: %r' % (c.id, e))
        self.drop(c, reason)
        try:
            await writer.wait_closed()   # collects the error of a broken connection
        except OSError:
            pass

    def drop(self, c, reason):
        if c.closing:
            return
        c.closing = True
        self.clients.pop(c.id, None)
        if c.dribble_task is not None:
            c.dribble_task.cancel()
        if c.object_id is not None:
            self.remove_aircraft(c, self.players())
        self.rec.write('close', reason=reason,
                       pending=[g['what'] for g in c.groups.values()], **self.fields(c))
        self.log('conn %d: closed (%s)' % (c.id, reason))
        c.writer.close()

    # ---- console -------------------------------------------------------------------------

    def on_stdin(self, watched=True):
        """Handles what stdin holds; False once it is at its end."""
        fd = sys.stdin.fileno()
        try:
            data = os.read(fd, 64)
        except OSError:
            data = b''
        if not data:
            if watched:
                asyncio.get_running_loop().remove_reader(fd)
            self.rec.write('stdin-closed')
            return False
        for byte in data:
            self.on_key(byte)
        return True

    def on_key(self, byte, stops=True):
        if byte == ESCAPE and not stops:
            self.rec.write('key', key='Escape', code=byte, action='none')
            return
        if byte == ESCAPE:
            self.rec.write('key', key='Escape', action='stop server')
            self.log('key Escape: stopping')
            self.stop('escape')
            return
        char = chr(byte)
        action = KEY_ACTIONS.get(char.upper(), 'unknown')
        self.rec.write('key', key=char, code=byte, action=action)
        self.log('key %r: %s' % (char, action))

    def start_console(self):
        fd = sys.stdin.fileno()
        if os.isatty(fd):
            # Command keys come one by one, without Enter (tmux send-keys -l R).
            self.tty_saved = termios.tcgetattr(fd)
            tty.setcbreak(fd)
        try:
            asyncio.get_running_loop().add_reader(fd, self.on_stdin)
        except PermissionError:
            # A file or /dev/null cannot be polled; its keys are all there already.
            while self.on_stdin(watched=False):
                pass
        if sys.stdout.isatty():
            sys.stdout.write('\033]2;%s\007' % self.title())
            sys.stdout.flush()

    def title(self):
        kind = EXECUTABLES.get(self.opts.exe)
        if kind is None:
            return '%s - ZEPHRINE server %s' % (self.opts.exe, self.opts.server_name)
        return 'ZEPHRINE (%s) server %s' % (kind, self.opts.server_name)

    def stop(self, why):
        if not self.stop_event.is_set():
            self.rec.write('stop', reason=why)
            self.stop_event.set()

    # ---- main ----------------------------------------------------------------------------

    async def run(self):
        loop = asyncio.get_running_loop()
        self.stop_event = asyncio.Event()
        for sig, name in ((signal.SIGTERM, 'SIGTERM'), (signal.SIGINT, 'SIGINT'),
                          (signal.SIGHUP, 'SIGHUP')):
            loop.add_signal_handler(sig, self.stop, name)
        self.listener = await asyncio.start_server(self.handle, self.opts.bind, self.opts.port,
                                                   family=socket.AF_INET, reuse_address=True)
        port = self.listener.sockets[0].getsockname()[1]
        self.rec.write('listen', bind=self.opts.bind, port=port, exe=self.opts.exe,
                       server_name=self.opts.server_name, hostile=self.opts.hostile,
                       pid=os.getpid())
        self.log('%s listening on %s:%d' % (self.opts.exe, self.opts.bind, port))
        graphical = EXECUTABLES[self.opts.exe] is not None
        if graphical:
            self.window = window.open_window(
                self.opts.exe, self.title(), lambda b: self.on_key(b, stops=False),
                lambda: self.stop('window closed'), record=self.rec.write,
                error_dialog_after=self.opts.error_dialog_after, menu_after=self.opts.menu_after)
            self.rec.write('window', exe=self.opts.exe, title=self.title(),
                           open=self.window is not None)
        if self.opts.console if self.opts.console is not None else not graphical:
            self.start_console()
        if self.opts.hang_after is not None:
            loop.call_later(self.opts.hang_after, self.hang)
        deadlines = asyncio.ensure_future(self.watch_deadlines())
        probes = asyncio.ensure_future(self.repeat_probes()) if self.opts.probe_interval else None
        await self.stop_event.wait()
        deadlines.cancel()
        if probes:
            probes.cancel()
        self.listener.close()
        for c in list(self.clients.values()):
            self.drop(c, 'server-stop')
        await asyncio.sleep(0.05)   # let the FINs go out before the process ends
        if self.window is not None:
            self.window.close()
        if self.tty_saved is not None:
            termios.tcsetattr(sys.stdin.fileno(), termios.TCSADRAIN, self.tty_saved)
        return 0

    def hang(self):
        """Stops answering for good, as a hung server does: the process and its listening port
        stay (the kernel still accepts connections), nothing is read or sent any more. Signals
        end it at once, since the loop that would handle them no longer runs."""
        self.rec.write('hang', after=self.opts.hang_after)
        self.log('hanging')
        for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            signal.signal(sig, signal.SIG_DFL)
        while True:
            time.sleep(3600)

    async def repeat_probes(self):
        while True:
            await asyncio.sleep(self.opts.probe_interval)
            for c in self.players():
                if not c.desynced:
                    self.send_probes(c)
