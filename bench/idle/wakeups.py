#!/usr/bin/env python3
"""Wake-ups of an idle quavix-server, before and after one client was held off.

Runs the real server on the sound server of tests/fixtures/with-sound-server.sh with two idle
clients, and counts the context switches of all its threads (/proc/PID/task/*/status) over a
quiet window; then holds one client off once (it asks for 32 %, the computer sets 40 % 100 ms
later), times when that client is told 40 %, and counts again.

  bash tests/fixtures/with-sound-server.sh python3 bench/idle/wakeups.py SERVER [SECONDS]
"""
import glob
import os
import socket
import subprocess
import sys
import tempfile
import time

GREETING = bytes([0x19, 0xC8, 0xDE, 0x00])


def switches(pid):
    total = 0
    for status in glob.glob("/proc/%d/task/*/status" % pid):
        try:
            with open(status) as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        total += int(line.split()[1])
        except FileNotFoundError:
            pass
    return total


def rate(pid, seconds):
    before = switches(pid)
    time.sleep(seconds)
    return (switches(pid) - before) / seconds


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def connect(port, deadline):
    while True:
        try:
            client = socket.create_connection(("127.0.0.1", port), timeout=2)
            break
        except OSError:
            if time.monotonic() > deadline:
                sys.exit("the server did not start")
            time.sleep(0.05)
    got = b""
    while len(got) < 5:
        got += client.recv(5 - len(got))
    if got[:4] != GREETING:
        sys.exit("not greeted")
    return client


def main():
    server = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0
    root = tempfile.mkdtemp(prefix="quavix-wakeups.")
    config = os.path.join(root, "config", "Software", "Marrowick", "Quavix")
    os.makedirs(config)
    os.makedirs(os.path.join(root, "run"), mode=0o700)
    port = free_port()
    with open(os.path.join(config, "ServerPort"), "wb") as f:
        f.write(port.to_bytes(4, "little"))
    env = dict(os.environ)
    env["PULSE_SERVER"] = "unix:%s/native" % env.get(
        "PULSE_RUNTIME_PATH", env.get("XDG_RUNTIME_DIR", "") + "/pulse")
    env.update(XDG_CONFIG_HOME=os.path.join(root, "config"),
               XDG_RUNTIME_DIR=os.path.join(root, "run"), QT_QPA_PLATFORM="offscreen")
    env.pop("DISPLAY", None)
    subprocess.run(["pactl", "set-sink-volume", "@DEFAULT_SINK@", "20%"], check=True)
    process = subprocess.Popen([server], env=env, stdout=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 10
        asker, other = connect(port, deadline), connect(port, deadline)
        time.sleep(2)  # start-up's own work done
        idle_before = rate(process.pid, seconds)

        asker.sendall(bytes([32]))
        asked = time.monotonic()
        time.sleep(0.1)
        subprocess.run(["pactl", "set-sink-volume", "@DEFAULT_SINK@", "40%"], check=True)
        asker.settimeout(3)
        told = None
        while told is None:
            byte = asker.recv(1)
            if not byte:
                sys.exit("the server closed the connection")
            if byte[0] == 40:
                told = (time.monotonic() - asked) * 1000
        time.sleep(1)
        idle_after = rate(process.pid, seconds)
        print("| `%s` | %.1f | %.1f | %.0f |" % (server, idle_before, idle_after, told))
    finally:
        process.terminate()
        process.wait(timeout=10)
        subprocess.run(["rm", "-rf", root])


if __name__ == "__main__":
    main()
