#!/usr/bin/python3
"""The control page in a real browser: headless Chromium, driven by Selenium, against the real
server binary and the private sound server that tests/fixtures/with-sound-server.sh started.

usage: page_in_browser.py SERVER_BINARY SCREENSHOT.png
Exit 77 (skipped) when Chromium, its driver or Selenium is missing."""

import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
except ImportError:
    print("python3-selenium is missing: skipped")
    sys.exit(77)

CHROMIUM = shutil.which("chromium")
DRIVER = shutil.which("chromedriver")
BOUND = 10.0  # seconds any awaited condition may take


def await_true(what, condition, bound=BOUND):
    deadline = time.monotonic() + bound
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError(f"not within {bound:.0f} s: {what}")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def pactl(*args):
    return subprocess.run(["pactl", *args], check=True, capture_output=True, text=True).stdout


def sink_volume():
    return int(re.search(r"(\d+)%", pactl("get-sink-volume", "@DEFAULT_SINK@")).group(1))


def sink_muted():
    return "yes" in pactl("get-sink-mute", "@DEFAULT_SINK@")


class Server:
    """The real quavix-server with its own settings folder, ports stored there."""

    def __init__(self, binary, port, page_port):
        self.binary = binary
        self.config = tempfile.mkdtemp(prefix="quavix-web-page-config.")
        folder = os.path.join(self.config, "quavix")
        os.makedirs(folder)
        with open(os.path.join(folder, "quavix-server.conf"), "w") as f:
            f.write(f"[server]\nport = {port}\nweb_port = {page_port}\nannounce = false\n")
        self.page_port = page_port
        self.process = None

    def start(self):
        env = dict(os.environ, XDG_CONFIG_HOME=self.config, QT_QPA_PLATFORM="offscreen")
        env.pop("DISPLAY", None)
        self.log = tempfile.TemporaryFile()
        self.process = subprocess.Popen([self.binary], env=env, stdout=subprocess.PIPE,
                                        stderr=self.log, text=True)
        line = self.process.stdout.readline()  # the start-up line; the server is serving
        assert f"control page http://" in line and f":{self.page_port}/" in line, line

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(BOUND)
            except subprocess.TimeoutExpired:
                self.process.kill()
                raise AssertionError("the server did not stop on SIGTERM")
        self.process = None

    def close(self):
        self.stop()
        shutil.rmtree(self.config, ignore_errors=True)


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync",
                 "--window-size=390,760", f"--user-data-dir={profile}"):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(DRIVER), options=options)


def main():
    if not CHROMIUM or not DRIVER:
        print("chromium or chromium-driver is missing: skipped")
        return 77
    binary, screenshot = sys.argv[1], sys.argv[2]
    pactl("set-sink-volume", "@DEFAULT_SINK@", "30%")
    pactl("set-sink-mute", "@DEFAULT_SINK@", "0")
    server = Server(binary, free_port(), free_port())
    profile = tempfile.mkdtemp(prefix="quavix-web-page-chromium.")
    driver = None
    try:
        server.start()
        driver = browser(profile)
        driver.get(f"http://localhost:{server.page_port}/")
        slider = driver.find_element(By.ID, "volume")
        mute = driver.find_element(By.ID, "mute")
        status = driver.find_element(By.ID, "status")
        value = lambda: int(slider.get_attribute("value"))

        await_true("connected", lambda: status.text == "Connected")
        await_true("the slider shows the sink's 30 %", lambda: value() == 30)

        # Dragging: the volume follows the finger before it is lifted.
        width = slider.size["width"]
        drag = ActionChains(driver, duration=50)
        drag.move_to_element_with_offset(slider, -width // 2 + 8, 0).click_and_hold()
        drag.move_by_offset(width // 4, 0).move_by_offset(width // 8, 0).perform()
        held = value()
        await_true(f"the sink follows the held slider to {held} %",
                   lambda: abs(sink_volume() - held) <= 1)
        ActionChains(driver, duration=50).release().perform()
        # A whole drag further right, lifted at its end: the last position wins.
        drag = ActionChains(driver, duration=50)
        drag.move_to_element_with_offset(slider, 0, 0).click_and_hold()
        for _ in range(4):
            drag.move_by_offset(width // 16, 0)
        drag.release().perform()
        dropped = value()
        assert dropped > held, (held, dropped)
        await_true(f"the sink follows the slider to {dropped} %",
                   lambda: abs(sink_volume() - dropped) <= 1)

        # A change made elsewhere moves the slider and its number.
        pactl("set-sink-volume", "@DEFAULT_SINK@", "42%")
        await_true("the slider follows pactl to 42 %", lambda: value() == 42)
        assert driver.find_element(By.ID, "number").text == "42"

        # Mute both ways.
        mute.click()
        await_true("the sink is muted from the page", sink_muted)
        assert mute.get_attribute("aria-pressed") == "true"
        time.sleep(0.6)  # past the hold-off, so the next change is not held back
        pactl("set-sink-mute", "@DEFAULT_SINK@", "0")
        await_true("the button follows pactl's unmute",
                   lambda: mute.get_attribute("aria-pressed") == "false")

        # The server restarts: the page says so, comes back by itself and is live again.
        server.stop()
        await_true("the page says the connection is lost", lambda: "lost" in status.text)
        assert slider.get_attribute("disabled") is not None
        server.start()
        await_true("reconnected", lambda: status.text == "Connected", bound=15)
        pactl("set-sink-volume", "@DEFAULT_SINK@", "65%")
        await_true("the slider follows pactl after the restart", lambda: value() == 65)

        # A phone's screen, light and dark.
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                               {"width": 390, "height": 760, "deviceScaleFactor": 2,
                                "mobile": True})
        for scheme, path in (("light", screenshot),
                             ("dark", screenshot.replace(".png", "-dark.png"))):
            driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {
                "features": [{"name": "prefers-color-scheme", "value": scheme}]})
            await_true("the phone-sized layout", lambda: driver.execute_script(
                "return innerWidth") == 390)
            driver.save_screenshot(path)
            with open(path, "rb") as f:
                size = struct.unpack(">II", f.read(24)[16:24])
            assert size == (780, 1520), size
            # Nothing runs off the narrow screen sideways.
            assert driver.execute_script(
                "return document.documentElement.scrollWidth") <= 390
        print("page in browser: ok")
        return 0
    finally:
        if driver:
            driver.quit()
        server.close()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
