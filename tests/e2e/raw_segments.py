#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Sends TCP segments that carry a PKT_LOGON outside any connection, through a raw IP socket.

  raw_segments.py --src A --dst B --dport P --name USER [--count N] [--bad-checksum]

The kernel fills in the IP header's checksum, identification and total length; the TCP checksum
is the one written here, so --bad-checksum puts a wrong one on the wire. Only addresses of the
documentation range 198.51.100.0/24 are accepted.
"""
import argparse
import ipaddress
import os
import socket
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..',
                                'tools', 'zpsim'))
import protocol  # noqa: E402

TEST_NET = ipaddress.ip_network('198.51.100.0/24')


def internet_checksum(data):
    if len(data) % 2:
        data += b'\0'
    total = sum(struct.unpack('!%dH' % (len(data) // 2), data))
    while total >> 16:
        total = (total >> 16) + (total & 0xFFFF)
    return ~total & 0xFFFF


def segment(src, dst, sport, dport, seq, payload, bad_checksum):
    flags = 0x18  # PSH, ACK: a data segment of an established connection
    header = struct.pack('!HHIIBBHHH', sport, dport, seq, 1, 5 << 4, flags, 65535, 0, 0)
    pseudo = socket.inet_aton(src) + socket.inet_aton(dst) + struct.pack(
        '!BBH', 0, socket.IPPROTO_TCP, len(header) + len(payload))
    checksum = internet_checksum(pseudo + header + payload)
    if bad_checksum:
        checksum ^= 0x5A5A
    header = header[:16] + struct.pack('!H', checksum) + header[18:]
    ip = struct.pack('!BBHHHBBH4s4s', 0x45, 0, 0, 0, 0, 64, socket.IPPROTO_TCP, 0,
                     socket.inet_aton(src), socket.inet_aton(dst))
    return ip + header + payload


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--src', required=True)
    p.add_argument('--dst', required=True)
    p.add_argument('--sport', type=int, default=40000)
    p.add_argument('--dport', type=int, default=7915)
    p.add_argument('--name', required=True)
    p.add_argument('--count', type=int, default=1)
    p.add_argument('--bad-checksum', action='store_true')
    o = p.parse_args()
    for a in (o.src, o.dst):
        if ipaddress.ip_address(a) not in TEST_NET:
            p.error('%s is outside %s' % (a, TEST_NET))

    payload = protocol.frame(protocol.PKT_LOGON, protocol.logon_body(o.name.encode()))
    s = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_HDRINCL, 1)
    for i in range(o.count):
        s.sendto(segment(o.src, o.dst, o.sport, o.dport, 1000 + i * len(payload), payload,
                         o.bad_checksum), (o.dst, 0))
    s.close()
    return 0


if __name__ == '__main__':
    sys.exit(main())
