#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Drives the operator console in headless Chromium: logs in, waits for players, photographs
every page at 1280x800 and 390x844, and with --admin-actions bans a player from its row, sends a
chat line and restarts the server, checking each outcome. Exit 0 on success, 1 on a failed
check, 2 when the browser cannot be started.

    /usr/bin/python3 tests/browser/console_browser.py --url http://127.0.0.1:8790/ --token zpt_...
        --screens /tmp/shots [--record zpsim.jsonl] [--admin-actions]
"""
import argparse
import json
import os
import secrets
import signal
import sys
import time

from selenium import webdriver
from selenium.common.exceptions import StaleElementReferenceException, WebDriverException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

TABS = ['overview', 'players', 'events', 'chat', 'bans', 'server']
SIZES = [('wide', 1280, 800), ('phone', 390, 844)]


class Failed(Exception):
    pass


def wait_for(what, check, timeout, interval=0.25):
    """Polls check() until it returns something true; Failed naming `what` after timeout."""
    end = time.monotonic() + timeout
    while True:
        try:
            got = check()
            if got:
                return got
        except (StaleElementReferenceException, WebDriverException):
            pass
        if time.monotonic() > end:
            raise Failed('timed out after %g s waiting for %s' % (timeout, what))
        time.sleep(interval)


class Console:
    def __init__(self, args):
        self.args = args
        opts = webdriver.ChromeOptions()
        opts.binary_location = args.chromium
        for a in ('--headless=new', '--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage',
                  '--lang=ja', '--window-size=1280,800'):
            opts.add_argument(a)
        opts.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
        self.d = webdriver.Chrome(service=Service(args.chromedriver), options=opts)
        self.d.set_page_load_timeout(30)
        self.console_errors = []

    def quit(self):
        self.d.quit()

    def size(self, w, h):
        self.d.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                               {'width': w, 'height': h, 'deviceScaleFactor': 1, 'mobile': w < 600})

    def find(self, css):
        return self.d.find_element(By.CSS_SELECTOR, css)

    def text(self, css):
        return self.find(css).text

    def tab(self, name):
        self.find('#tabs button[data-tab="%s"]' % name).click()
        wait_for('tab ' + name, lambda: self.find('#tab-' + name).is_displayed(), 5)

    def notice(self):
        n = self.find('#notice')
        return self.text('#notice-text') if n.is_displayed() else ''

    def fail_on_error_notice(self, doing):
        n = self.find('#notice')
        if n.is_displayed() and 'error' in (n.get_attribute('class') or ''):
            raise Failed('%s: the console said "%s"' % (doing, self.text('#notice-text')))

    def collect_log(self):
        for e in self.d.get_log('browser'):
            msg = e.get('message', '')
            # Failed requests (401 before log-in, a refused action) are reported by the pages.
            if e.get('level') == 'SEVERE' and 'Failed to load resource' not in msg and 'WebSocket' not in msg:
                self.console_errors.append(msg)

    def shot(self, name):
        os.makedirs(self.args.screens, exist_ok=True)
        path = os.path.join(self.args.screens, '%s-%s.png' % (self.args.prefix, name))
        if name != 'failure':
            self.d.execute_script("document.getElementById('notice').hidden = true;")
        if not self.d.save_screenshot(path):
            raise Failed('could not save ' + path)

    # ---- steps ---------------------------------------------------------------------------

    def login(self):
        self.size(*SIZES[0][1:])
        self.d.get(self.args.url)
        wait_for('the log-in form', lambda: self.find('#login-token').is_displayed(), 15)
        self.shot('login-wide')
        self.find('#login-token').send_keys(self.args.token)
        self.find('#login-form button[type=submit]').click()
        wait_for('the console after log-in', lambda: self.find('#top').is_displayed() or self.fail_on_error_notice('log-in'), 15)
        wait_for('the live connection', lambda: 'link-up' in self.find('#link').get_attribute('class'), 20)
        print('logged in as', self.text('#operator'))

    def player_rows(self):
        return [(r.get_attribute('data-user'), r.get_attribute('data-address'))
                for r in self.d.find_elements(By.CSS_SELECTOR, '#players tbody tr')]

    def wait_players(self):
        self.tab('players')
        rows = wait_for('%d player(s) in the list' % self.args.min_players,
                        lambda: len(self.player_rows()) >= self.args.min_players and self.player_rows(),
                        self.args.player_timeout, 0.5)
        print('players:', ', '.join('%s@%s' % r for r in rows))
        return rows

    def photograph_all(self, suffix=''):
        for label, w, h in SIZES:
            self.size(w, h)
            for t in TABS:
                self.tab(t)
                time.sleep(0.6)
                self.shot('%s%s-%s' % (t, suffix, label))
        self.size(*SIZES[0][1:])

    def check_viewer(self):
        """A viewer sees no control that acts: no ban or server buttons, no ban form, no chat box."""
        shown = lambda css: [e for e in self.d.find_elements(By.CSS_SELECTOR, css) if e.is_displayed()]
        for tab, css in (('players', '#players button[data-op="ban"]'), ('bans', '#ban-form'),
                         ('server', '#tab-server button[data-action]')):
            self.tab(tab)
            if shown(css):
                raise Failed('a viewer is offered %s on the %s page' % (css, tab))
        self.tab('chat')
        if self.find('#chat-text').is_enabled() or not self.find('#chat-note').is_displayed():
            raise Failed('a viewer can type into the chat box')
        print('viewer: no acting control offered')

    def ban_first(self):
        self.tab('players')
        user, address = self.player_rows()[0]
        comment = 'browser test ' + secrets.token_hex(3)
        row = self.find('#players tbody tr[data-address="%s"]' % address)
        row.find_element(By.CSS_SELECTOR, 'button[data-op="ban"]').click()
        wait_for('the ban dialog', lambda: self.find('#dialog').is_displayed(), 5)
        self.find('#dialog-input').send_keys(comment)
        self.shot('ban-dialog-wide')
        self.find('#dialog-ok').click()
        wait_for('the ban to be accepted', lambda: (self.fail_on_error_notice('ban') or 'アクセス禁止' in self.notice()), 15)
        print('banned %s (%s) with comment "%s"' % (user, address, comment))
        gone = lambda: address not in [a for _, a in self.player_rows()]
        t0 = time.monotonic()
        wait_for(address + ' to leave the player list', gone, 40, 0.5)
        print('%s left the list after %.1f s' % (address, time.monotonic() - t0))
        end = time.monotonic() + 20
        while time.monotonic() < end:
            if not gone():
                raise Failed('%s came back into the player list after the ban' % address)
            time.sleep(0.5)
        self.tab('bans')
        wait_for('the ban in the deny list with its comment',
                 lambda: any(comment in r.text for r in self.d.find_elements(By.CSS_SELECTOR, '#bans tbody tr')), 15)

    def chat(self):
        self.tab('chat')
        wait_for('the chat box to be usable (client connection logged on)',
                 lambda: self.find('#chat-text').is_enabled(), 60, 0.5)
        line = 'console test %s' % secrets.token_hex(4)
        self.find('#chat-text').send_keys(line)
        self.find('#chat-send').click()
        wait_for('the chat line to be sent', lambda: self.fail_on_error_notice('chat') or
                 self.find('#chat-text').get_attribute('value') == '', 15)
        print('sent chat line "%s"' % line)
        if self.args.record:
            wait_for('the chat line in ' + self.args.record, lambda: chat_in_record(self.args.record, line), 20, 0.5)
            print('the server received it')
        try:
            wait_for('the chat line back in the list', lambda: line in self.text('#chat-list'), 10, 0.5)
            print('it came back in the chat list')
        except Failed as e:
            if not self.args.record:
                raise
            print('note:', e)

    def server_state(self):
        return self.text('#sv-state'), self.text('#sv-pid')

    def restart(self):
        self.tab('server')
        state, pid = wait_for('the server to be running',
                              lambda: self.server_state()[0] == '稼働中' and self.server_state(), 60, 0.5)
        self.find('#tab-server button[data-action="restart"]').click()
        wait_for('the restart confirmation', lambda: self.find('#dialog').is_displayed(), 5)
        self.find('#dialog-ok').click()
        wait_for('the restart to be accepted', lambda: self.fail_on_error_notice('restart') or '再起動' in self.notice(), 15)
        seen_down = False
        end = time.monotonic() + 60
        while True:
            s, p = self.server_state()
            if s != '稼働中':
                seen_down = True
            elif seen_down or p != pid:
                break
            if time.monotonic() > end:
                raise Failed('the server did not go down and up again within 60 s (state %s, pid %s)' % (s, p))
            time.sleep(0.1)
        if not seen_down:
            raise Failed('the pid changed from %s to %s without the console ever showing the server down' % (pid, p))
        print('restart: server went down and came back up, pid %s -> %s' % (pid, p))


def chat_in_record(path, line):
    """True when the stand-in server recorded a chat packet received with `line` in its text."""
    try:
        with open(path, encoding='utf-8', errors='replace') as f:
            for raw in f:
                try:
                    r = json.loads(raw)
                except ValueError:
                    continue
                if r.get('ev') == 'pkt' and r.get('dir') == 'in' and r.get('type') == 32 and \
                        line in str(r.get('text', '')):
                    return True
    except OSError:
        return False
    return False


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument('--url', required=True)
    ap.add_argument('--token', help='operator token; or the file named by --token-file')
    ap.add_argument('--token-file')
    ap.add_argument('--screens', required=True)
    ap.add_argument('--record', help="the stand-in server's record file")
    ap.add_argument('--admin-actions', action='store_true', help='ban, chat and restart')
    ap.add_argument('--viewer', action='store_true', help='the token is a viewer\'s: check that nothing acts')
    ap.add_argument('--prefix', default='console', help='start of the screenshot names')
    ap.add_argument('--min-players', type=int, default=1)
    ap.add_argument('--player-timeout', type=float, default=60)
    ap.add_argument('--chromium', default='/usr/bin/chromium')
    ap.add_argument('--chromedriver', default='/usr/bin/chromedriver')
    args = ap.parse_args()
    if args.token_file:
        with open(args.token_file) as f:
            args.token = f.read().strip()
    if not args.token:
        ap.error('--token or --token-file is needed')
    # A test that gives up on this script ends it with SIGTERM: the browser goes with it.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit('FAIL: terminated'))
    try:
        c = Console(args)
    except WebDriverException as e:
        print('FAIL: cannot start the browser: %s' % e.msg, file=sys.stderr)
        return 2
    try:
        c.login()
        c.wait_players()
        c.photograph_all()
        if args.viewer:
            c.check_viewer()
        if args.admin_actions:
            c.ban_first()
            c.chat()
            c.restart()
            for label, w, h in SIZES:
                c.size(w, h)
                for t in ('bans', 'server'):
                    c.tab(t)
                    time.sleep(0.6)
                    c.shot('%s-after-%s' % (t, label))
        c.collect_log()
        if c.console_errors:
            raise Failed('errors in the browser console:\n  ' + '\n  '.join(c.console_errors))
    except Failed as e:
        try:
            c.shot('failure')
            c.collect_log()
        except WebDriverException:
            pass
        print('FAIL: %s' % e, file=sys.stderr)
        for m in c.console_errors:
            print('  console: ' + m, file=sys.stderr)
        return 1
    except WebDriverException as e:
        print('FAIL: browser error: %s' % e.msg, file=sys.stderr)
        return 1
    finally:
        c.quit()
    print('OK: screenshots in', args.screens)
    return 0


if __name__ == '__main__':
    sys.exit(main())
