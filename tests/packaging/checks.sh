# Sourced by the packaging checks: a PASS or FAIL line per check, and the probes they share.
failed=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failed=1; }
check() {  # check DESCRIPTION COMMAND...
  local what="$1"
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
finish() {  # finish NAME: the summary line, then exit 1 if any check failed
  [ "$failed" = 0 ] && echo "PASS: $1" || echo "FAIL: $1"
  exit "$failed"
}
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
# greets PORT SECONDS: a server on 127.0.0.1:PORT sends the four greeting bytes within SECONDS.
greets() {
  python3 - "$1" "$2" <<'PY'
import socket, sys, time
deadline = time.monotonic() + float(sys.argv[2])
while time.monotonic() < deadline:
    try:
        s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=2)
        break
    except OSError:
        time.sleep(0.1)
else:
    sys.exit("nothing listens on port %s" % sys.argv[1])
s.settimeout(5)
data = b""
while len(data) < 4:
    chunk = s.recv(4 - len(data))
    if not chunk:
        break
    data += chunk
sys.exit(0 if data == bytes([0x19, 0xC8, 0xDE, 0x00]) else "greeting was %r" % data)
PY
}
