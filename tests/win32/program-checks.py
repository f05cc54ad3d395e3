#!/usr/bin/env python3
"""Checks of the real QuavixServer.exe under Wine, driven like a user and a network client:
start-up refused on a busy port, greeting and keep-alive to a TCP client from Linux, the second
instance refused, the registry value read and written, the tray icon, its menu, the settings
dialog moving the server to a new port, the control page and its WebSocket from Linux, the
page's Play or pause button pressing the media key, and quitting with exit code 0.

Windows are driven by window messages through window-driver.exe (tests/win32/tools), which
cannot be dropped as synthetic keys can; one real click on the tray icon and its menu proves
that the icon is shown and works. Every step waits for a condition (a window shown or gone, a
byte received, the icon's picture on the screen), never for a fixed time.

Run inside tests/win32/fixtures/with-wine.sh (DISPLAY and WINEPREFIX set), preferably under
tests/fixtures/with-sound-server.sh so Wine's audio driver finds a playback device:
    program-checks.py build-windows/QuavixServer.exe
window-driver.exe is expected beside the executable. Screenshots go to program-checks/ there.
"""
import json
import os
import random
import re
import socket
import subprocess
import sys
import tempfile
import threading
import urllib.error
import urllib.request

import websocket  # Debian's python3-websocket

sys.dont_write_bytecode = True  # no compiled Python in the tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from server_under_test import connect, greeting, read_bytes, wait_for  # noqa: E402

EXE = sys.argv[1]
SHOTS = os.path.join(os.path.dirname(os.path.abspath(EXE)), "program-checks")
DRIVER = os.path.join(os.path.dirname(os.path.abspath(EXE)), "window-driver.exe")
ICONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "res", "icons")
KEY = r"HKCU\Software\Marrowick\Quavix"
failures = []
started = []


