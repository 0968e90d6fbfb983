#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Page load to first data: the console's overview opened afresh in headless Chromium, timed from
the navigation's start to the moment the players-online figure is filled in (the API's status
answer or the live socket's first status message, whichever the page has first).

    /usr/bin/python3 bench/console_page_load.py --url http://127.0.0.1:8790/ --token-file F [--runs 20]
"""
import argparse
import statistics
import sys
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

# Resolves with the navigation's age in ms once #ov-online has text.
FIRST_DATA = """
const done = arguments[arguments.length - 1];
const el = document.getElementById('ov-online');
const ready = () => el && el.textContent.trim() !== '';
if (ready()) { done(performance.now()); return; }
new MutationObserver((_, obs) => { if (ready()) { obs.disconnect(); done(performance.now()); } })
  .observe(el, {childList: true, characterData: true, subtree: true});
"""


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--url', required=True)
    ap.add_argument('--token-file', required=True)
    ap.add_argument('--runs', type=int, default=20)
    args = ap.parse_args()
    with open(args.token_file) as f:
        token = f.readline().strip()
    opts = webdriver.ChromeOptions()
    for a in ('--headless=new', '--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage', '--window-size=1280,800'):
        opts.add_argument(a)
    d = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=opts)
    d.set_script_timeout(30)
    try:
        d.get(args.url)
        d.find_element(By.ID, 'login-token').send_keys(token)
        d.find_element(By.CSS_SELECTOR, '#login-form button[type=submit]').click()
        d.execute_async_script(FIRST_DATA)  # logged in: the session cookie is set
        times = []
        for _ in range(args.runs):
            d.get(args.url)
            times.append(d.execute_async_script(FIRST_DATA))
        times.sort()
        print('page load to first data over %d loads: median %.1f ms, best %.1f ms, worst %.1f ms'
              % (len(times), statistics.median(times), times[0], times[-1]))
    finally:
        d.quit()
    return 0


if __name__ == '__main__':
    sys.exit(main())
