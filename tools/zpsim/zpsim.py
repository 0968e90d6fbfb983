#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""zpsim: stand-in for the ZEPHRINE dedicated server and its players.

  zpsim.py server [-server NAME] [-netport P] [--exe NAME] [--bind ADDR] [--record FILE] ...
  zpsim.py bot    [--host H] [--port P] [--name N] [--count K] [--record FILE] ...
  zpsim.py make-folder DIR [SERVER OPTIONS...]
"""
import argparse
import asyncio
import os
import shlex
import stat
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import bot       # noqa: E402
import protocol  # noqa: E402
import record    # noqa: E402
import server    # noqa: E402


def add_server_options(p):
    p.add_argument('-server', '--server-name', dest='server_name', default='zpsim',
                   help='the handle name the simulator is started with')
    p.add_argument('-netport', '--port', dest='port', type=int, default=7915,
                   help='TCP port to listen on; 0 picks a free one (see the listen record)')
    p.add_argument('--exe', default='zemainsvr.exe', choices=sorted(server.EXECUTABLES),
                   help='which executable this process stands for')
    p.add_argument('--bind', default=os.environ.get('ZPSIM_BIND', '0.0.0.0'),
                   help='listen address (default $ZPSIM_BIND or 0.0.0.0)')
    p.add_argument('--record', default=os.environ.get('ZPSIM_RECORD'),
                   help='JSON-lines record file, appended to (default $ZPSIM_RECORD)')
    p.add_argument('--hostile', choices=server.HOSTILE_MODES,
                   help='misbehave towards every client, to test the monitor\'s client')
    p.add_argument('--dribble-pause', type=float, default=0.005,
                   help='seconds between the single bytes of --hostile dribble')
    p.add_argument('--big-echo-size', type=int, default=server.BIG_ECHO_BODY,
                   help='body bytes of the --hostile big-echo packet')
    p.add_argument('--lenient', action='store_true',
                   help='keep a client whose replies are wrong or late (default: drop it)')
    p.add_argument('--reply-timeout', type=float, default=5.0,
                   help='seconds a client has for the replies to each server packet')
    p.add_argument('--probe-interval', type=float, default=0.0,
                   help='resend the 16/33/43/44 probes every so many seconds (0: only at log-on)')
    p.add_argument('--hang-after', type=float,
                   help='stop answering after so many seconds, keeping the process and its port')
    p.add_argument('--first-object-id', type=int, default=1001)
    p.add_argument('--welcome', help='chat line (sent as it is) to each client after log-on')
    p.add_argument('--console', dest='console', action='store_true', default=None,
                   help='read command keys on stdin (default: only as zemainsvr.exe)')
    p.add_argument('--no-console', dest='console', action='store_false')
    p.add_argument('--max-length', type=int, default=protocol.MAX_LENGTH,
                   help='largest length field accepted before the connection is closed')
    p.add_argument('--skip-air-states', action='store_true',
                   help='leave PKT_AIR_STATE lines out of the record (long demo runs)')
    p.add_argument('--error-dialog-after', type=float,
                   help='graphical window: open an error dialog after so many seconds')
    p.add_argument('--menu-after', type=float,
                   help='graphical window: open a menu after so many seconds')


def add_bot_options(p):
    p.add_argument('--host', default='127.0.0.1')
    p.add_argument('--port', type=int, default=7915)
    p.add_argument('--source', help='local address to connect from (one of this machine\'s)')
    p.add_argument('--name', default='bot', help='user name; with --count K, NAME1..NAMEK')
    p.add_argument('--count', type=int, default=1, help='bots run by this process')
    p.add_argument('--stagger', type=float, default=0.1, help='seconds between bot starts')
    p.add_argument('--record', help='JSON-lines record file, appended to')
    p.add_argument('--net-version', type=int, default=protocol.DEFAULT_VERSION,
                   help='protocol version sent in PKT_LOGON')
    p.add_argument('--iff', type=int, default=0, help='IFF as sent, counted from 0')
    p.add_argument('--aircraft', default='F-15C_EAGLE')
    p.add_argument('--start', default='NORTH_RUNWAY', help='start position')
    p.add_argument('--g', default='1.0',
                   help='G load: "9" or a profile "1:2,9:3,1" (value:seconds, the last stays)')
    p.add_argument('--format', default='0,4',
                   help='air-state formats used in turn, e.g. "0", "4" or "0,4"')
    p.add_argument('--state-id', type=int,
                   help='aircraft id written into own air states (default: the announced one)')
    p.add_argument('--rate', type=float, default=10.0, help='air states per second')
    p.add_argument('--chat', action='append', default=[], help='chat text; may be repeated')
    p.add_argument('--chat-every', type=float, default=0.0,
                   help='seconds between chat lines (0: spread over the duration)')
    p.add_argument('--duration', type=float, default=5.0, help='seconds of flight')
    p.add_argument('--join-after', type=float, default=0.3, help='seconds from log-on to join')
    p.add_argument('--join-with-logon', action='store_true',
                   help='send PKT_LOGON and PKT_JOIN in one TCP segment')
    p.add_argument('--no-join', action='store_true', help='only watch: log on, never join')
    p.add_argument('--no-unjoin', action='store_true', help='leave without PKT_UNJOIN')
    p.add_argument('--linger', type=float, default=0.5, help='seconds between unjoin and leave')
    p.add_argument('--leave', choices=('fin', 'rst'), default='fin',
                   help='close with FIN, or with RST (SO_LINGER 0)')
    p.add_argument('--keepalive', type=float, default=30.0, help='PKT_KEEPALIVE period, 0: off')
    p.add_argument('--damage', type=int,
                   help='send one PKT_DAMAGE of this amount against each aircraft announced')
    p.add_argument('--misbehave', choices=('swap-acks', 'silent'),
                   help='answer the handshake wrongly, or not at all')
    p.add_argument('--connect-wait', type=float, default=5.0,
                   help='seconds to keep trying to connect')
    p.add_argument('--max-length', type=int, default=protocol.MAX_LENGTH)
    p.add_argument('--skip-air-states', action='store_true',
                   help='leave PKT_AIR_STATE lines out of the record')


LAUNCHER = '''#!/bin/sh
# SPDX-License-Identifier: MIT
# Stand-in for the simulator executable {exe}; started as: {exe} -server NAME -netport P
exec python3 {script} server --exe {exe} {baked}${{ZPSIM_ARGS:+ $ZPSIM_ARGS}} "$@"
'''


def make_folder(folder, extra):
    """Writes the four executables into folder, with extra server options baked in."""
    os.makedirs(folder, exist_ok=True)
    script = shlex.quote(os.path.join(HERE, 'zpsim.py'))
    baked = ''.join(shlex.quote(a) + ' ' for a in extra)
    for exe in server.EXECUTABLES:
        path = os.path.join(folder, exe)
        with open(path, 'w') as f:
            f.write(LAUNCHER.format(exe=exe, script=script, baked=baked))
        os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(prog='zpsim', allow_abbrev=False,
                                     description='Stand-in ZEPHRINE server and player bots.')
    sub = parser.add_subparsers(dest='command', required=True)
    add_server_options(sub.add_parser('server', allow_abbrev=False,
                                      help='run the server side'))
    for name in ('bot', 'bots'):
        add_bot_options(sub.add_parser(name, allow_abbrev=False, help='run player bots'))
    mk = sub.add_parser('make-folder', help='write the four executables into a folder')
    mk.add_argument('folder')
    mk.add_argument('extra', nargs=argparse.REMAINDER,
                    help='server options baked into every launcher')
    opts = parser.parse_args(argv)

    if opts.command == 'make-folder':
        return make_folder(opts.folder, opts.extra)
    if opts.command == 'server':
        rec = record.Recorder(opts.record, 'server')
        return asyncio.run(server.Server(opts, rec).run())
    try:
        bot.parse_g_profile(opts.g)
        [int(f) for f in opts.format.split(',')]
    except ValueError as e:
        parser.error(str(e))
    return asyncio.run(bot.run_bots(opts, lambda n: record.Recorder(opts.record, 'bot:' + n)))


if __name__ == '__main__':
    sys.exit(main())
