"""What the browser tests share: headless Chromium driven by Debian's Selenium, bounded waits
and the private sound server's default sink through pactl. Importing it exits 77 (skipped)
when Selenium, Chromium or its driver is missing."""

import os
import re
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True  # no compiled Python in the tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from server_under_test import wait_for  # noqa: E402

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
except ImportError:
    print("python3-selenium is missing: skipped")
    sys.exit(77)

CHROMIUM = shutil.which("chromium")
DRIVER = shutil.which("chromedriver")
if not CHROMIUM or not DRIVER:
    print("chromium or chromium-driver is missing: skipped")
    sys.exit(77)
BOUND = 10.0  # seconds any awaited condition may take


def await_true(what, condition, bound=BOUND):
    value = wait_for(condition, bound)
    if not value:
        raise AssertionError(f"not within {bound:.0f} s: {what}")
    return value


def browser(profile):
    """Headless Chromium the size of a phone's screen, with its own profile folder."""
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync",
                 "--window-size=390,760", f"--user-data-dir={profile}"):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service(DRIVER), options=options)
    # A page that never loads fails the test instead of waiting out WebDriver's 300 s.
    driver.set_page_load_timeout(BOUND)
    driver.set_script_timeout(BOUND)
    return driver


def pactl(*args):
    return subprocess.run(["pactl", *args], check=True, capture_output=True, text=True,
                          timeout=BOUND).stdout


def sink_volume():
    return int(re.search(r"(\d+)%", pactl("get-sink-volume", "@DEFAULT_SINK@")).group(1))


def sink_muted():
    return "yes" in pactl("get-sink-mute", "@DEFAULT_SINK@")
