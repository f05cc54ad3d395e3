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
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no compiled Python in the tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests",
                                "support"))
from server_under_test import GREETING, HeadlessServer, connect, free_port, read_bytes  # noqa


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


def greeted(port):
    """A client that was greeted and told the state."""
    client = connect(port)
    if client is None or read_bytes(client, 5)[:4] != GREETING:
        sys.exit("not greeted")
    return client


def main():
    binary = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0
    subprocess.run(["pactl", "set-sink-volume", "@DEFAULT_SINK@", "20%"], check=True)
    with HeadlessServer(binary, free_port(), web_port=0, announce="false") as server:
        server.start()
        asker, other = greeted(server.port), greeted(server.port)
        time.sleep(2)  # start-up's own work done
        idle_before = rate(server.pid, seconds)

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
        idle_after = rate(server.pid, seconds)
        print("| `%s` | %.1f | %.1f | %.0f |" % (binary, idle_before, idle_after, told))


if __name__ == "__main__":
    main()
