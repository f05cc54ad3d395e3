#!/usr/bin/python3
"""The page's remote control in a real browser: headless Chromium against the real server binary
on the private sound server that tests/fixtures/with-sound-server.sh started.

usage: remote_in_browser.py media SERVER_BINARY SCREENSHOT.png
         a real player (mpv with its MPRIS plugin) on a session bus of the test's own; the
         page's buttons drive it, playerctl sees it, and the page shows its track
       remote_in_browser.py output SERVER_BINARY
         the page picks the second sink; pactl names it the default, the slider shows its
         volume, and a sink that goes is gone from the list
Exit 77 (skipped) when Chromium, its driver, Selenium, mpv, its plugin or playerctl is missing."""

import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # no compiled Python in the tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from chromium import await_true, browser, pactl  # noqa: E402
from server_under_test import HeadlessServer, free_port  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import Select  # noqa: E402

MPRIS_PLUGIN = "/etc/mpv/scripts/mpris.so"
KEYS = ("Previous track", "Play or pause", "Next track")


def riff_chunk(tag, body):
    size = len(body)
    if size % 2:
        body += b"\0"
    return tag + struct.pack("<I", size) + body


def tagged_wav(path, title, artist, seconds=60):
    """8 kHz 8-bit mono silence whose INFO chunk names the title and artist."""
    fmt = struct.pack("<HHIIHH", 1, 1, 8000, 8000, 1, 8)
    info = b"INFO" + riff_chunk(b"INAM", title.encode() + b"\0") + \
        riff_chunk(b"IART", artist.encode() + b"\0")
    body = b"WAVE" + riff_chunk(b"fmt ", fmt) + riff_chunk(b"LIST", info) + \
        riff_chunk(b"data", b"\x80" * (8000 * seconds))
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(body)) + body)


class SessionBus:
    """dbus-daemon on a socket in a folder of the test's own."""

    def __init__(self, folder):
        self.process = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1",
             f"--address=unix:path={folder}/bus"], stdout=subprocess.PIPE, text=True)
        self.address = self.process.stdout.readline().strip()
        assert self.address, "dbus-daemon did not start"

    def env(self):
        return dict(os.environ, DBUS_SESSION_BUS_ADDRESS=self.address)

    def playerctl(self, *args):
        done = subprocess.run(["playerctl", "--player=mpv", *args], env=self.env(),
                              capture_output=True, text=True, timeout=10)
        return done.stdout.strip() if done.returncode == 0 else ""

    def close(self):
        self.process.terminate()
        self.process.wait(10)


def open_page(server, profile):
    driver = browser(profile)
    driver.get(f"http://localhost:{server.page_port}/")
    status = driver.find_element(By.ID, "status")
    await_true("connected", lambda: status.text == "Connected")
    return driver


def button(driver, name):
    return driver.find_element(By.CSS_SELECTOR, f"button[aria-label='{name}']")


