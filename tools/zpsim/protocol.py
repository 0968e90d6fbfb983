# SPDX-License-Identifier: MIT
"""Wire format of the ZEPHRINE server protocol, as the stand-in simulator speaks it.

Every packet is: u32 length (bytes that follow the field, i.e. 4 + body), u32 type, body.
All integers little-endian.  Written from the protocol description alone, on purpose
independent of the monitor's C++ codec.
"""
import struct

HEADER = struct.Struct('<II')

PKT_LOGON = 1
PKT_HANDSHAKE = 4
PKT_ADD_OBJECT = 5
PKT_ACK = 6
PKT_JOIN = 8
PKT_AIR_STATE = 11
PKT_UNJOIN = 12
PKT_REMOVE_OBJECT = 13
PKT_PROBE16 = 16
PKT_KEEPALIVE = 17
PKT_DAMAGE = 22
PKT_CHAT = 32
PKT_PROBE33 = 33
PKT_37 = 37
PKT_ECHO43 = 43
PKT_ECHO44 = 44

TYPE_NAMES = {
    PKT_LOGON: 'PKT_LOGON', PKT_HANDSHAKE: 'HANDSHAKE', PKT_ADD_OBJECT: 'PKT_ADD_OBJECT',
    PKT_ACK: 'PKT_ACK', PKT_JOIN: 'PKT_JOIN', PKT_AIR_STATE: 'PKT_AIR_STATE',
    PKT_UNJOIN: 'PKT_UNJOIN', PKT_REMOVE_OBJECT: 'PKT_REMOVE_OBJECT', PKT_PROBE16: 'PROBE16',
    PKT_KEEPALIVE: 'PKT_KEEPALIVE', PKT_DAMAGE: 'PKT_DAMAGE', PKT_CHAT: 'PKT_CHAT',
    PKT_PROBE33: 'PROBE33', PKT_37: 'PKT_37', PKT_ECHO43: 'ECHO43', PKT_ECHO44: 'ECHO44',
}

DEFAULT_VERSION = 20080220
# Largest length field accepted from a peer: a packet of 8192 bytes in all, the size of the
# monitor's reassembly buffer.  Anything larger (or below 4, which names no type) ends the
# connection: a peer that sends it cannot be followed in the stream any more.
MAX_LENGTH = 8188

NAME_FIELD = 16        # PKT_LOGON and PKT_ADD_OBJECT user names, at most 15 characters
JOIN_TEXT_FIELD = 32   # PKT_JOIN aircraft name and start position, at most 31 characters
ADD_OBJECT_NAME_AT = 124
ADD_OBJECT_BODY = ADD_OBJECT_NAME_AT + NAME_FIELD
AIR_STATE_BODY = 64    # long enough for both places of the G load (+42 and +62)
DAMAGE_MAX = 32767


class BadLength(Exception):
    """The stream carries a length field that cannot be a packet."""

    def __init__(self, length):
        super().__init__(f'bad length field {length}')
        self.length = length


def frame(ptype, body=b''):
    return HEADER.pack(len(body) + 4, ptype) + bytes(body)


def fixed_text(text, size):
    """A NUL-padded character field that keeps at most size - 1 characters and a final NUL."""
    text = bytes(text)[:size - 1]
    return text + b'\0' * (size - len(text))


def c_text(body, offset, size=None):
    """Bytes of a NUL-terminated field, never reading past the body or the field's size."""
    end = len(body) if size is None else min(len(body), offset + size)
    if offset >= end:
        return b''
    raw = bytes(body[offset:end])
    nul = raw.find(b'\0')
    return raw if nul < 0 else raw[:nul]


def show(raw):
    """Network texts are bytes; keep them readable and reversible in JSON."""
    return raw.decode('utf-8', 'backslashreplace')


# ---- bodies -------------------------------------------------------------------------------

def logon_body(name, version=DEFAULT_VERSION):
    return fixed_text(name, NAME_FIELD) + struct.pack('<I', version & 0xFFFFFFFF)


def ack_body(code, value):
    return struct.pack('<iI', code, value & 0xFFFFFFFF)


def join_body(iff, aircraft, start):
    return (struct.pack('<I', iff & 0xFFFFFFFF) + fixed_text(aircraft, JOIN_TEXT_FIELD)
            + fixed_text(start, JOIN_TEXT_FIELD))


def g_field_values(fmt, g):
    """(i16 hundredths, i8 tenths) as stored for a format; the unused one is 0."""
    if fmt <= 3:
        return max(-32768, min(32767, round(g * 100))), 0
    if fmt <= 5:
        return 0, max(-128, min(127, round(g * 10)))
    return 0, 0


def air_state_body(object_id, fmt, g):
    body = bytearray(AIR_STATE_BODY)
    struct.pack_into('<IH', body, 4, object_id & 0xFFFFFFFF, fmt & 0xFFFF)
    hundredths, tenths = g_field_values(fmt, g)
    struct.pack_into('<h', body, 42, hundredths)
    struct.pack_into('<b', body, 62, tenths)
    return bytes(body)


def air_state_g(body):
    """G load of a state packet, None when its format carries none or the body is short."""
    if len(body) < 10:
        return None
    fmt = struct.unpack_from('<H', body, 8)[0]
    if fmt <= 3:
        return struct.unpack_from('<h', body, 42)[0] / 100 if len(body) >= 44 else None
    if fmt <= 5:
        return struct.unpack_from('<b', body, 62)[0] / 10 if len(body) >= 63 else None
    return None


