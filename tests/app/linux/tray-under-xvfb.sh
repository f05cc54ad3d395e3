#!/usr/bin/env bash
# quavix-server on a virtual X display with a small tray host (trayer) that starts after it: the
# icon docks once the host is up, a left or right press opens the menu, Settings moves the
# server to a new port, Quit ends it with 0.
#   tray-under-xvfb.sh <quavix-server> [folder for screenshots]
# Needs the sound server of tests/fixtures/with-sound-server.sh.
set -uo pipefail
if [ -z "${QUAVIX_SOUND_SERVER:-}" ]; then
  [ -n "${QUAVIX_REQUIRE_SOUND_SERVER:-}" ] && { echo "FAIL: no sound server" >&2; exit 1; }
  echo "SKIP: no sound server"
  exit 77
fi
server_bin=$1
# Only for ASan builds: what desktop libraries keep until exit is not ours to free.
export LSAN_OPTIONS="suppressions=$(dirname "$0")/lsan-desktop.supp:${LSAN_OPTIONS:-}"
# Only for TSan builds: on a real display Qt runs D-Bus and X11 reader threads of its own whose
# hand-overs (Qt is not built with TSan) show up as races on Qt's and glib's own allocations.
# This ignores accesses that uninstrumented libraries make through TSan's interceptors; every
# access of our code is still checked.
export TSAN_OPTIONS="${TSAN_OPTIONS:-}:ignore_noninstrumented_modules=1"
shots=${2:-}
root=$(mktemp -d /tmp/quavix-tray.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  # What still runs 10 s later (a server that hangs on quit) is killed.
  for _ in $(seq 100); do
    kill -0 "${pids[@]}" 2>/dev/null || break
    sleep 0.1
  done
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  rm -rf "$root"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  [ -z "${DISPLAY:-}" ] || { echo "--- windows" >&2; xwininfo -root -tree >&2 2>&1; }
  echo "--- server stderr" >&2
  cat "$root/server.err" >&2 2>/dev/null
  exit 1
}
# Polls a condition (a command) every 50 ms for at most $1 seconds.
wait_for() {
  local limit=$1
  shift
  local tries=$((limit * 20))
  for _ in $(seq "$tries"); do
    "$@" && return 0
    sleep 0.05
  done
  return 1
}
shot() { [ -z "$shots" ] || import -window root "$shots/$1"; }
# Presses a key until a condition holds: a popup may not have grabbed the keyboard yet when it
# first appears, and a key sent before that is lost.
press_until() {
  local key=$1
  shift
  for _ in $(seq 20); do
    xdotool key "$key"
    wait_for 1 "$@" && return 0
  done
  return 1
}

exec 3>"$root/display"
# -noreset: an X server resets when its last client leaves and refuses connections meanwhile;
# the server's own check of the display is such a client, and Qt connects right after it.
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp -noreset >"$root/xvfb.log" 2>&1 &
pids+=($!)
wait_for 30 test -s "$root/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -1 "$root/display")"
# The server's own folders; the sound server stays the fixture's.
mkdir -p "$root/config" "$root/run"
chmod 700 "$root/run"
# A port free on every address, below the system's range for outgoing connections: the server
# moves to it many seconds later, and by then any port of that range may be some other test's
# connection (bind: address in use).
free_port() {
  python3 -c '
import random, socket
low = int(open("/proc/sys/net/ipv4/ip_local_port_range").read().split()[0])
family, anywhere = (socket.AF_INET6, "::") if socket.has_ipv6 else (socket.AF_INET, "")
for _ in range(1000):
    port = random.randrange(10000, low)
    try:
        with socket.socket(family) as s:
            s.bind((anywhere, port))
        print(port)
        break
    except OSError:
        pass'
}
port=$(free_port)
new_port=$(free_port)
setting="$root/config/quavix/quavix-server.conf"
mkdir -p "$(dirname "$setting")"
printf '[server]\nport = %s\n' "$port" >"$setting"
pulse_runtime=${PULSE_RUNTIME_PATH:-$XDG_RUNTIME_DIR/pulse}
pulse_cookie=${XDG_CONFIG_HOME:-$HOME/.config}/pulse/cookie
env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_CONFIG_HOME="$root/config" \
  XDG_RUNTIME_DIR="$root/run" PULSE_SERVER="${PULSE_SERVER:-unix:$pulse_runtime/native}" \
  PULSE_COOKIE="${PULSE_COOKIE:-$pulse_cookie}" "$server_bin" 2>"$root/server.err" &
server=$!
pids+=($server)

serves_on() { python3 -c 'import socket,sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1).close()' "$1" 2>/dev/null; }
wait_for 20 serves_on "$port" || fail "not serving on port $port"

