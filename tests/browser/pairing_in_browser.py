#!/usr/bin/python3
"""Pairing in a real browser. The real server runs in a network namespace of the test's own;
headless Chromium, the phone, runs in another, joined to it by a veth pair, so the server sees
it on a local address, not loopback. The computer's own browser opens the pairing page on
loopback inside the server's namespace; its QR code is read from the screenshot (zbarimg) and
the phone opens what it says.

usage: pairing_in_browser.py SERVER_BINARY HMAC_VECTORS SCREENSHOT.png
Exit 77 (skipped) without root, iproute2, zbarimg, curl, python3-websocket or the browser."""

import contextlib
import ctypes
import hashlib
import hmac
import json
import os
import shutil
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # no compiled Python in the tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from chromium import CHROMIUM, await_true, browser, pactl  # noqa: E402
from server_under_test import GREETING, HeadlessServer, free_port  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402

try:
    import websocket
except ImportError:
    print("python3-websocket is missing: skipped")
    sys.exit(77)

SERVER_ADDRESS, PHONE_ADDRESS = "10.79.0.1", "10.79.0.2"
HINT = "Pair this phone: choose Pair a phone\u2026 in Quavix Server's menu on the computer"
CLONE_NEWNET = 0x40000000


def run(*command, **options):
    return subprocess.run(command, check=True, capture_output=True, text=True, **options).stdout


class Namespaces:
    """The server's and the phone's network namespaces, joined by a veth pair."""

    def __init__(self):
        tag = os.getpid()
        self.server, self.phone = f"quavix-pair-srv-{tag}", f"quavix-pair-cli-{tag}"
        run("ip", "netns", "add", self.server)
        run("ip", "netns", "add", self.phone)
        run("ip", "-n", self.server, "link", "add", "vs", "type", "veth", "peer", "name", "vc",
            "netns", self.phone)
        for name, link, address in ((self.server, "vs", SERVER_ADDRESS),
                                    (self.phone, "vc", PHONE_ADDRESS)):
            run("ip", "-n", name, "addr", "add", address + "/24", "dev", link)
            run("ip", "-n", name, "link", "set", link, "up")
            run("ip", "-n", name, "link", "set", "lo", "up")

    def close(self):
        for name in (self.phone, self.server):
            subprocess.run(["ip", "netns", "del", name], capture_output=True)

    @staticmethod
    @contextlib.contextmanager
    def entered(name):
        """This thread, and the processes it starts, in namespace `name` meanwhile."""
        libc = ctypes.CDLL(None, use_errno=True)
        home = os.open("/proc/thread-self/ns/net", os.O_RDONLY)
        target = os.open(f"/var/run/netns/{name}", os.O_RDONLY)
        try:
            if libc.setns(target, CLONE_NEWNET) != 0:
                raise OSError(ctypes.get_errno(), "setns")
            yield
        finally:
            libc.setns(home, CLONE_NEWNET)
            os.close(target)
            os.close(home)

    def on_computer(self, *command):
        """`command` run on the computer itself: in the server's namespace."""
        return run("ip", "netns", "exec", self.server, *command)


def socket_messages(url, origin, first=None, count=3):
    """Opens the page's WebSocket from this namespace, sends `first(challenge)` when given, and
    returns what came back: ("text", ...), ("binary", ...) or ("close", code, reason)."""
    ws = websocket.create_connection(url, origin=origin, timeout=5)
    got = []
    try:
        while len(got) < count:
            opcode, data = ws.recv_data(control_frame=True)
            if opcode == websocket.ABNF.OPCODE_TEXT:
                got.append(("text", json.loads(data)))
                if first and got[-1][1].get("type") == "challenge":
                    ws.send(first(got[-1][1]["nonce"]))
            elif opcode == websocket.ABNF.OPCODE_BINARY:
                got.append(("binary", data))
            elif opcode == websocket.ABNF.OPCODE_CLOSE:
                code = int.from_bytes(data[:2], "big") if len(data) >= 2 else 0
                got.append(("close", code, data[2:].decode()))
                break
    except websocket.WebSocketTimeoutException:
        pass
    finally:
        ws.close()
    return got


