#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes a synthetic capture (pcap, Ethernet) of a busy ZEPHRINE server for replay benchmarks.

The server 198.51.100.1 listens on TCP port 7915. Twenty clients, 198.51.100.10 to .29, connect
one after another, log on, join with an aircraft and send their air state ten times a second;
the server sends each of them a segment per tick relaying other players' air states, plus
object additions when someone joins. Now and then a player unjoins and joins again or chats.
Alongside runs other traffic of the server machine: an HTTPS download, an SSH session and DNS
look-ups. At the end every client closes its connection with FIN.

Every datagram carries valid IP and TCP (or UDP) checksums; timestamps increase.

    make_capture.py OUT.pcap [-n COUNT] [--seed SEED]
"""

import argparse
import random
import struct
import sys

SERVER = "198.51.100.1"
SERVER_PORT = 7915
CLIENTS = 20
TICK_US = 100_000  # air states at 10 per second
START_SECONDS = 1_768_507_200  # 2026-01-15 20:00:00 UTC

PKT_LOGON = 1
PKT_LOGON_REPLY = 2
PKT_TIME_SYNC = 4
PKT_ADD_OBJECT = 5
PKT_JOIN = 8
PKT_AIR_STATE = 11
PKT_UNJOIN = 12
PKT_CHAT = 32

FIN, SYN, RST, PSH, ACK = 0x01, 0x02, 0x04, 0x08, 0x10

AIRCRAFT = ["F86F", "MIG15", "P51D", "SPITFIRE MK IX", "A6M2", "F4U CORSAIR", "F14B", "HAWK T1"]
STARTS = ["RUNWAY 09", "RUNWAY 27", "CARRIER", "GROUND 01", "NORTH FIELD"]
CHATS = ["hello all", "anyone for a sortie?", "rtb, low fuel", "nice shot", "gg", "brb"]

RECORD = struct.Struct("<IIII")
# Ethernet + IPv4 (no options) + TCP (no options), checksums filled in.
TCP_HEADERS = struct.Struct("!6s6sH BBHHHBBH4s4s HHIIBBHHH")
UDP_HEADERS = struct.Struct("!6s6sH BBHHHBBH4s4s HHHH")


def addr(dotted):
    return bytes(int(x) for x in dotted.split("."))


def mac(address):
    return b"\x02\x00\x00\x00\x00" + address[3:4]


def word_sum(data):
    """Sum of the big-endian 16-bit words of data (padded with a zero byte when odd)."""
    if len(data) % 2:
        data = data + b"\x00"
    return sum(struct.unpack("!%dH" % (len(data) // 2), data))


def fold(s):
    while s >> 16:
        s = (s & 0xFFFF) + (s >> 16)
    return (~s) & 0xFFFF


def frame(kind, body):
    """A framed packet, padded to an even length so payload word sums add up part by part."""
    if len(body) % 2:
        body += b"\x00"
    return struct.pack("<II", 4 + len(body), kind) + body


def text(value, size):
    raw = value.encode()[: size - 1]
    return raw + b"\x00" * (size - len(raw))


class Payload:
    """Bytes and their word sum, computed once; parts of even length concatenate freely."""

    __slots__ = ("data", "sum")

    def __init__(self, data, total=None):
        self.data = data
        self.sum = word_sum(data) if total is None else total

    def __add__(self, other):
        assert len(self.data) % 2 == 0
        return Payload(self.data + other.data, self.sum + other.sum)


EMPTY = Payload(b"", 0)


class Writer:
    def __init__(self, out, rng):
        self.out = out
        self.rng = rng
        self.buffer = bytearray()
        self.count = 0
        self.time_us = START_SECONDS * 1_000_000
        self.ident = {}
        self.buffer += struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1)

    def advance_to(self, time_us):
        self.time_us = max(self.time_us, time_us)

    def _record(self, frame_bytes, payload):
        # A few tens of microseconds between datagrams, strictly increasing.
        self.time_us += 5 + self.rng.randrange(60)
        length = len(frame_bytes) + len(payload)
        self.buffer += RECORD.pack(self.time_us // 1_000_000, self.time_us % 1_000_000,
                                   length, length)
        self.buffer += frame_bytes
        self.buffer += payload
        self.count += 1
        if len(self.buffer) >= 1 << 22:
            self.flush()

    def _ip_ident(self, src):
        i = (self.ident.get(src, 0x1000) + 1) & 0xFFFF
        self.ident[src] = i
        return i

    def tcp(self, src, dst, sport, dport, seq, ack, flags, payload=EMPTY, window=64240):
        total = 40 + len(payload.data)
        ident = self._ip_ident(src)
        s_words = (src[0] << 8 | src[1]) + (src[2] << 8 | src[3])
        d_words = (dst[0] << 8 | dst[1]) + (dst[2] << 8 | dst[3])
        ip_sum = fold(0x4500 + total + ident + 0x4000 + 0x4006 + s_words + d_words)
        tcp_sum = fold(s_words + d_words + 6 + total - 20 + sport + dport + (seq >> 16) +
                       (seq & 0xFFFF) + (ack >> 16) + (ack & 0xFFFF) + (0x50 << 8 | flags) +
                       window + payload.sum)
        headers = TCP_HEADERS.pack(mac(dst), mac(src), 0x0800,
                                   0x45, 0, total, ident, 0x4000, 64, 6, ip_sum, src, dst,
                                   sport, dport, seq, ack, 0x50, flags, window, tcp_sum, 0)
        self._record(headers, payload.data)

    def udp(self, src, dst, sport, dport, payload):
        total = 28 + len(payload.data)
        ident = self._ip_ident(src)
        s_words = (src[0] << 8 | src[1]) + (src[2] << 8 | src[3])
        d_words = (dst[0] << 8 | dst[1]) + (dst[2] << 8 | dst[3])
        ip_sum = fold(0x4500 + total + ident + 0x4000 + 0x4011 + s_words + d_words)
        udp_sum = fold(s_words + d_words + 17 + 2 * (total - 20) + sport + dport + payload.sum)
        headers = UDP_HEADERS.pack(mac(dst), mac(src), 0x0800,
                                   0x45, 0, total, ident, 0x4000, 64, 17, ip_sum, src, dst,
                                   sport, dport, total - 20, udp_sum or 0xFFFF)
        self._record(headers, payload.data)

    def flush(self):
        self.out.write(self.buffer)
        self.buffer.clear()


class Connection:
    """One TCP connection with the sequence numbers of both ends."""

    def __init__(self, w, a, b, aport, bport, rng):
        self.w, self.a, self.b, self.aport, self.bport = w, a, b, aport, bport
        self.aseq = rng.randrange(1 << 32)
        self.bseq = rng.randrange(1 << 32)

    def a_sends(self, payload=EMPTY, flags=PSH | ACK):
        ack = self.bseq if flags & ACK else 0
        self.w.tcp(self.a, self.b, self.aport, self.bport, self.aseq, ack, flags, payload)
        self.aseq = (self.aseq + len(payload.data) + (1 if flags & (SYN | FIN) else 0)) % (1 << 32)

    def b_sends(self, payload=EMPTY, flags=PSH | ACK):
        ack = self.aseq if flags & ACK else 0
        self.w.tcp(self.b, self.a, self.bport, self.aport, self.bseq, ack, flags, payload)
        self.bseq = (self.bseq + len(payload.data) + (1 if flags & (SYN | FIN) else 0)) % (1 << 32)

    def handshake(self):
        self.a_sends(flags=SYN)
        self.b_sends(flags=SYN | ACK)
        self.a_sends(flags=ACK)

    def close_steps(self):
        """The three datagrams of a close started by end a, one at a time."""
        yield lambda: self.a_sends(flags=FIN | ACK)
        yield lambda: self.b_sends(flags=FIN | ACK)
        yield lambda: self.a_sends(flags=ACK)


class Client:
    def __init__(self, index, rng):
        self.index = index
        self.address = addr("198.51.100.%d" % (10 + index))
        self.port = 49152 + rng.randrange(16000)
        self.name = ("ulla%02d" if index % 7 == 3 else "pilot%02d") % index
        self.aircraft = rng.choice(AIRCRAFT)
        self.start = rng.choice(STARTS)
        self.conn = None
        self.logon_tick = index * 10 + rng.randrange(10)  # one a second
        self.join_tick = self.logon_tick + 10 + rng.randrange(20)
        self.flying = False
        # Air states change with every tick; a few dozen variants stand in for the motion.
        self.air_states = [Payload(frame(PKT_AIR_STATE, rng.randbytes(56))) for _ in range(32)]

    def join_payload(self, iff):
        body = struct.pack("<I", iff) + text(self.aircraft, 32) + text(self.start, 32)
        return Payload(frame(PKT_JOIN, body))

    def add_object(self, own):
        body = bytearray(160)
        body[2:4] = struct.pack("<H", 0 if own else 1)
        body[124:140] = text(self.name, 16)
        return Payload(frame(PKT_ADD_OBJECT, bytes(body)))


def dns_message(ident, name, answer):
    """A DNS query for the A record of name, or its answer pointing into 198.51.100.0/24."""
    question = b"".join(bytes([len(p)]) + p.encode() for p in name.split(".")) + b"\x00"
    question += struct.pack("!HH", 1, 1)
    flags = 0x8180 if answer else 0x0100
    data = struct.pack("!HHHHHH", ident, flags, 1, 1 if answer else 0, 0, 0) + question
    if answer:
        data += struct.pack("!HHHIH4s", 0xC00C, 1, 1, 300, 4, addr("198.51.100.80"))
    return Payload(data)


class OtherTraffic:
    """The server machine's traffic on other ports."""

    def __init__(self, w, rng):
        self.w, self.rng = w, rng
        server = addr(SERVER)
        self.server = server
        self.dns = addr("198.51.100.53")
        self.https = Connection(w, server, addr("198.51.100.80"), 41000, 443, rng)
        self.ssh = Connection(w, addr("198.51.100.5"), server, 52000, 22, rng)
        self.bulk = [Payload(rng.randbytes(1460)) for _ in range(16)]
        self.small = [Payload(rng.randbytes(n)) for n in (36, 52, 68, 100, 148, 212)]
        self.unacknowledged = 0
        self.lookups = [dns_message(rng.randrange(1 << 16), name, answer)
                        for name in ("updates.example.org", "www.example.com", "ntp.example.net")
                        for answer in (False, True)]

    def start(self):
        self.https.handshake()
        self.ssh.handshake()

    def one(self):
        r = self.rng.random()
        if r < 0.55 or (r < 0.80 and self.unacknowledged == 0):
            self.https.b_sends(self.rng.choice(self.bulk), ACK)
            self.unacknowledged += 1
        elif r < 0.80:
            self.https.a_sends(flags=ACK)
            self.unacknowledged = 0
        elif r < 0.90:
            self.ssh.a_sends(self.rng.choice(self.small))
        elif r < 0.95:
            self.ssh.b_sends(self.rng.choice(self.small))
        elif r < 0.975:
            self.w.udp(self.server, self.dns, 33000 + self.rng.randrange(20000), 53,
                       self.rng.choice(self.lookups[0::2]))
        else:
            self.w.udp(self.dns, self.server, 53, 33000 + self.rng.randrange(20000),
                       self.rng.choice(self.lookups[1::2]))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("output")
    parser.add_argument("-n", "--count", type=int, default=1_000_000,
                        help="number of datagrams (default 1,000,000)")
    parser.add_argument("--seed", type=int, default=7915)
    parser.add_argument("--other", type=float, default=4.0,
                        help="other-port datagrams per tick, on average (default 4)")
    args = parser.parse_args()
    if args.count < 1:
        parser.error("count must be positive")

    rng = random.Random(args.seed)
    server = addr(SERVER)
    time_sync = Payload(frame(PKT_TIME_SYNC, bytes(12)))
    logon_reply = Payload(frame(PKT_LOGON_REPLY, bytes(24)))
    unjoin = Payload(frame(PKT_UNJOIN, bytes(4)))
    chats = [Payload(frame(PKT_CHAT, bytes(8) + c.encode() + b"\x00")) for c in CHATS]

    with open(args.output, "wb") as out:
        w = Writer(out, rng)
        clients = [Client(i, rng) for i in range(CLIENTS)]
        other = OtherTraffic(w, rng)
        connected = []
        if args.count >= 100:
            other.start()

        def budget_left():
            # Room is kept for the three closing datagrams of every connection.
            return args.count - w.count - 3 * len(connected)

        tick = 0
        while budget_left() > 0:
            w.advance_to(START_SECONDS * 1_000_000 + tick * TICK_US)
            flying = [c for c in connected if c.flying]
            for c in clients:
                if budget_left() <= 0:
                    break
                if c.conn is None:
                    if tick == c.logon_tick and budget_left() >= 9:
                        c.conn = Connection(w, c.address, server, c.port, SERVER_PORT, rng)
                        connected.append(c)
                        c.conn.handshake()
                        c.conn.a_sends(Payload(frame(PKT_LOGON, text(c.name, 16) + bytes(16))))
                        c.conn.b_sends(logon_reply)
                        c.conn.a_sends(flags=ACK)
                    continue
                if not c.flying and tick >= c.join_tick and budget_left() >= 2:
                    c.conn.a_sends(c.join_payload(rng.randrange(4)))
                    c.flying = True
                    # The server shows the newcomer to itself and to everyone else.
                    c.conn.b_sends(c.add_object(True))
                    for o in connected:
                        if o is not c and budget_left() > 0:
                            o.conn.b_sends(c.add_object(False))
                    continue
                if c.flying:
                    payload = c.air_states[tick % 32]
                    if rng.random() < 1 / 1500:
                        payload = payload + rng.choice(chats)
                    if rng.random() < 1 / 6000:
                        payload = payload + unjoin
                        c.flying = False
                        c.join_tick = tick + 50 + rng.randrange(150)
                    c.conn.a_sends(payload)
            # One segment a tick to every client: a few of the other players' air states.
            for c in connected:
                if budget_left() <= 0:
                    break
                others = [o for o in flying if o is not c]
                k = min(len(others), 1 + rng.randrange(5))
                payload = time_sync
                for o in rng.sample(others, k):
                    payload = payload + o.air_states[tick % 32]
                c.conn.b_sends(payload)
            n = 0
            while rng.random() < args.other / (1 + args.other):
                n += 1
            for _ in range(n):
                if budget_left() > 0:
                    other.one()
            tick += 1

        w.advance_to(START_SECONDS * 1_000_000 + tick * TICK_US)
        for c in connected:
            for step in c.conn.close_steps():
                if w.count < args.count:
                    step()
        while w.count < args.count:
            other.one()
        w.flush()
    print("%s: %d datagrams, %.1f s of traffic, %d clients" %
          (args.output, w.count, tick * TICK_US / 1e6, len(connected)), file=sys.stderr)


if __name__ == "__main__":
    main()
