#!/usr/bin/env bash
# Installs what building and running need, builds quavix-server and quavix-remote, and starts
# the server. Where the user has no sound server (a fresh headless machine), a private
# PulseAudio with a virtual output is started first (its daemon installed only then) and
# stopped again when the server exits. The test stack is left to scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/private-pulse.sh
[ "${QUAVIX_SKIP_DEPS:-0}" = 1 ] || bash scripts/install-deps.sh run
# Tests are off here (GoogleTest is not installed for running); scripts/test.sh turns them on.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j"$(nproc)" --target quavix-server quavix-remote
server=build/src/app/quavix-server

pa_pid=""
pa_root=""
stop_sound_server() {
  if [ -n "$pa_pid" ]; then
    kill "$pa_pid" 2>/dev/null || true
    wait "$pa_pid" 2>/dev/null || true
  fi
  [ -z "$pa_root" ] || rm -rf "$pa_root"
}
trap stop_sound_server EXIT

if ! pactl info >/dev/null 2>&1; then
  echo "No sound server answers for this user: starting a private PulseAudio with a virtual"
  echo "output (quavix_virtual) for this run; it stops when the server exits."
  if ! command -v pulseaudio >/dev/null && [ "${QUAVIX_SKIP_DEPS:-0}" != 1 ]; then
    bash scripts/install-deps.sh sound-server
  fi
  pa_root=$(mktemp -d /tmp/quavix-run.XXXXXX)
  if [ -z "${XDG_RUNTIME_DIR:-}" ] || [ ! -w "${XDG_RUNTIME_DIR}" ]; then
    mkdir -m 700 "$pa_root/run"
    export XDG_RUNTIME_DIR="$pa_root/run"
  fi
  export PULSE_RUNTIME_PATH="$pa_root/pulse"
  start_private_pulse "$pa_root" quavix_virtual || exit 1
  pa_pid=$private_pulse_pid
fi

# The server says where it listens in its first line ("... listening on port N: ..."), also
# after a port move; the hints follow that first line. The reader keeps reading through Ctrl+C,
# so it sees the server's last lines and ends with it.
show_hints() {
  trap '' INT
  local line shown=""
  while IFS= read -r line; do
    printf '%s\n' "$line"
    if [ -z "$shown" ] && [[ $line =~ listening\ on\ port\ ([0-9]+) ]]; then
      shown=1
      local port=${BASH_REMATCH[1]}
      echo "Ctrl+C stops it. Try it from another terminal:"
      echo "  build/tools/quavix-remote 127.0.0.1:$port get"
      echo "  python3 -c \"import socket; s=socket.create_connection(('127.0.0.1', $port)); [print(hex(b)) for c in iter(lambda: s.recv(16), b'') for b in c]\""
      echo "(prints the greeting 0x19 0xc8 0xde 0x0, then one byte per volume change: bit 7 muted, bits 0-6 volume)"
    fi
  done
}
echo "Starting quavix-server."
set +e
"$server" | show_hints
status=${PIPESTATUS[0]}
set -e
exit "$status"