# The tray host comes up after the server, as it may at login: the server serves without an
# icon meanwhile and docks its icon once the host is there.
wait_for 10 grep -q "no notification area" "$root/server.err" || fail "no word of the missing tray"
tray_host_up() { xwininfo -root -tree 2>/dev/null | grep -q '("panel" "trayer")'; }
for _ in 1 2 3; do
  trayer --edge top --align right --widthtype request --height 32 --SetDockType false \
    --transparent false >"$root/trayer.log" 2>&1 &
  pids+=($!)
  wait_for 10 tray_host_up && break
done
tray_host_up || fail "no tray host: $(cat "$root/trayer.log")"


# The docked icon: the window of our class inside the panel (a child, indented below it in the
# tree). Qt creates it as a top-level window at 0,0 first and the host reparents it a moment
# later, moving it and resizing the panel: clicks aimed before that land on nothing. Prints
# "x y" of its centre, nothing while it is not inside the panel.
icon_centre() {
  xwininfo -root -tree | awk '
    /\("panel" "trayer"\)/ { match($0, /^ */); depth = RLENGTH; inside = 1; next }
    inside { match($0, /^ */); if (RLENGTH <= depth) inside = 0 }
    inside && /\("quavix-server" "quavix-server"\)/ {
      for (i = 1; i <= NF; i++) if ($i ~ /^[0-9]+x[0-9]+\+/) { size = $i; abs = $(i + 1) }
      split(size, wh, /[x+]/); split(abs, xy, "+");
      print xy[2] + int(wh[1] / 2), xy[3] + int(wh[2] / 2); exit }'
}
our_windows() { xwininfo -root -tree | grep -c '("quavix-server" "quavix-server")'; }
icon_docked() { [ -n "$(icon_centre)" ]; }
menu_open() { [ "$(our_windows)" -ge 2 ]; }
menu_closed() { [ "$(our_windows)" -eq 1 ]; }
# Presses mouse button $1 on the icon until our menu's window is up, aiming afresh each time
# (the panel may have moved the icon): a press that comes while the server is still leaving a
# modal loop (a message box just closed) can be lost, however fast or slow the clicks come.
open_menu() {
  for _ in $(seq 6); do
    wait_for 10 icon_docked || return 1
    read -r x y < <(icon_centre)
    xdotool mousemove "$x" "$y" click "$1"
    wait_for 5 menu_open && return 0
  done
  return 1
}
wait_for 30 icon_docked || fail "the icon never docked in the panel"
echo "icon at $(icon_centre)"
shot tray-icon.png

# Left press: the menu opens; Escape dismisses it and nothing happens.
open_menu 1 || fail "left press opened no menu"
shot tray-menu.png
press_until Escape menu_closed || fail "menu stayed open"
kill -0 "$server" || fail "server ended after a dismissed menu"

dialog=""
find_dialog() { dialog=$(xdotool search --name '^Quavix Server Settings$' 2>/dev/null | head -1); [ -n "$dialog" ]; }
# Opens the settings from the menu (right press), types $1 and presses Enter.
change_port() {
  open_menu 3 || fail "right press opened no menu"
  press_until s find_dialog || fail "no settings dialog"
  shot settings-dialog.png
  xdotool windowfocus --sync "$dialog"
  xdotool key ctrl+a
  xdotool type "$1"
  xdotool key Return
}
stored_port() { sed -n 's/^port *= *//p' "$setting"; }

# A port another program holds: the server says so and stays where it was.
busy_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -c 'import socket, sys, time; s=socket.socket(); s.bind(("", int(sys.argv[1]))); s.listen(); time.sleep(600)' "$busy_port" &
pids+=($!)
wait_for 10 serves_on "$busy_port" || fail "could not hold port $busy_port"
change_port "$busy_port"
error_box=""
find_error() { error_box=$(xdotool search --name '^Quavix Server Error$' 2>/dev/null | head -1); [ -n "$error_box" ]; }
wait_for 30 find_error || fail "no message about the busy port"
shot bind-error.png
box_gone() { ! xdotool search --name '^Quavix Server Error$' >/dev/null 2>&1; }
xdotool windowfocus --sync "$error_box"
press_until Return box_gone || fail "the message box stayed"
grep -q "Couldn't bind and listen to network port" "$root/server.err" || fail "no message on stderr"
serves_on "$port" || fail "no longer serving on port $port"
[ "$(stored_port)" = "$port" ] || fail "stored port changed to $(stored_port)"

# A free port: the server moves there and stores it.
change_port "$new_port"
wait_for 20 serves_on "$new_port" || fail "not serving on the new port $new_port"
[ "$(stored_port)" = "$new_port" ] || fail "stored port is $(stored_port), not $new_port"
serves_on "$port" && fail "still serving on the old port"

# Quit from the menu ends the process with 0.
open_menu 1 || fail "menu did not open for Quit"
ended() { ! kill -0 "$server" 2>/dev/null; }
press_until q ended || wait_for 20 ended || fail "still running after Quit"
wait "$server"
status=$?
[ "$status" = 0 ] || fail "exit status $status"
echo "PASS"
