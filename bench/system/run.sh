#!/usr/bin/env bash
# The benchmark suite in one command: builds a release tree in build-bench/, measures the real
# quavix-server on a private PulseAudio (bench/system/SystemBench.cpp), runs the load and fault
# tests at full size, and writes docs/BENCHMARKS.md with docs/benchmarks/latency.png.
#   bash bench/system/run.sh           full run (10,000 clients, a 60 s idle minute): ~10 min
#   bash bench/system/run.sh --quick   up to 1,000 clients, 10 s idle, CI-sized fault tests
set -euo pipefail
cd "$(dirname "$0")/../.."
sizes=1,100,1000,10000
idle=60
full=1
command="bash bench/system/run.sh"
if [ "${1:-}" = "--quick" ]; then
  sizes=1,100,1000
  idle=10
  full=0
  command="$command --quick"
fi
[ "${QUAVIX_SKIP_DEPS:-0}" = 1 ] || bash scripts/install-deps.sh
# 10,000 clients and the server's 10,000 connections need more than the usual 1,024.
ulimit -Sn "$(ulimit -Hn)"
build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target quavix-server system_bench system_tests real_server_tests
out="$build/results"
mkdir -p "$out" docs/benchmarks
bash tests/fixtures/with-sound-server.sh "$build/bench/system/system_bench" \
  --server "$build/src/app/quavix-server" --out "$out/system.json" --sizes "$sizes" \
  --idle-seconds "$idle" | tee "$out/system.log"
# A failing fault test is reported in the document too, and fails the command at the end.
status=0
QUAVIX_LOAD_FULL=$full QUAVIX_REQUIRE_SOUND_SERVER=1 bash tests/fixtures/with-sound-server.sh \
  bash -c "'$build/tests/system/system_tests'; a=\$?; '$build/tests/system/real_server_tests'; \
           b=\$?; exit \$((a | b))" 2>&1 | tee "$out/load.log" || status=1
python3 bench/system/report.py "$out/system.json" "$out/load.log" docs/BENCHMARKS.md \
  docs/benchmarks/latency.png "$command"
echo "Wrote docs/BENCHMARKS.md and docs/benchmarks/latency.png"
exit "$status"