def main():
    binary, vectors, screenshot = sys.argv[1], sys.argv[2], sys.argv[3]
    if os.geteuid() != 0 or not all(shutil.which(t) for t in ("ip", "zbarimg", "curl")):
        print("needs root, iproute2, zbarimg and curl: skipped")
        return 77
    pactl("set-sink-volume", "@DEFAULT_SINK@", "30%")
    pactl("set-sink-mute", "@DEFAULT_SINK@", "0")
    namespaces = Namespaces()
    page_port = free_port()
    server = HeadlessServer(binary, free_port(), web_port=page_port, announce="false")
    work = tempfile.mkdtemp(prefix="quavix-pairing-browser.")
    drivers = []
    try:
        with namespaces.entered(namespaces.server):
            line = server.start()
        assert f"control page http://{SERVER_ADDRESS}:{page_port}/" in line, line
        computer = f"http://127.0.0.1:{page_port}"
        base = f"http://{SERVER_ADDRESS}:{page_port}"

        # The computer's own browser shows the pairing page; its QR code is the link.
        namespaces.on_computer(CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu",
                               f"--user-data-dir={work}/computer", "--window-size=720,1000",
                               "--hide-scrollbars", f"--screenshot={screenshot}",
                               computer + "/pair")
        link = run("zbarimg", "--quiet", "--raw", screenshot).strip()
        assert link.startswith(base + "/#pair=") and len(link) == len(base) + 39, link

        # From here on this process is the phone.
        with namespaces.entered(namespaces.phone):
            # The pairing page does not exist for it.
            assert run("curl", "-s", "-o", "/dev/null", "-w", "%{http_code}",
                       base + "/pair") == "404"

            phone = browser(f"{work}/phone")
            drivers.append(phone)
            phone.get(link)
            status = phone.find_element(By.ID, "status")
            value = lambda: int(phone.find_element(By.ID, "volume").get_attribute("value"))
            await_true("the phone paired", lambda: status.text == "Connected")
            assert "#" not in phone.current_url, "the code is taken out of the address"
            pactl("set-sink-volume", "@DEFAULT_SINK@", "35%")
            await_true("the slider follows pactl to 35 %", lambda: value() == 35)

            # Plain http on a LAN address: no crypto.subtle, so the page's own HMAC does the
            # work; it passes the standard's vectors there.
            assert phone.execute_script("return window.isSecureContext") is False
            with open(vectors) as f:
                cases = [line.split() for line in f if line.strip() and line[0] != "#"]
            for key, data, mac in cases:
                got = phone.execute_script(
                    "return PairingProofs.hmac(arguments[0], arguments[1])", key, data)
                assert got.startswith(mac), (key, data, got)

            # Back without the code: in by the kept key, and live.
            phone.get(base + "/")
            status = phone.find_element(By.ID, "status")
            await_true("in again without the code", lambda: status.text == "Connected")
            pactl("set-sink-volume", "@DEFAULT_SINK@", "55%")
            await_true("the slider follows pactl to 55 %", lambda: value() == 55)

            # An unpaired browser gets the shell and learns nothing: not even the greeting.
            other = browser(f"{work}/other")
            drivers.append(other)
            other.get(base + "/")
            other_status = other.find_element(By.ID, "status")
            await_true("the unpaired page says how to pair", lambda: other_status.text == HINT)
            slider = other.find_element(By.ID, "volume")
            assert slider.get_attribute("disabled") is not None
            assert slider.get_attribute("value") == "100", "the page's own default, not 55"
            ws_url, origin = f"ws://{SERVER_ADDRESS}:{page_port}/ws", base
            got = socket_messages(ws_url, origin)
            assert [kind for kind, *_ in got] == ["text"], got
            assert got[0][1]["type"] == "challenge", got

            # The code that paired the phone pairs no other.
            other.get(link)
            await_true("a used code is refused in words",
                       lambda: "used already" in other_status.text)

            # A recorded exchange is worth nothing on the next socket: its nonce is new.
            kept = json.loads(phone.execute_script(
                "return localStorage.getItem('quavix-paired-phone')"))
            answer = lambda nonce: "answer %s %s" % (kept["device"], hmac.new(
                bytes.fromhex(kept["key"]), bytes.fromhex(nonce), hashlib.sha256).hexdigest())
            recorded = []
            got = socket_messages(ws_url, origin, lambda n: recorded.append(answer(n)) or
                                  recorded[-1], count=2)
            assert got[1] == ("binary", GREETING), got
            got = socket_messages(ws_url, origin, lambda n: recorded[0])
            assert got[1:] == [("text", {"type": "refused", "reason": "wrong-answer"}),
                               ("close", 1008, "refused")], got

            # Forget on the computer closes the phone's open socket at once.
            phones = json.loads(namespaces.on_computer("curl", "-s", computer + "/pair/phones"))
            assert [p["id"] for p in phones] == [kept["device"]], phones
            assert phones[0]["name"] == "Chrome on Linux", phones
            assert namespaces.on_computer(
                "curl", "-s", "-o", "/dev/null", "-w", "%{http_code}", "-X", "POST",
                "-H", "Origin: " + computer,
                f"{computer}/pair/forget/{kept['device']}") == "204"
            await_true("the phone hears it was forgotten",
                       lambda: "forgotten" in status.text and "Pair this phone" in status.text)
            assert phone.execute_script(
                "return localStorage.getItem('quavix-paired-phone')") is None
        print("pairing in browser: ok")
        return 0
    finally:
        for driver in drivers:
            driver.quit()
        server.close()
        namespaces.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
