#!/usr/bin/env python3
"""Checks of the real QuavixServer.exe under Wine, driven like a user and a network client:
start-up refused on a busy port, greeting and keep-alive to a TCP client from Linux, the second
instance refused, the registry value read and written, the tray icon, its menu, the settings
dialog moving the server to a new port, and quitting with exit code 0.

Run inside tests/win32/fixtures/with-wine.sh (DISPLAY and WINEPREFIX set), preferably under
tests/fixtures/with-sound-server.sh so Wine's audio driver finds a playback device:
    program-checks.py build-windows/QuavixServer.exe
Screenshots go to program-checks/ beside the executable.
"""
import os
import re
import socket
import subprocess
import sys
import threading
import time

EXE = sys.argv[1]
SHOTS = os.path.join(os.path.dirname(os.path.abspath(EXE)), "program-checks")
KEY = r"HKCU\Software\Marrowick\Quavix"
failures = []
started = []


def check(condition, what):
    print(("ok   - " if condition else "FAIL - ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


def wait_for(predicate, timeout=15.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    return predicate()


def run(*args):
    return subprocess.run(list(args), capture_output=True, text=True)


def start_server():
    process = subprocess.Popen(["wine", EXE], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    started.append(process)
    return process


def exit_code(process, timeout=15.0):
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        return None


def connect(port, timeout=2.0):
    try:
        return socket.create_connection(("127.0.0.1", port), timeout=timeout)
    except OSError:
        return None


def read_bytes(sock, count, timeout=3.0):
    sock.settimeout(timeout)
    data = b""
    try:
        while len(data) < count:
            chunk = sock.recv(count - len(data))
            if not chunk:
                break
            data += chunk
    except OSError:
        pass
    return data


def greeting(port):
    sock = connect(port)
    if sock is None:
        return None
    with sock:
        return read_bytes(sock, 4)


def windows_named(title):
    result = run("xdotool", "search", "--name", "^" + re.escape(title) + "$")
    return [w for w in result.stdout.split() if w]


def press(keys, window=None):
    if window is not None:
        run("xdotool", "windowfocus", window)
    for key in keys:
        run("xdotool", "key", key)
        time.sleep(0.1)


def type_text(text):
    run("xdotool", "type", "--delay", "50", text)


def answer_box(title):
    """Waits for a message box with this title and presses its OK button (Enter)."""
    boxes = wait_for(lambda: windows_named(title), 10)
    if boxes:
        press(["Return"], boxes[0])
        wait_for(lambda: not windows_named(title), 5)
    return bool(boxes)


def screenshot(name):
    path = os.path.join(SHOTS, name + ".png")
    run("import", "-window", "root", path)
    return path


def tray_icon_centre(path):
    """Centre of the icon's blue tile in the bottom strip (the notification area), or None.
    The tile is a saturated blue; Wine's desktop blue is greener, the taskbar grey."""
    size = run("identify", "-format", "%w %h", path).stdout.split()
    width, height = int(size[0]), int(size[1])
    strip = 24
    pixels = subprocess.run(["convert", path, "-gravity", "south", "-crop", "x%d+0+0" % strip,
                             "+repage", "-depth", "8", "RGB:-"], capture_output=True).stdout
    xs, ys = [], []
    for i in range(0, len(pixels) - 2, 3):
        r, g, b = pixels[i], pixels[i + 1], pixels[i + 2]
        if b >= 140 and b - g >= 55 and b - r >= 100:
            xs.append((i // 3) % width)
            ys.append((i // 3) // width)
    if len(xs) < 20 or max(xs) - min(xs) > 64:
        return None
    return (min(xs) + max(xs)) // 2, height - strip + (min(ys) + max(ys)) // 2


def choose_from_menu(icon, name, column):
    """Opens the tray menu with a left click and clicks an item of its first row, chosen by
    column (0 Settings, 1 Quit). The menu is found as what changed on the screen: keyboard
    input cannot be relied on, since Wine may refuse our window the foreground after another
    process's message box had it."""
    before = screenshot(name + "-before")
    run("xdotool", "mousemove", str(icon[0]), str(icon[1]), "click", "1")
    time.sleep(1.0)
    after = screenshot(name)
    result = run("convert", before, after, "-compose", "difference", "-composite",
                 "-threshold", "5%", "-format", "%@", "info:")
    match = re.match(r"(\d+)x(\d+)\+(\d+)\+(\d+)", result.stdout.strip())
    if not match:
        return False
    w, h, x, y = map(int, match.groups())
    if w < 40 or h < 10:
        return False
    # Two columns side by side, Settings then Quit Quavix.
    target_x = x + (w * 20 // 100 if column == 0 else w * 75 // 100)
    target_y = y + h // 2
    run("xdotool", "mousemove", str(target_x), str(target_y), "click", "1")
    return True


def stored_port():
    result = run("wine", "reg", "query", KEY, "/v", "ServerPort")
    match = re.search(r"REG_DWORD\s+0x([0-9a-fA-F]+)", result.stdout)
    return int(match.group(1), 16) if match else None


class KeepAliveClient(threading.Thread):
    """Stays connected and records every byte until the server closes or 25 s pass."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.sock = connect(port)
        self.data = b""
        self.closed = False

    def run(self):
        if self.sock is None:
            return
        self.sock.settimeout(25)
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


def free_port():
    probe = socket.socket()
    probe.bind(("0.0.0.0", 0))
    port = probe.getsockname()[1]
    probe.close()
    return port


def main():
    os.makedirs(SHOTS, exist_ok=True)
    run("wine", "reg", "delete", KEY, "/f")
    greeting_bytes = bytes([0x19, 0xC8, 0xDE, 0x00])
    first = 17495
    # Other programs on this machine may hold the default port; then start from a stored one.
    if not wait_for(lambda: port_is_free(first), 20):
        first = free_port()
        run("wine", "reg", "add", KEY, "/v", "ServerPort", "/t", "REG_DWORD", "/d", str(first),
            "/f")
        print("note - 17495 is busy on this machine; the checks start from stored port %d" % first)
    second_port = first + 1 if port_is_free(first + 1) else free_port()

    # A busy port: start-up reports it and ends with 0.
    blocker = socket.socket()
    blocker.bind(("0.0.0.0", first))
    blocker.listen()
    busy = start_server()
    check(answer_box("Quavix Server Error"), "busy port: 'Quavix Server Error' box shown")
    check(exit_code(busy) == 0, "busy port: exit code 0")
    blocker.close()

    server = start_server()
    check(wait_for(lambda: greeting(first) == greeting_bytes, 30),
          "listens on %d and greets with 19 C8 DE 00" % first)
    if first == 17495:
        check(stored_port() is None, "reading the port created no registry key")
    keepalive = KeepAliveClient(first)
    keepalive.start()

    second = start_server()
    check(answer_box("Error"), "second instance: 'Error' box shown")
    check(exit_code(second) == 0, "second instance: exit code 0")
    check(greeting(first) == greeting_bytes, "first instance still serving")

    time.sleep(1.0)
    icon = tray_icon_centre(screenshot("tray"))
    check(icon is not None, "tray icon shown (program-checks/tray.png)")

    keepalive.join(timeout=24)
    check(keepalive.data.startswith(greeting_bytes) and keepalive.data.endswith(b"\xff"),
          "keep-alive byte FF after 20 s (got %s)" % keepalive.data.hex())
    keepalive = KeepAliveClient(first)  # to see it dropped by the port change
    keepalive.start()

    if icon is not None:
        choose_from_menu(icon, "menu", 0)
        dialogs = wait_for(lambda: windows_named("Quavix Server Settings"), 10)
        check(bool(dialogs), "menu Settings opens the settings dialog")
        if dialogs:
            screenshot("dialog")
            press(["End"] + ["BackSpace"] * 9, dialogs[0])
            type_text("abc")
            press(["Return"])
            check(answer_box("Bad Port"), "'abc' refused with the 'Bad Port' box")
            press(["End"] + ["BackSpace"] * 9, dialogs[0])
            type_text(str(second_port))
            press(["Return"])
            check(wait_for(lambda: stored_port() == second_port, 10),
                  "new port %d stored" % second_port)
            check(wait_for(lambda: greeting(second_port) == greeting_bytes, 10),
                  "server moved to %d" % second_port)
            check(connect(first) is None, "%d no longer listening" % first)
            keepalive.join(timeout=10)
            check(keepalive.closed, "client of the old port disconnected")

        choose_from_menu(icon, "menu-quit", 1)
        check(exit_code(server) == 0, "menu Quit ends the program with exit code 0")
        time.sleep(1.0)
        check(tray_icon_centre(screenshot("after-quit")) is None, "tray icon removed on quit")
    else:
        server.kill()

    # The stored port is read at start-up.
    again = start_server()
    check(wait_for(lambda: greeting(second_port) == greeting_bytes, 30),
          "restart listens on the stored %d" % second_port)
    icon = wait_for(lambda: tray_icon_centre(screenshot("restart")), 10)
    if icon is not None:
        choose_from_menu(icon, "menu-restart", 1)
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
