#!/usr/bin/python3
"""The control page in a real browser: headless Chromium, driven by Selenium, against the real
server binary and the private sound server that tests/fixtures/with-sound-server.sh started.

usage: page_in_browser.py SERVER_BINARY SCREENSHOT.png
Exit 77 (skipped) when Chromium, its driver or Selenium is missing."""

import os
import shutil
import struct
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no compiled Python in the tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from chromium import await_true, browser, pactl, sink_muted, sink_volume  # noqa: E402
from server_under_test import HeadlessServer, free_port  # noqa: E402
from selenium.webdriver.common.action_chains import ActionChains  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402


class Server(HeadlessServer):
    """The real quavix-server with its own settings folder, ports stored there."""

    def __init__(self, binary, port, page_port):
        super().__init__(binary, port, web_port=page_port, announce="false")
        self.page_port = page_port

    def start(self):
        line = super().start()  # the start-up line; the server is serving
        assert f"control page http://" in line and f":{self.page_port}/" in line, line


def main():
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

        # The server restarts while the volume goes to 100 %, for which no state byte comes:
        # the page says so, comes back by itself, shows the state anew and is live again.
        server.stop()
        await_true("the page says the connection is lost", lambda: "lost" in status.text)
        assert slider.get_attribute("disabled") is not None
        pactl("set-sink-volume", "@DEFAULT_SINK@", "100%")
        server.start()
        await_true("reconnected", lambda: status.text == "Connected", bound=15)
        assert value() == 100 and not sink_muted(), value()
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
