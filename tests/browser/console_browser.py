#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Drives the operator console in headless Chromium: logs in, waits for players, photographs every
page at 1280x800 and 390x844; with --viewer checks that nothing acts, with --admin-actions bans a
player from its row, chats and restarts the server. Exit 0 on success, 1 on a failed check, 2 without
a browser."""
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
RUNNING = '稼働中'


class Failed(Exception):
    pass


def wait_for(what, check, timeout, interval=0.25):
    """Polls check() until it returns something true; Failed naming `what` after timeout."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            got = check()
            if got:
                return got
        except (StaleElementReferenceException, WebDriverException):
            pass
        time.sleep(interval)
    raise Failed('timed out after %g s waiting for %s' % (timeout, what))


def chat_in_record(path, line):
    """True when the stand-in server recorded a chat packet received with `line` in its text."""
    with open(path, encoding='utf-8', errors='replace') as f:
        for raw in f:
            try:
                r = json.loads(raw)
            except ValueError:
                continue
            if (r.get('ev'), r.get('dir'), r.get('type')) == ('pkt', 'in', 32) and line in str(r.get('text', '')):
                return True
    return False


class Console:
    def __init__(self, args):
        self.args = args
        opts = webdriver.ChromeOptions()
        opts.binary_location = '/usr/bin/chromium'
        for a in ('--headless=new', '--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage', '--lang=ja'):
            opts.add_argument(a)
        opts.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
        self.d = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=opts)
        self.d.set_page_load_timeout(30)
        self.errors = []

    def size(self, w, h):
        self.d.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                               {'width': w, 'height': h, 'deviceScaleFactor': 1, 'mobile': w < 600})

    def find(self, css):
        return self.d.find_element(By.CSS_SELECTOR, css)

    def tab(self, name):
        self.find('#tabs button[data-tab="%s"]' % name).click()
        wait_for('tab ' + name, lambda: self.find('#tab-' + name).is_displayed(), 5)

    def notice(self, doing):
        """The notice's text; Failed when it reports an error."""
        n = self.find('#notice')
        if not n.is_displayed():
            return ''
        if 'error' in (n.get_attribute('class') or ''):
            raise Failed('%s: the console said "%s"' % (doing, self.find('#notice-text').text))
        return self.find('#notice-text').text

    def click(self, css):
        """Clicks the element `css` names; found afresh when the live list has just redrawn it."""
        for _ in range(20):
            try:
                return self.find(css).click()
            except StaleElementReferenceException:
                time.sleep(0.1)
        raise Failed('%s kept being redrawn' % css)

    def confirm(self, css, doing, accepted):
        """Clicks the button `css` names, answers its dialog and waits for a notice containing `accepted`."""
        self.click(css)
        wait_for('the %s dialog' % doing, lambda: self.find('#dialog').is_displayed(), 5)
        if doing == 'ban':
            self.find('#dialog-input').send_keys(self.comment)
            self.shot('ban-dialog-wide')
        self.find('#dialog-ok').click()
        wait_for('the %s to be accepted' % doing, lambda: accepted in self.notice(doing), 15)

    def collect_log(self):
        for e in self.d.get_log('browser'):
            msg = e.get('message', '')
            # Failed requests (401 before log-in, a refused action) are reported by the pages.
            if e.get('level') == 'SEVERE' and 'Failed to load resource' not in msg and 'WebSocket' not in msg:
                self.errors.append(msg)

    def shot(self, name):
        path = os.path.join(self.args.screens, '%s-%s.png' % (self.args.prefix, name))
        if name != 'failure':
            self.d.execute_script("document.getElementById('notice').hidden = true;")
        if not self.d.save_screenshot(path):
            raise Failed('could not save ' + path)

    def photograph(self, tabs=TABS, suffix=''):
        for label, w, h in SIZES:
            self.size(w, h)
            for t in tabs:
                self.tab(t)
                time.sleep(0.6)
                self.shot('%s%s-%s' % (t, suffix, label))
        self.size(*SIZES[0][1:])

    def player_rows(self):
        # In one script: the live list redraws its rows every second.
        return [tuple(r) for r in self.d.execute_script(
            "return [...document.querySelectorAll('#players tbody tr')].map(r => [r.dataset.user, r.dataset.address]);")]

    def login(self):
        self.size(*SIZES[0][1:])
        self.d.get(self.args.url)
        wait_for('the log-in form', lambda: self.find('#login-token').is_displayed(), 15)
        self.shot('login-wide')
        self.find('#login-token').send_keys(self.args.token)
        self.find('#login-form button[type=submit]').click()
        wait_for('the console after log-in',
                 lambda: self.notice('log-in') is not None and self.find('#top').is_displayed(), 15)
        wait_for('the live connection', lambda: 'link-up' in self.find('#link').get_attribute('class'), 20)
        self.tab('players')
        rows = wait_for('%d player(s) in the list' % self.args.min_players,
                        lambda: len(self.player_rows()) >= self.args.min_players and self.player_rows(),
                        self.args.player_timeout, 0.5)
        print('logged in as %s; players: %s' % (self.find('#operator').text, ', '.join('%s@%s' % r for r in rows)))

    def check_viewer(self):
        """A viewer sees no control that acts: no ban or server buttons, no ban form, no chat box."""
        for tab, css in (('players', '#players button[data-op="ban"]'), ('bans', '#ban-form'),
                         ('server', '#tab-server button[data-action]')):
            self.tab(tab)
            if self.d.execute_script("return [...document.querySelectorAll(arguments[0])].some(e => e.offsetParent !== null);", css):
                raise Failed('a viewer is offered %s on the %s page' % (css, tab))
        self.tab('chat')
        if self.find('#chat-text').is_enabled() or not self.find('#chat-note').is_displayed():
            raise Failed('a viewer can type into the chat box')

    def ban_first(self):
        self.tab('players')
        user, address = self.player_rows()[0]
        self.comment = 'browser test ' + secrets.token_hex(3)
        self.confirm('#players tbody tr[data-address="%s"] button[data-op="ban"]' % address, 'ban', 'アクセス禁止')
        gone = lambda: address not in [a for _, a in self.player_rows()]
        wait_for(address + ' to leave the player list', gone, 40, 0.5)
        end = time.monotonic() + 20
        while time.monotonic() < end:
            if not gone():
                raise Failed('%s came back into the player list after the ban' % address)
            time.sleep(0.5)
        self.tab('bans')
        wait_for('the ban in the deny list with its comment',
                 lambda: any(self.comment in r.text for r in self.d.find_elements(By.CSS_SELECTOR, '#bans tbody tr')), 15)
        print('banned %s (%s), kept out' % (user, address))

    def chat(self):
        self.tab('chat')
        wait_for('the chat box to be usable (client connection logged on)',
                 lambda: self.find('#chat-text').is_enabled(), 60, 0.5)
        line = 'console test %s' % secrets.token_hex(4)
        self.find('#chat-text').send_keys(line)
        self.find('#chat-send').click()
        wait_for('the chat line to be sent',
                 lambda: self.notice('chat') is not None and self.find('#chat-text').get_attribute('value') == '', 15)
        if self.args.record:
            wait_for('the chat line in ' + self.args.record, lambda: chat_in_record(self.args.record, line), 20, 0.5)
        else:
            wait_for('the chat line back in the list', lambda: line in self.find('#chat-list').text, 10, 0.5)
        print('sent chat line "%s"' % line)

    def restart(self):
        self.tab('server')
        state = lambda: (self.find('#sv-state').text, self.find('#sv-pid').text)
        _, pid = wait_for('the server to be running', lambda: state()[0] == RUNNING and state(), 60, 0.5)
        self.confirm('#tab-server button[data-action="restart"]', 'restart', '再起動')
        seen = []  # (state, pid) at every look

        def up_again():
            seen.append(state())
            return seen[-1][0] == RUNNING and (len(set(s for s, _ in seen)) > 1 or seen[-1][1] != pid)
        wait_for('the server to go down and up again', up_again, 60, 0.1)
        if all(s == RUNNING for s, _ in seen):
            raise Failed('the pid changed from %s to %s without the console ever showing the server down' % (pid, seen[-1][1]))
        print('restart: server went down and came back up, pid %s -> %s' % (pid, seen[-1][1]))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for name in ('--url', '--token-file', '--screens'):
        ap.add_argument(name, required=True)
    ap.add_argument('--record', help="the stand-in server's record file")
    ap.add_argument('--admin-actions', action='store_true', help='ban, chat and restart')
    ap.add_argument('--viewer', action='store_true', help="the token is a viewer's: check that nothing acts")
    ap.add_argument('--prefix', default='console', help='start of the screenshot names')
    ap.add_argument('--min-players', type=int, default=1)
    ap.add_argument('--player-timeout', type=float, default=60)
    args = ap.parse_args()
    with open(args.token_file) as f:
        args.token = f.read().strip()
    os.makedirs(args.screens, exist_ok=True)
    # A test that gives up on this script ends it with SIGTERM: the browser goes with it.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit('FAIL: terminated'))
    try:
        c = Console(args)
    except WebDriverException as e:
        print('FAIL: cannot start the browser: %s' % e.msg, file=sys.stderr)
        return 2
    try:
        c.login()
        c.photograph()
        if args.viewer:
            c.check_viewer()
        if args.admin_actions:
            c.ban_first()
            c.chat()
            c.restart()
            c.photograph(('bans', 'server'), '-after')
        c.collect_log()
        if c.errors:
            raise Failed('errors in the browser console:\n  ' + '\n  '.join(c.errors))
    except (Failed, WebDriverException) as e:
        try:
            c.shot('failure')
            c.collect_log()
        except WebDriverException:
            pass
        print('FAIL: %s' % (getattr(e, 'msg', None) or e), file=sys.stderr)
        for m in c.errors:
            print('  console: ' + m, file=sys.stderr)
        return 1
    finally:
        c.d.quit()
    print('OK: screenshots in', args.screens)
    return 0


if __name__ == '__main__':
    sys.exit(main())
