#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# Sends TCP segments that carry a PKT_LOGON outside any connection, through a raw IP socket.
#
#   raw_segments.py --src A --dst B --name USER [--sport S] [--dport P] [--count N] [--bad-checksum]
#
# The kernel fills in the IP header's checksum and identification; the TCP checksum is the one
# written here, so --bad-checksum puts a wrong one on the wire. Only addresses of the
# documentation range 198.51.100.0/24 are accepted.
import argparse, ipaddress, os, socket, sys  # noqa: E401

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
from fixture_peer import ip, logon, tcp  # noqa: E402

p = argparse.ArgumentParser()
for option in ("--src", "--dst", "--name"):
    p.add_argument(option, required=True)
for option, default in (("--sport", 40000), ("--dport", 7915), ("--count", 1)):
    p.add_argument(option, type=int, default=default)
p.add_argument("--bad-checksum", action="store_true")
o = p.parse_args()
if not all(ipaddress.ip_address(a) in ipaddress.ip_network("198.51.100.0/24") for a in (o.src, o.dst)):
    p.error("--src and --dst must lie in 198.51.100.0/24")
with socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW) as s:
    for i in range(o.count):
        segment = tcp(o.sport, logon(o.name), seq=1000 + i * len(logon(o.name)), src=o.src, dst=o.dst, dport=o.dport,
                      spoil=0x5A5A if o.bad_checksum else 0)
        s.sendto(ip(segment, src=o.src, dst=o.dst), (o.dst, 0))
