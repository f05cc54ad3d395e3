# Sourced by scripts/run.sh and tests/fixtures/with-sound-server.sh.
# start_private_pulse DIR SINK...: starts a PulseAudio daemon of our own with a null sink per
# SINK (the first becomes the default), its logs in DIR, reachable through the caller's
# PULSE_RUNTIME_PATH. Sets private_pulse_pid. On failure stops the daemon, prints its logs and
# returns 1.
start_private_pulse() {
  local dir=$1
  shift
  local loads=()
  for sink in "$@"; do loads+=(--load="module-null-sink sink_name=$sink"); done
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit "${loads[@]}" \
    --load=module-native-protocol-unix \
    --log-target=file:"$dir/pulse.log" >"$dir/pulse.out" 2>&1 &
  private_pulse_pid=$!
  for _ in $(seq 100); do
    pactl info >/dev/null 2>&1 && break
    kill -0 "$private_pulse_pid" 2>/dev/null || break
    sleep 0.1
  done
  if ! pactl info >/dev/null 2>&1; then
    echo "The private PulseAudio did not start:" >&2
    kill "$private_pulse_pid" 2>/dev/null
    wait "$private_pulse_pid" 2>/dev/null
    cat "$dir/pulse.out" "$dir/pulse.log" >&2 2>/dev/null
    return 1
  fi
  pactl set-default-sink "$1"
}
