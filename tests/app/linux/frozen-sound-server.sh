#!/usr/bin/env bash
# The real server starting against a sound server that is stopped (SIGSTOP), with ALSA's
# default devices routed to that same server, as on a desktop: SIGTERM and SIGINT end start-up
# within 2 s, SIGUSR1 (a port change announced) does not, and left alone it fails with a line
# of its own instead of sliding onto ALSA's plugin for the frozen server; with no sound server
# at all, that plugin is not used either.
#   frozen-sound-server.sh PATH-TO-quavix-server
set -uo pipefail
server=$1
command -v pulseaudio >/dev/null || { echo "no pulseaudio: skipped"; exit 77; }
root=$(mktemp -d /tmp/quavix-frozen.XXXXXX)
mkdir -p "$root/run" "$root/home" "$root/config/quavix"
chmod 700 "$root/run"
printf 'ctl.!default { type pulse }\npcm.!default { type pulse }\n' >"$root/home/.asoundrc"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf '[server]\nport = %s\nweb_port = 0\n' "$port" >"$root/config/quavix/quavix-server.conf"
export XDG_RUNTIME_DIR="$root/run" HOME="$root/home" PULSE_RUNTIME_PATH="$root/run/pulse" \
  XDG_CONFIG_HOME="$root/config" QT_QPA_PLATFORM=offscreen
unset PULSE_SERVER DBUS_SESSION_BUS_ADDRESS DISPLAY WAYLAND_DISPLAY
pa_pid=""
stop() {
  [ -z "$pa_pid" ] || { kill -CONT "$pa_pid"; kill "$pa_pid"; wait "$pa_pid"; } 2>/dev/null
  rm -rf "$root"
}
trap stop EXIT
source "$(dirname "$0")/../../../scripts/private-pulse.sh"
start_private_pulse "$root" quavix_frozen || exit 1
pa_pid=$private_pulse_pid
kill -STOP "$pa_pid"

now_ms() { echo $(($(date +%s%N) / 1000000)); }
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Waits at most $2 ms for process $1 to end; sets status to its exit status, or "running".
wait_end() {
  local pid=$1 limit=$2 start
  start=$(now_ms)
  while kill -0 "$pid" 2>/dev/null; do
    if [ $(($(now_ms) - start)) -ge "$limit" ]; then
      status=running
      return
    fi
    sleep 0.02
  done
  wait "$pid"
  status=$?
}

# Signals at two moments of the wait for the sound server.
for run in TERM:1 INT:3; do
  signal=${run%:*} after=${run#*:}
  {
    "$server" >"$root/out" 2>"$root/err" &
    pid=$!
    sleep "$after"
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      status=$?
      fail "SIG$signal after ${after}s: ended by itself with $status"
      continue
    fi
    kill -"$signal" "$pid"
    wait_end "$pid" 2000
    if [ "$status" = running ]; then
      fail "SIG$signal after ${after}s: still running 2 s later"
      kill -KILL "$pid"
      wait "$pid" 2>/dev/null
    elif [ "$status" != 0 ] && [ "$status" != 1 ]; then
      fail "SIG$signal after ${after}s: status $status"
    fi
  }
done

# SIGUSR1 while the sound server is slow to answer: start-up goes on, and it serves once the
# sound server answers.
"$server" >"$root/out" 2>"$root/err" &
pid=$!
sleep 1
kill -USR1 "$pid"
sleep 0.5
kill -CONT "$pa_pid"
start=$(now_ms)
until grep -q listening "$root/out" || ! kill -0 "$pid" 2>/dev/null ||
  [ $(($(now_ms) - start)) -ge 8000 ]; do
  sleep 0.05
done
if ! kill -0 "$pid" 2>/dev/null; then
  wait "$pid"
  fail "SIGUSR1 during start-up ended it with status $?"
else
  grep -q listening "$root/out" || fail "SIGUSR1 during start-up: not serving 8 s later"
  kill -TERM "$pid"
  wait_end "$pid" 3000
  [ "$status" = 0 ] || fail "SIGUSR1 during start-up: quit with status $status"
fi
kill -STOP "$pa_pid"

# Left alone: a failure that says why, and no volume control on the frozen server's plugin.
"$server" >"$root/out" 2>"$root/err" &
pid=$!
wait_end "$pid" 9000
if [ "$status" = running ]; then
  fail "left alone: still starting after 9 s"
  kill -KILL "$pid"
  wait "$pid" 2>/dev/null
elif [ "$status" != 1 ]; then
  fail "left alone: status $status, not 1"
fi
grep -q "sound server took the connection but did not answer" "$root/err" ||
  fail "left alone: no line about the sound server: $(cat "$root/err")"
if grep -q "listening" "$root/out"; then fail "left alone: it serves: $(cat "$root/out")"; fi

# No sound server at all: ALSA's default device is its plugin still, and is not used either.
kill -CONT "$pa_pid"
kill "$pa_pid"
wait "$pa_pid" 2>/dev/null
pa_pid=""
"$server" >"$root/out" 2>"$root/err" &
pid=$!
wait_end "$pid" 9000
[ "$status" = 1 ] || fail "no sound server: status $status, not 1"
grep -q "ALSA's \"default\" device goes through the sound server" "$root/err" ||
  fail "no sound server: the plugin is not named: $(cat "$root/err")"

[ "$failures" = 0 ] && echo "frozen sound server: all cases passed"
exit $((failures > 0))