def check_media(binary, screenshot, folder, profile):
    if not shutil.which("mpv") or not shutil.which("playerctl") or \
            not os.path.exists(MPRIS_PLUGIN):
        print("mpv, its MPRIS plugin or playerctl is missing: skipped")
        return 77
    bus = SessionBus(folder)
    player = server = driver = None
    try:
        tracks = []
        for i, (title, artist) in enumerate((("First light", "The Couch"),
                                             ("Second wind", "Sofa & Cushions"))):
            tracks.append(os.path.join(folder, f"track{i}.wav"))
            tagged_wav(tracks[-1], title, artist)
        env = dict(bus.env())
        env.pop("DISPLAY", None)
        player = subprocess.Popen(["mpv", "--no-config", f"--script={MPRIS_PLUGIN}", "--ao=null",
                                   "--vo=null", "--no-terminal", "--idle=no", *tracks], env=env)
        await_true("mpv plays on the bus", lambda: bus.playerctl("status") == "Playing")

        os.environ["DBUS_SESSION_BUS_ADDRESS"] = bus.address  # the server's session bus
        server = Server(binary)
        server.start()
        driver = open_page(server, profile)
        playing = driver.find_element(By.ID, "playing")
        keys = [button(driver, name) for name in KEYS]
        for key, name in zip(keys, KEYS):
            assert key.accessible_name == name, (key.accessible_name, name)
        await_true("the page shows the track", lambda: "First light" in playing.text and
                   "The Couch" in playing.text)
        await_true("the buttons are enabled", lambda: all(key.is_enabled() for key in keys))

        keys[1].click()
        await_true("Play or pause pauses", lambda: bus.playerctl("status") == "Paused")
        keys[1].click()
        await_true("Play or pause plays again", lambda: bus.playerctl("status") == "Playing")
        keys[2].click()
        await_true("Next track skips", lambda: bus.playerctl("metadata", "title") == "Second wind")
        await_true("the page follows the skip", lambda: "Second wind" in playing.text and
                   "Sofa & Cushions" in playing.text)
        keys[0].click()
        await_true("Previous track goes back",
                   lambda: bus.playerctl("metadata", "title") == "First light")
        await_true("the page follows it back", lambda: "First light" in playing.text)
        driver.save_screenshot(screenshot)

        player.terminate()
        player.wait(10)
        player = None
        await_true("nothing is playing once the player quits",
                   lambda: playing.text == "Nothing is playing")
        await_true("the buttons are disabled", lambda: not any(key.is_enabled() for key in keys))
        return 0
    finally:
        if driver:
            driver.quit()
        if server:
            server.close()
        if player:
            player.kill()
            player.wait()
        bus.close()


def check_output(binary, profile):
    pactl("set-default-sink", "quavix_test")
    pactl("set-sink-volume", "quavix_test", "30%")
    pactl("set-sink-volume", "quavix_other", "55%")
    server = Server(binary)
    driver = None
    try:
        server.start()
        driver = open_page(server, profile)
        element = driver.find_element(By.ID, "output")
        assert element.accessible_name == "Output", element.accessible_name
        output = Select(element)
        slider = driver.find_element(By.ID, "volume")
        value = lambda: int(slider.get_attribute("value"))
        ids = lambda: [option.get_attribute("value") for option in output.options]
        await_true("both sinks are offered", lambda: ids() == ["quavix_test", "quavix_other"])
        assert output.first_selected_option.get_attribute("value") == "quavix_test"
        await_true("the choice is enabled", element.is_enabled)
        await_true("the slider shows the default's 30 %", lambda: value() == 30)

        output.select_by_value("quavix_other")
        await_true("pactl names the chosen sink the default",
                   lambda: pactl("get-default-sink").strip() == "quavix_other")
        await_true("the slider shows its 55 %", lambda: value() == 55)

        # A device plugged in appears; once unplugged it is gone from the page.
        module = pactl("load-module", "module-null-sink", "sink_name=quavix_usb").strip()
        await_true("a new sink is offered", lambda: "quavix_usb" in ids())
        pactl("unload-module", module)
        await_true("a sink that went is gone", lambda: "quavix_usb" not in ids())
        assert output.first_selected_option.get_attribute("value") == "quavix_other"
        return 0
    finally:
        if driver:
            driver.quit()
        server.close()


class Server(HeadlessServer):
    """The real quavix-server with its own settings folder and ports."""

    def __init__(self, binary):
        self.page_port = free_port()
        super().__init__(binary, free_port(), web_port=self.page_port, announce="false")


def main():
    mode, binary = sys.argv[1], sys.argv[2]
    folder = tempfile.mkdtemp(prefix="quavix-remote.")
    profile = os.path.join(folder, "chromium")
    try:
        if mode == "media":
            return check_media(binary, sys.argv[3], folder, profile)
        return check_output(binary, profile)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
