#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""A stand-in for the monitor's console, for working on the pages without the monitor: serves
src/web/pages and canned answers of the JSON API and the live WebSocket (docs/api.md).
Players come and go, a ban drops the player, chat lines are appended to --record the way the
stand-in game server records them, a restart takes the server down for a few seconds.
Only listens on 127.0.0.1.

    /usr/bin/python3 tests/browser/fake_console.py --port 8791 --admin-token A --viewer-token V
"""
import argparse
import base64
import hashlib
import http.server
import json
import os
import secrets
import struct
import threading
import time
import urllib.parse

PAGES = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'src', 'web', 'pages')
TYPES = {'.svg': 'image/svg+xml', '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8',
         '.css': 'text/css; charset=utf-8'}


class World:
    def __init__(self, record):
        self.lock = threading.Lock()
        self.record = record
        now = int(time.time())
        self.start = now
        self.players = [{'user': 'pilot%d' % i, 'aircraft': ['F-15', 'Su-27', '', 'A-10'][i % 4],
                         'address': '198.51.100.%d' % (10 + i), 'port': 51230 + i, 'host': 'bot%d.example' % i,
                         'logon': now - 600 * i, 'flying': i % 4 != 2, 'bytesIn': 0, 'bytesOut': 0,
                         'rateIn': 0, 'rateOut': 0} for i in range(1, 6)]
        self.bans = []
        self.events = [{'seq': i, 'time': now - 3600 + 60 * i, 'kind': k,
                        'text': '%s pilot%d <b>not bold</b>' % (k, i % 5 + 1)}
                       for i, k in enumerate(['logon', 'join', 'leave', 'logoff', 'other', 'server'] * 4, 1)]
        self.chat = [{'seq': i, 'time': now - 300 + 20 * i, 'text': '(pilot%d)hello %d' % (i % 5 + 1, i)}
                     for i in range(1, 8)]
        self.log = [{'time': now - 3000, 'text': 'Server started (pid 4242)'}]
        self.running, self.pid, self.up = True, 4242, now - 3000
        self.restart_at = None
        self.rates = [{'time': now - 10 * (360 - i), 'in': 2000 + 800 * abs((i % 60) - 30),
                       'out': 8000 + 300 * (i % 45)} for i in range(300)]
        self.outbox = []  # live messages for the WebSocket clients

    def emit(self, msg):
        self.outbox.append(msg)

    def event(self, kind, text):
        e = {'seq': self.events[-1]['seq'] + 1, 'time': int(time.time()), 'kind': kind, 'text': text}
        self.events.append(e)
        self.emit({'type': 'event', 'event': e})

    def server(self):
        return {'supervised': True, 'running': self.running, 'pid': self.pid if self.running else None,
                'upSince': self.up if self.running else None, 'lastRestart': self.start - 7200,
                'lastRestartCause': 'schedule'}

    def status(self):
        rin = sum(p['rateIn'] for p in self.players)
        rout = sum(p['rateOut'] for p in self.players)
        return {'time': int(time.time()), 'statusLine': 'Online %d / Flying %d' % (
            len(self.players), sum(p['flying'] for p in self.players)),
            'server': self.server(), 'players': {'online': len(self.players),
                                                 'flying': sum(p['flying'] for p in self.players)},
            'rates': {'bytesInPerSecond': rin, 'bytesOutPerSecond': rout},
            'glimit': {'enabled': True, 'connected': True, 'min': -4.0, 'max': 9.0},
            'client': {'started': True, 'connected': self.running},
            'capture': {'running': True, 'drops': 0}, 'bans': {'entries': len(self.bans), 'installed': True},
            'next': [{'time': int(time.time()) // 3600 * 3600 + 3600, 'action': 'restart'}]}

    def tick(self):
        now = int(time.time())
        for p in self.players:
            p['rateIn'] = 200 + (now * 37 + p['port']) % 400
            p['rateOut'] = 800 + (now * 53 + p['port']) % 900
        if self.restart_at and now >= self.restart_at:
            self.running, self.pid, self.up, self.restart_at = True, self.pid + 1, now, None
            self.log.append({'time': now, 'text': 'Server started (pid %d)' % self.pid})
            self.emit({'type': 'server', 'log': self.log[-1]})
        self.emit({'type': 'status', 'status': self.status()})
        self.emit({'type': 'players', 'players': self.players if self.running else []})


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'

    def log_message(self, fmt, *args):
        pass

    def reply(self, code, obj, headers=()):
        body = json.dumps(obj).encode()
        self.send_response(code)
        self.send_header('Content-Type', 'application/json')
        self.send_header('Content-Length', str(len(body)))
        for h in headers:
            self.send_header(*h)
        self.end_headers()
        self.wfile.write(body)

    def who(self):
        auth = self.headers.get('Authorization', '')
        if auth.startswith('Bearer '):
            return self.server.tokens.get(auth[7:]), None
        for part in self.headers.get('Cookie', '').split(';'):
            k, _, v = part.strip().partition('=')
            if k == 'zpmoni_session' and v in self.server.sessions:
                return self.server.sessions[v]
        return None, None

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        q = dict(urllib.parse.parse_qsl(url.query))
        if url.path == '/' or url.path.startswith('/static/'):
            name = 'index.html' if url.path == '/' else os.path.basename(url.path)
            path = os.path.join(PAGES, name)
            if not os.path.isfile(path):
                return self.reply(404, {'error': 'not found'})
            data = open(path, 'rb').read()
            self.send_response(200)
            self.send_header('Content-Type', TYPES.get(os.path.splitext(name)[1], 'application/octet-stream'))
            self.send_header('Content-Security-Policy', "default-src 'self'")
            self.send_header('Content-Length', str(len(data)))
            self.end_headers()
            self.wfile.write(data)
            return
        role, csrf = self.who()
        if not role:
            return self.reply(401, {'error': 'not logged in'})
        w = self.server.world
        with w.lock:
            if url.path == '/api/v1/session':
                return self.reply(200, {'operator': 'tester', 'role': role, 'csrf': csrf or ''})
            if url.path == '/api/v1/status':
                return self.reply(200, w.status())
            if url.path == '/api/v1/rates':
                return self.reply(200, {'interval': 10, 'samples': w.rates})
            if url.path == '/api/v1/players':
                return self.reply(200, {'players': w.players if w.running else []})
            if url.path == '/api/v1/events':
                since = int(q.get('since', 0))
                return self.reply(200, {'last': w.events[-1]['seq'], 'events': [e for e in w.events if e['seq'] > since]})
            if url.path == '/api/v1/chat':
                since = int(q.get('since', 0))
                return self.reply(200, {'last': w.chat[-1]['seq'], 'chat': [c for c in w.chat if c['seq'] > since]})
            if url.path == '/api/v1/bans':
                return self.reply(200, {'installed': True, 'bans': w.bans})
            if url.path == '/api/v1/server':
                return self.reply(200, {'server': w.server(), 'schedule': w.status()['next'], 'log': w.log[-50:]})
        if url.path == '/api/v1/live' and self.headers.get('Upgrade', '').lower() == 'websocket':
            return self.live(int(q.get('events', 0)), int(q.get('chat', 0)))
        self.reply(404, {'error': 'no such path'})

    def live(self, events, chat):
        key = self.headers.get('Sec-WebSocket-Key', '')
        accept = base64.b64encode(hashlib.sha1((key + '258EAFA5-E914-47DA-95CA-C5AB0DC85B11').encode()).digest())
        self.send_response(101)
        self.send_header('Upgrade', 'websocket')
        self.send_header('Connection', 'Upgrade')
        self.send_header('Sec-WebSocket-Accept', accept.decode())
        self.end_headers()
        w = self.server.world
        with w.lock:
            first = [{'type': 'event', 'event': e} for e in w.events if e['seq'] > events]
            first += [{'type': 'chat', 'chat': c} for c in w.chat if c['seq'] > chat]
            sent = len(w.outbox)
        try:
            for m in first:
                self.frame(m)
            while not self.server.stopping:
                time.sleep(0.2)
                with w.lock:
                    batch, sent = w.outbox[sent:], len(w.outbox)
                for m in batch:
                    self.frame(m)
        except OSError:
            pass
        self.close_connection = True

    def frame(self, obj):
        data = json.dumps(obj).encode()
        head = b'\x81' + (bytes([len(data)]) if len(data) < 126 else
                          b'\x7e' + struct.pack('>H', len(data)) if len(data) < 65536 else
                          b'\x7f' + struct.pack('>Q', len(data)))
        self.wfile.write(head + data)
        self.wfile.flush()

    def body(self):
        n = int(self.headers.get('Content-Length', 0) or 0)
        raw = self.rfile.read(min(n, 65536)) if n else b''
        return json.loads(raw or b'{}')

    def do_POST(self):
        self.change('POST')

    def do_DELETE(self):
        self.change('DELETE')

    def change(self, method):
        url = urllib.parse.urlsplit(self.path)
        body = self.body()
        if url.path == '/api/v1/login':
            role = self.server.tokens.get(body.get('token', ''))
            if not role:
                return self.reply(401, {'error': 'wrong token'})
            sid, csrf = secrets.token_urlsafe(16), secrets.token_urlsafe(16)
            self.server.sessions[sid] = (role, csrf)
            return self.reply(200, {'operator': 'tester', 'role': role, 'csrf': csrf},
                              [('Set-Cookie', 'zpmoni_session=%s; HttpOnly; SameSite=Strict; Path=/' % sid)])
        role, csrf = self.who()
        if not role:
            return self.reply(401, {'error': 'not logged in'})
        if csrf and self.headers.get('X-CSRF-Token') != csrf:
            return self.reply(403, {'error': 'bad CSRF token'})
        if url.path == '/api/v1/logout':
            for sid in [k for k, v in self.server.sessions.items() if v[1] == csrf]:
                del self.server.sessions[sid]
            return self.reply(200, {'ok': True})
        if role != 'admin':
            return self.reply(403, {'error': 'viewers cannot do that'})
        w = self.server.world
        with w.lock:
            if url.path == '/api/v1/chat' and method == 'POST':
                text = body.get('text', '')
                if not w.running:
                    return self.reply(409, {'error': 'the client connection is not logged on'})
                c = {'seq': w.chat[-1]['seq'] + 1, 'time': int(time.time()), 'text': '(MONITOR)' + text}
                w.chat.append(c)
                w.emit({'type': 'chat', 'chat': c})
                if w.record:
                    with open(w.record, 'a') as f:
                        f.write(json.dumps({'t': time.time(), 'who': 'server', 'ev': 'pkt', 'dir': 'in',
                                            'type': 32, 'name': 'PKT_CHAT', 'text': text}) + '\n')
                return self.reply(200, {'ok': True})
            if url.path == '/api/v1/bans' and method == 'POST':
                addr = body.get('address', '')
                if not addr or addr.count('.') != 3:
                    return self.reply(400, {'error': 'not an address: ' + addr})
                host = addr.split('/')[0]
                w.bans.append({'address': host, 'mask': body.get('mask', ''), 'block': addr if '/' in addr else addr + '/32',
                               'comment': body.get('comment', '') + ' | by=web:tester at=%d' % time.time(),
                               'inForce': True, 'until': None})
                for p in [p for p in w.players if p['address'] == host]:
                    w.players.remove(p)
                    w.event('logoff', 'Log off %s %s (banned)' % (p['user'], host))
                w.emit({'type': 'bans', 'bans': w.bans, 'installed': True})
                return self.reply(200, {'ok': True})
            if url.path == '/api/v1/bans' and method == 'DELETE':
                addr = dict(urllib.parse.parse_qsl(url.query)).get('address', '')
                before = len(w.bans)
                w.bans = [b for b in w.bans if addr not in (b['address'], b['block'])]
                w.emit({'type': 'bans', 'bans': w.bans, 'installed': True})
                return self.reply(200, {'removed': before - len(w.bans)})
            if url.path.startswith('/api/v1/server/') and method == 'POST':
                action = url.path.rsplit('/', 1)[1]
                if action == 'start' and w.running:
                    return self.reply(409, {'error': 'the server is running already'})
                if action in ('stop', 'restart'):
                    w.running = False
                    w.log.append({'time': int(time.time()), 'text': 'Server stopped (%s)' % action})
                    w.emit({'type': 'server', 'log': w.log[-1]})
                if action in ('start', 'restart'):
                    w.restart_at = int(time.time()) + 4
                return self.reply(200, {'ok': True})
        self.reply(404, {'error': 'no such path'})


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--port', type=int, default=8791)
    ap.add_argument('--admin-token', default='admin')
    ap.add_argument('--viewer-token', default='viewer')
    ap.add_argument('--record')
    a = ap.parse_args()
    srv = http.server.ThreadingHTTPServer(('127.0.0.1', a.port), Handler)
    srv.daemon_threads = True
    srv.tokens = {a.admin_token: 'admin', a.viewer_token: 'viewer'}
    srv.sessions = {}
    srv.world = World(a.record)
    srv.stopping = False

    def ticker():
        while True:
            time.sleep(1)
            with srv.world.lock:
                srv.world.tick()
    threading.Thread(target=ticker, daemon=True).start()
    print('listening on http://127.0.0.1:%d/' % srv.server_address[1], flush=True)
    srv.serve_forever()


if __name__ == '__main__':
    main()
