# SPDX-License-Identifier: MIT
"""Scripted players: log on, answer the server, join, fly, chat, unjoin and leave."""
import asyncio
import os
import socket
import struct

import protocol as P

# Exit codes of the bot command.
EXIT_OK = 0
EXIT_NO_CONNECT = 2
EXIT_CUT_SHORT = 3


def parse_g_profile(text):
    """"9" or "1:2,9:3,1": G values, each held for the given seconds; the last one stays."""
    segments = []
    for part in text.split(','):
        value, _, seconds = part.partition(':')
        segments.append((float(value), float(seconds) if seconds else None))
    if any(s is None for _, s in segments[:-1]):
        raise ValueError('only the last G value may omit its duration: ' + text)
    return segments


def g_at(segments, elapsed):
    for value, seconds in segments:
        if seconds is None or elapsed < seconds:
            return value
        elapsed -= seconds
    return segments[-1][0]


class Bot:
    def __init__(self, opts, name, rec, delay=0.0):
        self.opts = opts
        self.name = name
        self.rec = rec
        self.delay = delay
        self.g_profile = parse_g_profile(opts.g)
        self.formats = [int(f) for f in opts.format.split(',')]
        self.reader = None
        self.writer = None
        self.peer = None
        self.object_id = None
        self.own_announced = None
        self.closed = None
        self.left = False

    def send(self, ptype, body=b''):
        if self.closed.is_set() or self.writer.transport.is_closing():
            return
        if ptype != P.PKT_AIR_STATE or not self.opts.skip_air_states:
            self.rec.packet('out', ptype, body, peer=self.peer)
        self.writer.write(P.frame(ptype, body))

    def send_together(self, packets):
        """Several packets in one write, so they travel in one TCP segment."""
        for ptype, body in packets:
            self.rec.packet('out', ptype, body, peer=self.peer)
        self.writer.write(b''.join(P.frame(t, b) for t, b in packets))

    # ---- receiving -----------------------------------------------------------------------

    def on_packet(self, ptype, body):
        if ptype != P.PKT_AIR_STATE or not self.opts.skip_air_states:
            self.rec.packet('in', ptype, body, peer=self.peer)
        replies = P.client_replies(ptype, body)
        if self.opts.misbehave == 'silent':
            replies = []
        elif self.opts.misbehave == 'swap-acks' and ptype == P.PKT_HANDSHAKE:
            replies[1], replies[2] = replies[2], replies[1]
        for rtype, rbody in replies:
            self.send(rtype, rbody)
        if ptype == P.PKT_ADD_OBJECT and len(body) >= 8:
            kind, flag, object_id = struct.unpack_from('<HHI', body, 0)
            if kind == 0 and flag == 0:
                self.object_id = object_id
                self.own_announced.set()
            elif kind == 0 and self.opts.damage is not None:
                self.send(P.PKT_DAMAGE, P.damage_body(object_id, self.opts.damage))

    async def read_loop(self):
        cutter = P.Cutter(self.opts.max_length)
        reason = 'fin'
        try:
            while True:
                data = await self.reader.read(65536)
                if not data:
                    break
                for ptype, body in cutter.feed(data):
                    self.on_packet(ptype, body)
        except P.BadLength as e:
            reason = 'bad-length'
            self.rec.write('bad-length', length=e.length, peer=self.peer)
        except (ConnectionResetError, BrokenPipeError):
            reason = 'reset'
        self.closed.set()
        self.rec.write('close', reason=reason, after_leave=self.left, peer=self.peer)
        self.writer.close()
        try:
            await self.writer.wait_closed()   # collects the error of a broken connection
        except OSError:
            pass

    # ---- script --------------------------------------------------------------------------

    async def connect(self):
        loop = asyncio.get_running_loop()
        give_up = loop.time() + self.opts.connect_wait
        while True:
            try:
                local = (self.opts.source, 0) if self.opts.source else None
                self.reader, self.writer = await asyncio.open_connection(
                    self.opts.host, self.opts.port, local_addr=local)
                break
            except OSError as e:
                if loop.time() >= give_up:
                    self.rec.write('connect-failed', text=str(e),
                                   peer='%s:%d' % (self.opts.host, self.opts.port))
                    return False
                await asyncio.sleep(0.2)
        sock = self.writer.get_extra_info('socket')
        # One write, one segment: the monitor's capture reads packets per segment.
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        peer = sock.getpeername()
        local = sock.getsockname()
        self.peer = '%s:%d' % peer
        self.rec.write('connect', peer=self.peer, local='%s:%d' % local)
        return True

    async def sleep_unless_closed(self, seconds):
        """True when the connection ended during the wait."""
        try:
            await asyncio.wait_for(self.closed.wait(), max(0.0, seconds))
            return True
        except asyncio.TimeoutError:
            return False

    async def keepalive(self):
        while True:
            await asyncio.sleep(self.opts.keepalive)
            self.send(P.PKT_KEEPALIVE)

    async def run(self):
        self.closed = asyncio.Event()
        self.own_announced = asyncio.Event()
        await asyncio.sleep(self.delay)
        if not await self.connect():
            return EXIT_NO_CONNECT
        reading = asyncio.ensure_future(self.read_loop())
        keeping = asyncio.ensure_future(self.keepalive()) if self.opts.keepalive > 0 else None
        try:
            finished = await self.script()
        finally:
            if keeping:
                keeping.cancel()
        if finished:
            await self.leave()
        await asyncio.wait([reading], timeout=3)
        reading.cancel()
        return EXIT_OK if finished else EXIT_CUT_SHORT

    async def script(self):
        """True when the bot got through its script while the connection lasted."""
        o = self.opts
        logon = (P.PKT_LOGON, P.logon_body(self.name, o.net_version))
        join = (P.PKT_JOIN, P.join_body(o.iff, os.fsencode(o.aircraft), os.fsencode(o.start)))
        joined = not o.no_join
        if joined and o.join_with_logon:
            self.send_together([logon, join])
        else:
            self.send(*logon)
            if joined:
                if await self.sleep_unless_closed(o.join_after):
                    return False
                self.send(*join)
        if joined:
            # Our state packets carry the id the server gave us, once we know it.
            waits = [asyncio.ensure_future(e.wait()) for e in (self.own_announced, self.closed)]
            await asyncio.wait(waits, timeout=2.0, return_when=asyncio.FIRST_COMPLETED)
            for w in waits:
                w.cancel()
            if self.closed.is_set():
                return False
            if not self.own_announced.is_set():
                self.rec.write('note', text='own aircraft not announced; sending id 0')
        if not await self.fly(joined):
            return False
        if joined and not o.no_unjoin:
            self.send(P.PKT_UNJOIN)
            if await self.sleep_unless_closed(o.linger):
                return False
        return not self.closed.is_set()

    async def fly(self, joined):
        """Air states at the given rate (when joined) and the chat lines, for the duration."""
        o = self.opts
        loop = asyncio.get_running_loop()
        chats = [os.fsencode(t) for t in o.chat]
        chat_every = o.chat_every if o.chat_every > 0 else o.duration / (len(chats) + 1)
        period = 1.0 / o.rate
        start = loop.time()
        tick = 0
        while True:
            elapsed = loop.time() - start
            while chats and elapsed >= chat_every * (len(o.chat) - len(chats) + 1):
                self.send(P.PKT_CHAT, P.chat_body(chats.pop(0)))
            if elapsed >= o.duration:
                break
            if joined:
                fmt = self.formats[tick % len(self.formats)]
                g = g_at(self.g_profile, elapsed)
                own = o.state_id if o.state_id is not None else self.object_id or 0
                self.send(P.PKT_AIR_STATE, P.air_state_body(own, fmt, g))
            tick += 1
            if await self.sleep_unless_closed(start + tick * period - loop.time()):
                return False
        for text in chats:   # lines not yet due when the time ran out still go out
            self.send(P.PKT_CHAT, P.chat_body(text))
        return True

    async def leave(self):
        self.rec.write('leave', mode=self.opts.leave, peer=self.peer)
        self.left = True
        if self.opts.leave == 'rst':
            sock = self.writer.get_extra_info('socket')
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
            self.writer.transport.abort()
        else:
            self.writer.write_eof()   # FIN; the server closes its side in turn


async def run_bots(opts, rec_for):
    """Runs opts.count bots at once; returns the worst exit code."""
    names = [opts.name] if opts.count == 1 else \
        ['%s%d' % (opts.name, i + 1) for i in range(opts.count)]
    bots = [Bot(opts, os.fsencode(n), rec_for(n), i * opts.stagger) for i, n in enumerate(names)]
    codes = await asyncio.gather(*(b.run() for b in bots))
    return max(codes)
