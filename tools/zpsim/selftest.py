#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Self-test of zpsim: the codec against the documented offsets, then server and bots on
127.0.0.1 (ephemeral ports), judged from their record files.  Exit status 0 when all pass."""
import json
import os
import shlex
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ZPSIM = os.path.join(HERE, 'zpsim.py')
sys.path.insert(0, HERE)
import protocol as P  # noqa: E402
import server as S    # noqa: E402

BIG = S.BIG_ECHO_BODY + 4

passed = 0
failed = 0


def check(name, ok, detail=''):
    global passed, failed
    if ok:
        passed += 1
        print('ok    ' + name)
    else:
        failed += 1
        print('FAIL  %s %s' % (name, detail))


# ---- helpers ------------------------------------------------------------------------------

class Rec:
    def __init__(self, path):
        self.lines = []
        if os.path.exists(path):
            with open(path, encoding='utf-8') as f:
                self.lines = [json.loads(line) for line in f]

    def find(self, ev='pkt', **want):
        return [x for x in self.lines if x['ev'] == ev
                and all(x.get(k) == v for k, v in want.items())]


def body_of(line):
    return bytes.fromhex(line['hex'])


def frame_of(line):
    return P.frame(line['type'], body_of(line))


class Run:
    """Processes of one scenario, all ended by the scenario."""

    def __init__(self, tmp, tag):
        self.tmp = tmp
        self.tag = tag
        self.procs = []

    def path(self, name):
        return os.path.join(self.tmp, '%s-%s.jsonl' % (self.tag, name))

    def server(self, *args, cmd=None, env=None, stdin=subprocess.DEVNULL):
        rec = self.path('server')
        cmd = cmd or [sys.executable, ZPSIM, 'server', '--bind', '127.0.0.1',
                      '--no-console', '--record', rec]
        proc = subprocess.Popen(cmd + ['-netport', '0'] + list(args), stdin=stdin, env=env,
                                stdout=subprocess.DEVNULL)
        self.procs.append(proc)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            listen = Rec(rec).find('listen')
            if listen:
                return proc, listen[0]['port'], rec
            time.sleep(0.05)
        raise RuntimeError('server of %s did not start' % self.tag)

    def bot(self, port, name, *args):
        proc = subprocess.Popen([sys.executable, ZPSIM, 'bot', '--port', str(port),
                                 '--name', name, '--record', self.path(name)] + list(args))
        self.procs.append(proc)
        return proc

    def stop(self):
        for p in self.procs:
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
        for p in self.procs:
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()


# ---- codec, against the documented layouts ------------------------------------------------

def test_codec():
    u32 = lambda b, o: struct.unpack_from('<I', b, o)[0]   # noqa: E731
    u16 = lambda b, o: struct.unpack_from('<H', b, o)[0]   # noqa: E731
    # Frame offsets below are as the monitor's capture decoder reads them (body = frame + 8).
    logon = P.frame(P.PKT_LOGON, P.logon_body(b'ABCDEFGHIJKLMNOPQRST', 20080220))
    join = P.frame(P.PKT_JOIN, P.join_body(3, b'A' * 40, b'RWY'))
    add = P.frame(P.PKT_ADD_OBJECT, P.add_object_body(0, 1, 0x01020304, b'pilot'))
    chat = P.frame(P.PKT_CHAT, P.chat_body(b'(x)hi'))
    dmg = P.frame(P.PKT_DAMAGE, P.damage_body(77, 32767))
    cases = [
        ('logon length field', u32(logon, 0), 24),
        ('logon name cut to 15 + NUL', logon[8:24], b'ABCDEFGHIJKLMNO\0'),
        ('logon version at body+16', u32(logon, 24), 20080220),
        ('join IFF at frame 8', u32(join, 8), 3),
        ('join aircraft at frame 12, 31 chars', join[12:44], b'A' * 31 + b'\0'),
        ('join start at frame 44', join[44:48], b'RWY\0'),
        ('add-object flag u16 at frame 10', u16(add, 10), 1),
        ('add-object id at body+4', u32(add, 12), 0x01020304),
        ('add-object name at frame 132', add[132:138], b'pilot\0'),
        ('chat text at frame 16', chat[16:], b'(x)hi\0'),
        ('chat length = 4 + 8 + text + NUL', u32(chat, 0), 4 + 8 + 6),
        ('damage body', dmg[8:], struct.pack('<IIIHHHH', 1, 77, 1, 1, 1, 32767, 11)),
        ('ack of kind 0xFFFF is -1', P.client_replies(P.PKT_ADD_OBJECT,
                                                      P.add_object_body(0xFFFF, 0, 9, b'x')),
         [(P.PKT_ACK, struct.pack('<iI', -1, 9))]),
        ('handshake replies in order', [t for t, _ in P.client_replies(4, b'abc')],
         [6, 6, 6, 4, 33]),
    ]
    for fmt, g, where, raw in ((0, 8.5, 42, 850), (3, -1.25, 42, -125), (4, 8.5, 62, 85),
                               (5, -2.5, 62, -25), (4, 99.0, 62, 127)):
        body = P.air_state_body(7, fmt, g)
        width = '<h' if where == 42 else '<b'
        cases.append(('air state format %d G %g at +%d' % (fmt, g, where),
                      struct.unpack_from(width, body, where)[0], raw))
    cases.append(('air state format 6 has no G', P.air_state_g(P.air_state_body(7, 6, 9)), None))
    for name, got, want in cases:
        check('codec: ' + name, got == want, 'got %r, want %r' % (got, want))


def test_cutter():
    stream = (P.frame(4, b'\x01\x02\x03') + P.frame(33) + P.frame(43, bytes(range(200)))
              + P.frame(6, P.ack_body(9, 0)))
    want = [(4, b'\x01\x02\x03'), (33, b''), (43, bytes(range(200))), (6, P.ack_body(9, 0))]
    for size in (1, 2, 3, 7, 8, 13, len(stream)):
        c = P.Cutter()
        got = []
        for i in range(0, len(stream), size):
            got += c.feed(stream[i:i + size])
        check('cutter: pieces of %d bytes' % size, got == want and not c.buf, repr(got[:2]))
    c = P.Cutter()
    got = c.feed(P.frame(16) + P.frame(17) + P.frame(32, b'abc')[:3])
    check('cutter: two packets and 3 bytes of a third', len(got) == 2 and len(c.buf) == 3)
    check('cutter: the third completes later', c.feed(P.frame(32, b'abc')[3:]) == [(32, b'abc')])
    check('cutter: 4 length bytes alone wait', P.Cutter().feed(struct.pack('<I', 4)) == [])
    for length, bad in ((0, True), (3, True), (4, False), (P.MAX_LENGTH, False),
                        (P.MAX_LENGTH + 1, True), (0x7FFFFFFF, True)):
        try:
            P.Cutter().feed(struct.pack('<I', length))
            raised = False
        except P.BadLength:
            raised = True
        check('cutter: length field %d %s' % (length, 'refused' if bad else 'waited for'),
              raised == bad)


# ---- scenarios over loopback --------------------------------------------------------------

def test_session(tmp):
    run = Run(tmp, 'session')
    try:
        srv, port, srv_path = run.server('--console', stdin=subprocess.PIPE)
        common = ['--keepalive', '0.5']
        bots = {
            'watch': run.bot(port, 'watch', '--no-join', '--duration', '3.6', '--damage', '77',
                             *common),
            'alpha': run.bot(port, 'alpha', '--iff', '1', '--aircraft', 'A-10A', '--start',
                             'SOUTH', '--g', '8.5', '--format', '0,4', '--chat', 'hi there',
                             '--chat', 'second line', '--duration', '1.5', *common),
            'bravo': run.bot(port, 'bravo', '--join-with-logon', '--g', '-2.5', '--format', '4',
                             '--state-id', '4242',
                             '--duration', '2.0', '--no-unjoin', '--leave', 'rst', *common),
            'charlie': run.bot(port, 'charlie', '--g', '1:1,3', '--format', '0',
                               '--duration', '3.0', *common),
        }
        time.sleep(1.0)
        bots['late'] = run.bot(port, 'late', '--no-join', '--duration', '0.8')
        codes = {n: p.wait(20) for n, p in bots.items()}
        check('session: every bot ran its script', set(codes.values()) == {0}, repr(codes))
        srv.stdin.write(b'REIPx\x1b')
        srv.stdin.flush()
        check('session: Escape ends the console server', srv.wait(5) == 0)
    finally:
        run.stop()

    s = Rec(srv_path)
    r = {n: Rec(run.path(n)) for n in bots}
    checks = s.find('check')
    for name in bots:
        whats = {c['what'] for c in checks if c['client'] == name and c['ok']}
        check('session: %s passed handshake and probes' % name,
              {'handshake', 'probe16', 'probe33', 'echo43', 'echo44'} <= whats, repr(whats))
    check('session: no failed check', all(c['ok'] for c in checks),
          repr([c for c in checks if not c['ok']]))
    check('session: acks of every announcement', not [c for c in s.find('close') if c['pending']])

    ids = {}
    for name in ('alpha', 'bravo', 'charlie'):
        own = r[name].find(dir='in', type=P.PKT_ADD_OBJECT, flag=0, kind=0, user=name)
        check('session: %s announced to itself with u16 0' % name, len(own) == 1)
        ids[name] = own[0]['object_id'] if own else None
        seen = r['watch'].find(dir='in', type=P.PKT_ADD_OBJECT, object_id=ids[name])
        check('session: %s announced to others with u16 1 and name at +124' % name,
              len(seen) == 1 and seen[0]['flag'] == 1 and seen[0]['kind'] == 0
              and body_of(seen[0])[124:124 + len(name) + 1] == name.encode() + b'\0')
    check('session: object ids distinct', len(set(ids.values())) == 3, repr(ids))
    late = r['late'].find(dir='in', type=P.PKT_ADD_OBJECT, object_id=ids['charlie'], flag=1)
    check('session: a late client is told of aircraft already flying', len(late) == 1)

    join = s.find(dir='in', type=P.PKT_JOIN, client='alpha')
    check('session: join fields where the decoder reads them', len(join) == 1
          and frame_of(join[0])[8:12] == b'\1\0\0\0' and frame_of(join[0])[12:18] == b'A-10A\0'
          and frame_of(join[0])[44:50] == b'SOUTH\0')
    logon = s.find(dir='in', type=P.PKT_LOGON, user='bravo')
    join = s.find(dir='in', type=P.PKT_JOIN, client='bravo')
    check('session: log-on and join in one segment arrive in one read',
          len(logon) == 1 and len(join) == 1 and logon[0]['read'] == join[0]['read'])

    states = r['watch'].find(dir='in', type=P.PKT_AIR_STATE)
    seen = {(x['object_id'], x['format'], x['g']) for x in states}
    check('session: states relayed with the object id, both G places',
          {(ids['alpha'], 0, 8.5), (ids['alpha'], 4, 8.5), (ids['bravo'], 4, -2.5),
           (ids['charlie'], 0, 1.0), (ids['charlie'], 0, 3.0)} <= seen, repr(sorted(seen)[:8]))
    raw = [body_of(x) for x in states if x['object_id'] == ids['alpha']]
    check('session: G raw fields (i16 850 at +42, i8 85 at +62)',
          any(struct.unpack_from('<Hh', b, 8)[0] == 0 and struct.unpack_from('<h', b, 42)[0]
              == 850 for b in raw) and
          any(struct.unpack_from('<H', b, 8)[0] == 4 and struct.unpack_from('<b', b, 62)[0]
              == 85 for b in raw))
    count = len([x for x in states if x['object_id'] == ids['alpha']])
    check('session: about 10 states a second (1.5 s of alpha)', 10 <= count <= 20, str(count))
    own = r['alpha'].find(dir='in', type=P.PKT_AIR_STATE, object_id=ids['alpha'])
    check('session: own states are not sent back', not own)

    for name in ('watch', 'alpha', 'bravo', 'charlie'):
        texts = [x['text'] for x in r[name].find(dir='in', type=P.PKT_CHAT)]
        check('session: %s got the chat as (name)text' % name,
              texts == ['(alpha)hi there', '(alpha)second line'], repr(texts))
    relayed = s.find(dir='out', type=P.PKT_CHAT, client='watch')
    check('session: chat body is two zero words, text, NUL',
          relayed and body_of(relayed[0]) == b'\0' * 8 + b'(alpha)hi there\0')

    def removed(rec, oid):
        return rec.find(dir='in', type=P.PKT_REMOVE_OBJECT, object_id=oid)
    s_alpha_close = s.find('close', client='alpha')
    s_alpha_removes = s.find(dir='out', type=P.PKT_REMOVE_OBJECT, object_id=ids['alpha'])
    check('session: unjoin removes the aircraft before the player leaves',
          removed(r['watch'], ids['alpha']) and removed(r['alpha'], ids['alpha'])
          and s_alpha_close and s_alpha_removes
          and max(x['t'] for x in s_alpha_removes) < s_alpha_close[0]['t'])
    check('session: FIN leave seen as fin',
          [x['reason'] for x in s_alpha_close] == ['fin'])
    bravo_close = s.find('close', client='bravo')
    check('session: RST leave seen as reset', [x['reason'] for x in bravo_close] == ['reset'])
    check('session: leaving without unjoin removes the aircraft',
          not s.find(dir='in', type=P.PKT_UNJOIN, client='bravo')
          and len(removed(r['watch'], ids['bravo'])) == 1)
    check('session: each aircraft removed once per client',
          all(len(removed(r['watch'], i)) == 1 for i in ids.values()))

    dmg = s.find('damage', client='watch', target=ids['alpha'])
    check('session: damage accepted and valid', len(dmg) == 1 and dmg[0]['valid']
          and dmg[0]['amount'] == 77 and dmg[0]['to'] == 'alpha')
    got = r['alpha'].find(dir='in', type=P.PKT_DAMAGE, target=ids['alpha'], amount=77)
    check('session: damage forwarded to the aircraft\'s player', len(got) == 1)
    check('session: keep-alives accepted',
          len(s.find(dir='in', type=P.PKT_KEEPALIVE, client='watch')) >= 3)

    keys = [(k['key'], k['action']) for k in s.find('key')]
    check('session: console keys logged', keys == [
        ('R', 'revive ground objects'), ('E', 'start Endurance Mode(Jet)'),
        ('I', 'start Intercept Mission'), ('P', 'start Close Air Support Mission'),
        ('x', 'unknown'), ('Escape', 'stop server')], repr(keys))


def test_bad_clients(tmp):
    run = Run(tmp, 'bad')
    try:
        _, port, srv_path = run.server('--reply-timeout', '0.6')
        swap = run.bot(port, 'swapper', '--misbehave', 'swap-acks', '--no-join', '--duration', '3')
        mute = run.bot(port, 'mute', '--misbehave', 'silent', '--no-join', '--duration', '3')
        codes = (swap.wait(10), mute.wait(10))
    finally:
        run.stop()
    s = Rec(srv_path)
    fails = {c['client']: c for c in s.find('check', ok=False)}
    check('bad: swapped acks detected',
          'swapper' in fails and fails['swapper']['what'] == 'handshake'
          and 'PKT_ACK(10,0)' in fails['swapper']['detail'], repr(fails.get('swapper')))
    check('bad: missing replies detected',
          'mute' in fails and 'no reply' in fails['mute']['detail'])
    check('bad: both dropped by the server',
          {c['client']: c['reason'] for c in s.find('close')} ==
          {'swapper': 'check-failed', 'mute': 'check-failed'} and codes == (3, 3), repr(codes))


def test_hostile(tmp):
    # Each hostile mode against a bot, whose own stream cutter must cope.
    for mode, bad_length in (('huge-length', 0x7FFFFFFF), ('big-echo', BIG), ('dribble', None)):
        run = Run(tmp, mode)
        try:
            _, port, srv_path = run.server('--hostile', mode, '--dribble-pause', '0.002')
            code = run.bot(port, 'victim', '--duration', '0.5', '--join-after', '0').wait(20)
        finally:
            run.stop()
        s, b = Rec(srv_path), Rec(run.path('victim'))
        if bad_length is not None:
            check('hostile %s: bot refuses the length and closes' % mode,
                  [x['length'] for x in b.find('bad-length')] == [bad_length] and code == 3
                  and s.find('hostile', mode=mode) and s.find('close'))
        else:
            hs = s.find('check', what='handshake', ok=True)
            logon = s.find(dir='in', type=P.PKT_LOGON)
            # The 24 bytes of the handshake packet need at least 23 pauses between them.
            check('hostile dribble: handshake still completes, byte by byte',
                  code == 0 and hs and logon and hs[0]['t'] - logon[0]['t'] >= 23 * 0.002
                  and not s.find('check', ok=False))


def test_launchers(tmp):
    words = {'zemain.exe': 'CPU', 'zemaino.exe': 'OpenGL', 'zemaindx.exe': 'Direct3D'}
    for exe in ('zemain.exe', 'zemaino.exe', 'zemaindx.exe', 'zemainsvr.exe'):
        run = Run(tmp, 'launch-' + exe)
        env = dict(os.environ, ZPSIM_RECORD=run.path('server'), ZPSIM_ARGS='--bind 127.0.0.1')
        try:
            proc, _, srv_path = run.server('-server', 'OPERATOR', env=env,
                                           cmd=[os.path.join(HERE, 'bin', exe)])
            proc.send_signal(signal.SIGTERM)
            code = proc.wait(5)
        finally:
            run.stop()
        s = Rec(srv_path)
        listen = s.find('listen')[0]
        window = s.find('window')
        check('launcher %s: starts the server under its name' % exe,
              listen['exe'] == exe and listen['server_name'] == 'OPERATOR'
              and listen['bind'] == '127.0.0.1' and code == 0)
        if exe in words:
            check('launcher %s: window hook called with "%s" in the title' % (exe, words[exe]),
                  len(window) == 1 and words[exe] in window[0]['title'])
        else:
            check('launcher %s: console, no window' % exe,
                  not window and s.find('stdin-closed'))

    folder = os.path.join(tmp, 'folder')
    subprocess.run([sys.executable, ZPSIM, 'make-folder', folder, '--bind', '127.0.0.1',
                    '--welcome', 'welcome aboard'], check=True)
    run = Run(tmp, 'folder')
    env = dict(os.environ, ZPSIM_RECORD=run.path('server'))
    try:
        _, port, _ = run.server(env=env, cmd=[os.path.join(folder, 'zemainsvr.exe')])
        code = run.bot(port, 'guest', '--no-join', '--duration', '0.3').wait(10)
    finally:
        run.stop()
    chat = [x['text'] for x in Rec(run.path('guest')).find(dir='in', type=P.PKT_CHAT)]
    check('make-folder: launchers carry the baked options', code == 0 and
          chat == ['welcome aboard'], repr(chat))


def test_tmux_console(tmp):
    """The console server as the monitor runs it: in a tmux pane, keys by send-keys."""
    if not shutil.which('tmux'):
        print('skip  tmux console: no tmux')
        return
    rec = os.path.join(tmp, 'tmux-server.jsonl')
    sock = 'zpsim-selftest-%d' % os.getpid()   # a tmux server of our own, ended below
    tmux = ['tmux', '-L', sock]
    command = '%s -server OP -netport 0 --bind 127.0.0.1 --record %s' % (
        shlex.quote(os.path.join(HERE, 'bin', 'zemainsvr.exe')), shlex.quote(rec))
    try:
        subprocess.run(tmux + ['new-session', '-d', '-s', 'zp', '-n', 'zemainsvr.exe', command],
                       check=True)
        deadline = time.monotonic() + 10
        while not Rec(rec).find('listen') and time.monotonic() < deadline:
            time.sleep(0.05)
        pane_pid = subprocess.run(tmux + ['list-panes', '-t', 'zp', '-F', '#{pane_pid}'],
                                  capture_output=True, text=True).stdout.strip()
        for key in ('R', 'P'):
            subprocess.run(tmux + ['send-keys', '-t', 'zp', '-l', key], check=True)
        time.sleep(0.3)
        subprocess.run(tmux + ['send-keys', '-t', 'zp', 'Escape'], check=True)
        deadline = time.monotonic() + 5
        while not Rec(rec).find('stop') and time.monotonic() < deadline:
            time.sleep(0.05)
    finally:
        subprocess.run(tmux + ['kill-server'], stderr=subprocess.DEVNULL)
    s = Rec(rec)
    listen = s.find('listen')
    check('tmux console: pane process is the server',
          listen and str(listen[0]['pid']) == pane_pid, repr(pane_pid))
    check('tmux console: keys arrive one by one, Escape stops',
          [k['key'] for k in s.find('key')] == ['R', 'P', 'Escape']
          and [x['reason'] for x in s.find('stop')] == ['escape'])


def main():
    started = time.monotonic()
    test_codec()
    test_cutter()
    with tempfile.TemporaryDirectory(prefix='zpsim-selftest-') as tmp:
        for test in (test_session, test_bad_clients, test_hostile, test_launchers,
                     test_tmux_console):
            try:
                test(tmp)
            except Exception as e:   # a scenario that breaks counts as a failure, not a crash
                check(test.__name__, False, repr(e))
    print('(%.1f s)' % (time.monotonic() - started))
    print('%d passed, %d failed' % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == '__main__':
    sys.exit(main())
