"""The test support for checks and benchmarks in Python: bounded waits, a byte-protocol client,
and the real server started headless with settings of its own, stored as ServerSettings.h
stores them for the C++ tests. Import it with sys.dont_write_bytecode set (no compiled Python
in the tree)."""
import os
import select
import shutil
import signal
import socket
import subprocess
import tempfile
import time

GREETING = bytes([0x19, 0xC8, 0xDE, 0x00])


def wait_for(predicate, timeout=60.0):
    """Polls `predicate` until it gives a true value or `timeout` seconds pass; its last value."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    return predicate()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def connect(port, timeout=2.0):
    """A client of 127.0.0.1:port, or None when nothing answers."""
    try:
        return socket.create_connection(("127.0.0.1", port), timeout=timeout)
    except OSError:
        return None


def read_bytes(sock, count, timeout=3.0):
    """Up to `count` bytes; fewer at the end of the stream or after `timeout` seconds."""
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
    """The first four bytes a new client of the port is sent; None when it cannot connect."""
    sock = connect(port)
    if sock is None:
        return None
    with sock:
        return read_bytes(sock, 4)


class HeadlessServer:
    """The real quavix-server with no display, settings (`port` and `settings`) and a runtime
    folder of its own, on the sound server this process reaches. start() again after stop()
    restarts it."""

    def __init__(self, binary, port, **settings):
        self.binary, self.port, self.process = binary, port, None
        self.root = tempfile.mkdtemp(prefix="quavix-server-under-test.")
        os.makedirs(os.path.join(self.root, "config", "quavix"))
        os.makedirs(os.path.join(self.root, "run"), mode=0o700)
        with open(os.path.join(self.root, "config", "quavix", "quavix-server.conf"), "w") as f:
            f.write("[server]\nport = %s\n" % port)
            f.writelines("%s = %s\n" % item for item in settings.items())

    def start(self, timeout=30.0):
        """Starts it; its start-up line, which says that it serves (within `timeout` seconds)."""
        pulse = os.environ.get("PULSE_RUNTIME_PATH") or os.path.join(
            os.environ.get("XDG_RUNTIME_DIR", "/tmp"), "pulse")
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.root, "config"),
                   XDG_RUNTIME_DIR=os.path.join(self.root, "run"), QT_QPA_PLATFORM="offscreen",
                   PULSE_SERVER=os.environ.get("PULSE_SERVER", "unix:%s/native" % pulse))
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        log = tempfile.TemporaryFile()
        self.process = subprocess.Popen([self.binary], env=env, stdout=subprocess.PIPE,
                                        stderr=log, text=True)
        self.pid = self.process.pid
        ready, _, _ = select.select([self.process.stdout], [], [], timeout)
        line = self.process.stdout.readline() if ready else ""
        if not line:
            self.process.kill()
            self.process.wait()
            self.process = None
            log.seek(0)
            raise AssertionError("the server did not start within %.0f s: %s" %
                                 (timeout, log.read().decode()))
        return line

    def stop(self, timeout=10.0):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                self.process.kill()
                raise AssertionError("the server did not stop on SIGTERM")
        self.process = None

    def close(self):
        try:
            self.stop()
        finally:
            shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *unused):
        self.close()
