#!/usr/bin/env bash
# Every benchmark once in its smoke mode (one small N, one change), with the programs of an
# existing build: nothing is compiled, and a benchmark that stops working fails CI. Each prints
# its own output, then a PASS or FAIL line with its time; each is bounded, so one that hangs
# fails too.
#   bash bench/smoke.sh [BUILD]     default build/ (scripts/test.sh's plain build)
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
server="$build/src/app/quavix-server"
sound=(bash tests/fixtures/with-sound-server.sh)
failed=()
run() {  # NAME COMMAND...
  local name=$1 start=$SECONDS
  shift
  if timeout --kill-after=10 60 "$@"; then
    echo "PASS bench $name ($((SECONDS - start)) s)"
  else
    echo "FAIL bench $name ($((SECONDS - start)) s)"
    failed+=("$name")
  fi
}
ulimit -Sn "$(ulimit -Hn)"
run net "$build/bench/net/net_bench" 10 20 1 10
run audio "${sound[@]}" "$build/bench/audio/audio_bench" 1 10
run system bash bench/system/run.sh --smoke "$build"
run idle "${sound[@]}" python3 bench/idle/wakeups.py "$server" 1
run page "${sound[@]}" python3 bench/page/page_bench.py "$server" --smoke
run peers bash bench/peers/run.sh --smoke "$build"
echo "bench smoke: $SECONDS s"
[ ${#failed[@]} -eq 0 ] || { echo "failed: ${failed[*]}"; exit 1; }