def check(condition, what):
    print(("ok   - " if condition else "FAIL - ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


def run(*args, timeout=120):
    """Runs a command and gives its exit code (None when it had to be ended) and output. The
    output goes through a file, not a pipe: a Wine command may start Wine's background processes
    (wineserver, services, the desktop), which inherit its output and would hold a pipe open
    for as long as any Wine program runs."""
    with tempfile.TemporaryFile() as out:
        try:
            code = subprocess.run(list(args), stdout=out, stderr=subprocess.DEVNULL,
                                  timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            code = None
        out.seek(0)
        return subprocess.CompletedProcess(args, code, out.read().decode(errors="replace"))


def start_server():
    process = subprocess.Popen(["wine", EXE], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    started.append(process)
    return process


def exit_code(process, timeout=60.0):
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        return None


# Window messages and ids the driver posts; the program's own values
# (src/app/win32/ShellMessages.h and ResourceIds.h).
WM_CHAR = 0x0102
WM_COMMAND = 0x0111
WM_RBUTTONDOWN = 0x0204
IDOK = 1
WM_TRAY_NOTIFY = 1025
TRAY_ICON_ID = 1000
PORT_EDIT_ID = 1001
HIDDEN_WINDOW = ("QUAVIXSERVER", "Quavix Server")
BOX = "#32770"  # message boxes and dialogs
MENU = "#32768"  # popup menus


def driver(*args, timeout_ms=0):
    """Runs window-driver.exe (tests/win32/tools), which finds windows by class and title and
    posts them messages; its exit code 0 means done. Gives the output, or None on failure."""
    result = run("wine", DRIVER, *[str(a) for a in args], timeout=timeout_ms / 1000 + 60)
    return result.stdout if result.returncode == 0 else None


def shown(window_class, title, timeout_ms=60000):
    """Waits for a visible window; gives its screen rectangle (x, y, w, h) or None."""
    out = driver("shown", window_class, title, timeout_ms, timeout_ms=timeout_ms)
    return tuple(int(v) for v in out.split()[1:5]) if out else None


def gone(window_class, title, timeout_ms=60000):
    """Waits until no such window is visible."""
    return driver("gone", window_class, title, timeout_ms, timeout_ms=timeout_ms) is not None


def post(window, message, wparam=0, lparam=0):
    return driver("post", window[0], window[1], message, wparam, lparam) is not None


def answer_box(title):
    """Waits for a message box with this title and presses its OK button by message."""
    if not shown(BOX, title):
        return False
    return post((BOX, title), WM_COMMAND, IDOK) and gone(BOX, title)


def enter_port(dialog, text):
    """Puts text into the settings dialog's port box and presses OK, both by message."""
    return (driver("settext", dialog[0], dialog[1], PORT_EDIT_ID, text) is not None
            and post(dialog, WM_COMMAND, IDOK))


def screenshot(name):
    """The screen as a picture in SHOTS; its path, or None when none could be taken."""
    path = os.path.join(SHOTS, name + ".png")
    return path if run("import", "-window", "root", path).returncode == 0 else None


def rgba(path, *options):
    """Width, height and 8-bit RGBA bytes of a picture."""
    size = run("identify", "-format", "%w %h", path).stdout.split()
    data = subprocess.run(["convert", path] + list(options) + ["-depth", "8", "RGBA:-"],
                          capture_output=True).stdout
    if options:  # resized: the size follows from the data
        side = int((len(data) // 4) ** 0.5)
        return side, side, data
    return int(size[0]), int(size[1]), data


class IconPicture:
    """The tray icon's picture, to be found on the screen by its shape: the opaque pixels of
    the 16-pixel image (and of the 32-pixel one scaled down, in case the tray scales the
    default-size icon), compared with a tolerance. A blue area of another kind, such as a
    highlighted taskbar button, lacks the white loudspeaker and does not match."""

    TOLERANCE = 24  # mean absolute difference per channel; the tray's drawing differs by 12
    PROBE_TOLERANCE = 60  # per channel, for a pixel inside an area of one colour

    def __init__(self):
        self.templates = []
        for name, options in (("quavix-16.png", ()), ("quavix-32.png", ("-resize", "16x16"))):
            w, h, data = rgba(os.path.join(ICONS, name), *options)
            pixels = [(i % w, i // w, data[4 * i], data[4 * i + 1], data[4 * i + 2])
                      for i in range(w * h) if data[4 * i + 3] >= 240]
            # Pixels inside areas of one colour (not the smoothed edges, which the tray draws a
            # little differently) must each match: some of the loudspeaker's white and some of
            # the tile's blue. They reject most places at once.
            colour = {(x, y): (r, g, b) for x, y, r, g, b in pixels}

            def around(p, reach):
                return [colour.get((p[0] + dx, p[1] + dy)) for dx in reach for dy in reach
                        if abs(dx) + abs(dy) <= max(reach)]

            light = [p for p in pixels
                     if all(c is not None and min(c) >= 200 for c in around(p, (-1, 0, 1)))]
            dark = [p for p in pixels if min(p[2:]) < 200 and all(
                c is not None and sum(abs(a - b) for a, b in zip(c, p[2:])) <= 30
                for c in around(p, (-1, 0, 1)))]
            if len(light) < 2 or len(dark) < 4:
                raise SystemExit("%s: the icon has no clear white-on-blue areas" % name)
            probes = light[::max(1, len(light) // 4)] + dark[::max(1, len(dark) // 6)]
            self.templates.append((w, h, pixels, probes))

    def find(self, path, region):
        """Centre of the icon inside region (x, y, w, h) of the picture at path, or None."""
        width, height, data = rgba(path)
        rx, ry, rw, rh = region
        rx, ry = max(rx, 0), max(ry, 0)
        rw, rh = min(rw, width - rx), min(rh, height - ry)
        best = None
        for tw, th, pixels, probes in self.templates:
            for y in range(ry, ry + rh - th + 1):
                for x in range(rx, rx + rw - tw + 1):
                    if not all(self.near(data, width, x, y, p, 3 * self.PROBE_TOLERANCE) for p in probes):
                        continue
                    score = sum(self.difference(data, width, x, y, p) for p in pixels)
                    score /= 3.0 * len(pixels)
                    if score <= self.TOLERANCE and (best is None or score < best[0]):
                        best = (score, x + tw // 2, y + th // 2)
        return best[1:] if best else None

    @staticmethod
    def difference(data, width, x, y, pixel):
        i = 4 * ((y + pixel[1]) * width + x + pixel[0])
        return abs(data[i] - pixel[2]) + abs(data[i + 1] - pixel[3]) + abs(data[i + 2] - pixel[4])

    @classmethod
    def near(cls, data, width, x, y, pixel, limit):
        return cls.difference(data, width, x, y, pixel) <= limit


# Tray icons are drawn on the taskbar along the bottom of Wine's desktop.
TASKBAR = (0, 768 - 48, 1024, 48)


def tray_icon(name, picture):
    """Where the icon is on the screen now, or None."""
    path = screenshot(name)
    return picture.find(path, TASKBAR) if path else None


def no_tray_icon(name, picture):
    """Whether a picture of the screen was taken and shows no icon."""
    path = screenshot(name)
    return path is not None and picture.find(path, TASKBAR) is None


def click(x, y):
    run("xdotool", "mousemove", str(x), str(y), "click", "1")


def open_menu_by_mouse(icon):
    """Clicks the tray icon until its menu shows; a click is repeated only when no menu came
    up, since Wine now and then drops a synthetic click. Gives the menu's rectangle or None."""
    for _ in range(3):
        click(*icon)
        menu = shown(MENU, "-", 15000)
        if menu:
            return menu
    return None


def choose_by_mouse(menu, column, opened):
    """Clicks the menu item in this column (0 Settings, alone in its column; 1 Quit Quavix, below
    Open control page in the second column), then waits for what the item opens. The click is
    repeated only while the menu stays up, which shows that it was dropped."""
    x, y, w, h = menu
    target = (x + w // 4, y + h // 4) if column == 0 else (x + w * 3 // 4, y + h * 3 // 4)
    for _ in range(3):
        click(*target)
        if gone(MENU, "-", 15000):
            return opened()
    return False


def choose_by_message(key):
    """Opens the tray menu as a click on the icon does, by posting the icon's callback message
    to the hidden window, and chooses an item by its mnemonic key, posted to the same thread
    where the menu's loop reads it."""
    if not post(HIDDEN_WINDOW, WM_TRAY_NOTIFY, TRAY_ICON_ID, WM_RBUTTONDOWN):
        return False
    return bool(shown(MENU, "-")) and post(HIDDEN_WINDOW, WM_CHAR, ord(key))


def stored_port():
    result = run("wine", "reg", "query", KEY, "/v", "ServerPort")
    match = re.search(r"REG_DWORD\s+0x([0-9a-fA-F]+)", result.stdout)
    return int(match.group(1), 16) if match else None


class KeepAliveClient(threading.Thread):
    """Stays connected and records every byte until the server closes or 90 s pass."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.sock = connect(port)
        self.data = b""
        self.closed = False

    def run(self):
        if self.sock is None:
            return
        self.sock.settimeout(90)
        try:
            while True:
                chunk = self.sock.recv(64)
                if not chunk:
                    self.closed = True
                    break
                self.data += chunk
        except OSError:
            pass


def port_is_free(port):
    probe = socket.socket()
    try:
        probe.bind(("0.0.0.0", port))
        return True
    except OSError:
        return False
    finally:
        probe.close()


def free_port_pair():
    """Two free neighbouring ports below the range the kernel takes the local ports of outgoing
    connections from: the checks' own short connections leave such ports in TIME_WAIT, where
    the server could not bind them."""
    with open("/proc/sys/net/ipv4/ip_local_port_range") as ports:
        low = int(ports.read().split()[0])
    for port in random.sample(range(20000, low - 1), 500):
        if port_is_free(port) and port_is_free(port + 1):
            return port
    raise SystemExit("no two free neighbouring ports below %d" % low)


def page_status(page_port, host=None, path="/"):
    request = urllib.request.Request("http://127.0.0.1:%d%s" % (page_port, path))
    if host is not None:
        request.add_header("Host", host)
    try:
        with urllib.request.urlopen(request, timeout=5) as answer:
            return answer.status, answer.read().decode(errors="replace")
    except urllib.error.HTTPError as error:
        return error.code, ""
    except OSError:
        return None, ""


def check_page(page_port):
    """The page from a Linux browser's point of view: served under our name only, its
    WebSocket speaking the protocol, and refused to another site's page."""
    check(wait_for(lambda: page_status(page_port)[0] == 200, 30), "the page is served")
    status, page = page_status(page_port)
    check('type="range"' in page, "the page has its slider")
    check(page_status(page_port, "attacker.example")[0] == 421,
          "a foreign Host gets no page")
    # The pairing page, for this computer's own browser: a code from BCrypt's randomness, drawn
    # by the QR code library compiled from Debian's source.
    status, pairing = page_status(page_port, path="/pair")
    check(status == 200 and "#pair=" in pairing and "<svg" in pairing and "<path" in pairing,
          "the pairing page shows a code and its QR code")
    # Wine's Core Audio cannot set the volume, so a request changes nothing to be heard: an
    # invalid byte shows instead that the page's bytes reach the protocol.
    ws = None
    try:
        ws = websocket.create_connection("ws://127.0.0.1:%d/ws" % page_port, timeout=5)
        check(ws.recv() == bytes([0x19, 0xC8, 0xDE, 0x00]), "the page's WebSocket is greeted")
        ws.send_binary(bytes([0x7F]))  # volume 127
        opcode, data = ws.recv_data(control_frame=True)
        while opcode == websocket.ABNF.OPCODE_TEXT:  # the remote control's news
            opcode, data = ws.recv_data(control_frame=True)
        check(opcode == websocket.ABNF.OPCODE_CLOSE and data[:2] == (1008).to_bytes(2, "big"),
              "an invalid byte closes the page's WebSocket (1008)")
    except (OSError, websocket.WebSocketException) as error:
        check(False, "the page's WebSocket works (%s)" % error)
    finally:
        if ws is not None:
            ws.close()
    try:
        websocket.create_connection("ws://127.0.0.1:%d/ws" % page_port, timeout=5,
                                    origin="http://attacker.example").close()
        check(False, "a foreign Origin gets no WebSocket")
    except websocket.WebSocketBadStatusException as error:
        check(error.status_code == 403, "a foreign Origin gets no WebSocket")
    except OSError as error:
        check(False, "a foreign Origin gets no WebSocket (%s)" % error)


VK_MEDIA_PLAY_PAUSE = 0xB3


def check_media_key(page_port):
    """The page's Play or pause reaches SendInput: a low-level keyboard hook in another program
    sees the media key, as every player on the desktop would."""
    with tempfile.TemporaryFile() as out:
        waiter = subprocess.Popen(["wine", DRIVER, "key", str(VK_MEDIA_PLAY_PAUSE), "60000"],
                                  stdout=out, stderr=subprocess.DEVNULL)
        started.append(waiter)

        def ready():
            out.seek(0)
            return b"ready" in out.read()

        if not check(wait_for(ready, 60), "a keyboard hook waits for the media key"):
            return
        ws = None
        try:
            ws = websocket.create_connection("ws://127.0.0.1:%d/ws" % page_port, timeout=10)
            check(ws.recv() == bytes([0x19, 0xC8, 0xDE, 0x00]), "the page's WebSocket is greeted")
            media = None
            while media is None:
                message = json.loads(ws.recv())
                if message.get("type") == "media":
                    media = message
            check(media["controllable"] and media["title"] == "",
                  "the page's buttons are enabled, with no title (%s)" % media)
            ws.send("media playpause")
            try:
                code = waiter.wait(90)
            except subprocess.TimeoutExpired:
                code = None
            check(code == 0, "the page's Play or pause presses VK_MEDIA_PLAY_PAUSE")
        except (OSError, ValueError, websocket.WebSocketException) as error:
            check(False, "the page's remote control works (%s)" % error)
        finally:
            if ws is not None:
                ws.close()


def main():
    os.makedirs(SHOTS, exist_ok=True)
    run("wine", "reg", "delete", KEY, "/f")
    greeting_bytes = bytes([0x19, 0xC8, 0xDE, 0x00])
    first = 17495
    # Other programs on this machine may hold the default port; then start from a stored one.
    if not wait_for(lambda: port_is_free(first) and port_is_free(first + 1), 20):
        first = free_port_pair()
        run("wine", "reg", "add", KEY, "/v", "ServerPort", "/t", "REG_DWORD", "/d", str(first),
            "/f")
        print("note - 17495 is busy on this machine; the checks start from stored port %d" % first)
    second_port = first + 1
    # The page's default port is the second one: move it out of the way.
    page_port = free_port_pair() + 1
    run("wine", "reg", "add", KEY, "/v", "WebPort", "/t", "REG_SZ", "/d", str(page_port), "/f")

    # A busy port: start-up reports it and ends with 1 (a failure, for scripts and services).
    blocker = socket.socket()
    blocker.bind(("0.0.0.0", first))
    blocker.listen()
    busy = start_server()
    check(answer_box("Quavix Server Error"), "busy port: 'Quavix Server Error' box shown")
    check(exit_code(busy) == 1, "busy port: exit code 1")
    blocker.close()

    server = start_server()
    check(wait_for(lambda: greeting(first) == greeting_bytes),
          "listens on %d and greets with 19 C8 DE 00" % first)
    if first == 17495:
        check(stored_port() is None, "reading the port created no registry key")
    keepalive = KeepAliveClient(first)
    keepalive.start()

    second = start_server()
    check(answer_box("Error"), "second instance: 'Error' box shown")
    check(exit_code(second) == 0, "second instance: exit code 0")
    check(greeting(first) == greeting_bytes, "first instance still serving")

    picture = IconPicture()
    icon = wait_for(lambda: tray_icon("tray", picture))
    check(icon is not None, "tray icon shown (program-checks/tray.png)")

    check(wait_for(lambda: keepalive.data.startswith(greeting_bytes)
                   and keepalive.data.endswith(b"\xff")),
          "keep-alive byte FF after 20 s (got %s)" % keepalive.data.hex())
    keepalive = KeepAliveClient(first)  # to see it dropped by the port change
    keepalive.start()

    # The user's way once: a real click on the icon and on the menu item.
    menu = open_menu_by_mouse(icon) if icon is not None else None
    check(menu is not None, "a click on the tray icon opens its menu")
    settings = (BOX, "Quavix Server Settings")
    dialog = menu is not None and choose_by_mouse(menu, 0, lambda: shown(*settings))
    check(dialog, "menu Settings opens the settings dialog")
    if dialog:
        screenshot("dialog")
        check(enter_port(settings, "abc") and answer_box("Bad Port"),
              "'abc' refused with the 'Bad Port' box")
        check(bool(shown(*settings, 1000)), "the dialog stays open after 'Bad Port'")
        check(enter_port(settings, str(second_port)) and gone(*settings),
              "OK with a valid port closes the dialog")
        check(wait_for(lambda: stored_port() == second_port),
              "new port %d stored" % second_port)
        check(wait_for(lambda: greeting(second_port) == greeting_bytes),
              "server moved to %d" % second_port)
        check(connect(first) is None, "%d no longer listening" % first)
        check(wait_for(lambda: keepalive.closed), "client of the old port disconnected")

    check(choose_by_message("q"), "the tray menu opened by its callback message")
    check(exit_code(server) == 0, "menu Quit ends the program with exit code 0")
    check(wait_for(lambda: no_tray_icon("after-quit", picture)),
          "tray icon removed on quit")

    # The stored port is read at start-up.
    again = start_server()
    check(wait_for(lambda: greeting(second_port) == greeting_bytes),
          "restart listens on the stored %d" % second_port)
    check_page(page_port)
    check_media_key(page_port)
    check(wait_for(lambda: tray_icon("restart", picture)) is not None,
          "restart shows the tray icon")
    choose_by_message("q")
    check(exit_code(again) == 0, "restart quits with exit code 0")
    run("wine", "reg", "delete", KEY, "/f")


try:
    main()
finally:
    for process in started:
        if process.poll() is None:
            process.kill()
print("%d program check(s) failed" % len(failures) if failures else "all program checks passed")
sys.exit(1 if failures else 0)