def with_object_id(body, object_id):
    """A state packet as relayed: the sender's aircraft id replaced by the server's."""
    out = bytearray(body)
    struct.pack_into('<I', out, 4, object_id & 0xFFFFFFFF)
    return bytes(out)


def chat_body(text):
    return struct.pack('<II', 0, 0) + bytes(text) + b'\0'


def add_object_body(kind, flag, object_id, user):
    body = bytearray(ADD_OBJECT_BODY)
    struct.pack_into('<HHI', body, 0, kind & 0xFFFF, flag & 0xFFFF, object_id & 0xFFFFFFFF)
    body[ADD_OBJECT_NAME_AT:] = fixed_text(user, NAME_FIELD)
    return bytes(body)


def remove_object_body(object_id):
    return struct.pack('<I', object_id & 0xFFFFFFFF)


def damage_body(target, amount):
    return struct.pack('<IIIHHHH', 1, target & 0xFFFFFFFF, 1, 1, 1, amount & 0xFFFF, 11)


def sign_extend16(value):
    return value - 0x10000 if value & 0x8000 else value


def client_replies(ptype, body):
    """What a conforming client answers to a server packet, as (type, body) pairs in order."""
    if ptype == PKT_HANDSHAKE:
        return [(PKT_ACK, ack_body(9, 0)), (PKT_ACK, ack_body(10, 0)), (PKT_ACK, ack_body(11, 0)),
                (PKT_HANDSHAKE, bytes(body)), (PKT_PROBE33, b'')]
    if ptype == PKT_ADD_OBJECT and len(body) >= 8:
        kind, _, object_id = struct.unpack_from('<HHI', body, 0)
        return [(PKT_ACK, ack_body(sign_extend16(kind), object_id))]
    if ptype == PKT_PROBE16:
        return [(PKT_ACK, ack_body(7, 0))]
    if ptype == PKT_PROBE33:
        return [(PKT_ACK, ack_body(4, 0))]
    if ptype in (PKT_ECHO43, PKT_ECHO44):
        return [(ptype, bytes(body))]
    return []


def describe(ptype, body):
    """Short text of a packet for check messages."""
    if ptype == PKT_ACK and len(body) == 8:
        return 'PKT_ACK(%d,%d)' % struct.unpack('<iI', body)
    return '%s[%d bytes]' % (TYPE_NAMES.get(ptype, 'type %d' % ptype), len(body))


# ---- decoding for the record --------------------------------------------------------------

def decode(ptype, body):
    """Fields of a packet that the record shows; fields beyond a short body are left out."""
    f = {}
    n = len(body)
    if ptype == PKT_LOGON:
        f['user'] = show(c_text(body, 0, NAME_FIELD))
        if n >= 20:
            f['version'] = struct.unpack_from('<I', body, 16)[0]
    elif ptype == PKT_ADD_OBJECT:
        if n >= 8:
            f['kind'], f['flag'], f['object_id'] = struct.unpack_from('<HHI', body, 0)
        f['user'] = show(c_text(body, ADD_OBJECT_NAME_AT, NAME_FIELD))
    elif ptype == PKT_ACK and n >= 8:
        f['code'], f['value'] = struct.unpack_from('<iI', body, 0)
    elif ptype == PKT_JOIN:
        if n >= 4:
            f['iff'] = struct.unpack_from('<I', body, 0)[0]
        f['aircraft'] = show(c_text(body, 4, JOIN_TEXT_FIELD))
        f['start'] = show(c_text(body, 36, JOIN_TEXT_FIELD))
    elif ptype == PKT_AIR_STATE and n >= 10:
        f['object_id'], f['format'] = struct.unpack_from('<IH', body, 4)
        g = air_state_g(body)
        f['g'] = None if g is None else round(g, 2)
    elif ptype == PKT_REMOVE_OBJECT and n >= 4:
        f['object_id'] = struct.unpack_from('<I', body, 0)[0]
    elif ptype == PKT_DAMAGE and n >= 20:
        w0, target, w8, h12, h14, amount, h18 = struct.unpack_from('<IIIHHHH', body, 0)
        f['target'] = target
        f['amount'] = amount
        f['valid'] = n == 20 and (w0, w8, h12, h14, h18) == (1, 1, 1, 1, 11)
    elif ptype == PKT_CHAT:
        f['text'] = show(c_text(body, 8))
    return f


class Cutter:
    """Cuts packets out of a byte stream that arrives in arbitrary pieces."""

    def __init__(self, max_length=MAX_LENGTH):
        self.max_length = max_length
        self.buf = bytearray()

    def feed(self, data):
        """Returns the complete packets as (type, body); raises BadLength on a bad length field."""
        self.buf += data
        out = []
        while len(self.buf) >= 4:
            length = struct.unpack_from('<I', self.buf, 0)[0]
            # Judged as soon as the field is complete: waiting for 2 GiB would never end.
            if length < 4 or length > self.max_length:
                raise BadLength(length)
            if len(self.buf) < length + 4:
                break
            ptype = struct.unpack_from('<I', self.buf, 4)[0]
            out.append((ptype, bytes(self.buf[8:length + 4])))
            del self.buf[:length + 4]
        return out
