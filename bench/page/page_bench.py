#!/usr/bin/python3
"""Control page clients against byte-protocol clients, on the real server binary and the private
sound server of tests/fixtures/with-sound-server.sh: the time from a pactl change to its
arrival at N connected pages and at one byte client, and the server's memory per page.

usage: with-sound-server.sh bench/page/page_bench.py SERVER_BINARY [--smoke]
--smoke: three pages and one change (bench/smoke.sh). Every read is bounded: a change that does
not arrive ends the run with an error."""

import base64
import os
import select
import socket
import statistics
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no compiled Python in the tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests",
                                "support"))
from server_under_test import HeadlessServer, free_port  # noqa: E402

BOUND = 10  # seconds any read may wait


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def open_page(port):
    s = socket.create_connection(("127.0.0.1", port), timeout=BOUND)
    key = base64.b64encode(os.urandom(16)).decode()
    s.sendall((f"GET /ws HTTP/1.1\r\nHost: localhost:{port}\r\nUpgrade: websocket\r\n"
               f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
               "Sec-WebSocket-Version: 13\r\n\r\n").encode())
    head = b""
    while b"\r\n\r\n" not in head:
        head += s.recv(1)
    assert head.startswith(b"HTTP/1.1 101"), head
    return s


def read_state_page(s):
    """One server frame (unmasked, short): its payload."""
    header = s.recv(2, socket.MSG_WAITALL)
    return s.recv(header[1] & 0x7F, socket.MSG_WAITALL)


def drain(sockets):
    while True:
        ready, _, _ = select.select(sockets, [], [], 0.3)
        if not ready:
            return
        for s in ready:
            s.recv(4096)


def main():
    binary = sys.argv[1]
    counts, changes = ((3,), 1) if "--smoke" in sys.argv[2:] else ((10, 100), 20)
    port, page_port = free_port(), free_port()
    with HeadlessServer(binary, port, web_port=page_port, announce="false") as server:
        server.start()
        byte_client = socket.create_connection(("127.0.0.1", port), timeout=BOUND)
        pages = []
        volume = 20
        for count in counts:
            before, opened = rss_kib(server.pid), len(pages)
            while len(pages) < count:
                pages.append(open_page(page_port))
            time.sleep(0.5)
            per_page = (rss_kib(server.pid) - before) / (count - opened)
            drain(pages + [byte_client])
            page_ms, byte_ms = [], []
            for _ in range(changes):
                volume = 20 + (volume + 7) % 60
                start = time.monotonic()
                subprocess.run(["pactl", "set-sink-volume", "@DEFAULT_SINK@", f"{volume}%"],
                               check=True)
                byte_client.recv(1)
                byte_ms.append((time.monotonic() - start) * 1000)
                for s in pages:
                    read_state_page(s)
                page_ms.append((time.monotonic() - start) * 1000)  # the last page's arrival
                drain(pages + [byte_client])
            print(f"{count} pages: pactl to byte client median {statistics.median(byte_ms):.1f} ms,"
                  f" to the last page median {statistics.median(page_ms):.1f} ms;"
                  f" server memory per page {per_page:.0f} KiB")


if __name__ == "__main__":
    main()
