#!/usr/bin/env bash
# The benchmark suite in one command: builds a release tree in build-bench/, measures the real
# quavix-server on a private PulseAudio (bench/system/SystemBench.cpp), runs the load and fault
# tests at full size, and writes docs/BENCHMARKS.md with docs/benchmarks/latency.png.
#   bash bench/system/run.sh                full run (10,000 clients, a 60 s idle minute): ~10 min
#   bash bench/system/run.sh --quick        up to 1,000 clients, 10 s idle, CI-sized fault tests
#   bash bench/system/run.sh --smoke BUILD  the programs of an existing build: 10 clients, one
#                                           change, a 1 s idle, one fault test of each kind; the
#                                           report goes to a temporary folder (bench/smoke.sh)
set -euo pipefail
cd "$(dirname "$0")/../.."
sizes=1,100,1000,10000
idle=60
idle_at=1000
more=()
full=1
prebuilt=0
tests='*'
command="bash bench/system/run.sh"
build=build-bench
out="$build/results"
markdown=docs/BENCHMARKS.md
png=docs/benchmarks/latency.png
case "${1:-}" in
  --quick)
    sizes=1,100,1000
    idle=10
    full=0
    command="$command --quick"
    ;;
  --smoke)
    build=${2:?usage: bash bench/system/run.sh --smoke BUILD}
    sizes=10
    idle=1
    idle_at=10
    more=(--rounds 1 --burst 10)
    full=0
    prebuilt=1
    tests='ClientFaults.EveryClientOfABurst*:RealServerFaults.AFrozenSoundServer*'
    command="$command --smoke"
    out=$(mktemp -d /tmp/quavix-bench-smoke.XXXXXX)
    trap 'rm -rf "$out"' EXIT
    markdown="$out/BENCHMARKS.md"
    png="$out/latency.png"
    ;;
esac
if [ "$prebuilt" = 0 ]; then
  [ "${QUAVIX_SKIP_DEPS:-0}" = 1 ] || bash scripts/install-deps.sh
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j2 --target quavix-server system_bench system_tests real_server_tests
  mkdir -p "$out" docs/benchmarks
fi
# 10,000 clients and the server's 10,000 connections need more than the usual 1,024.
ulimit -Sn "$(ulimit -Hn)"
# A client not greeted, a change lost or a failing fault test is reported in the document too,
# and fails the command at the end.
status=0
bash tests/fixtures/with-sound-server.sh "$build/bench/system/system_bench" \
  --server "$build/src/app/quavix-server" --out "$out/system.json" --sizes "$sizes" \
  --idle-seconds "$idle" --idle-at "$idle_at" "${more[@]}" | tee "$out/system.log" || status=1
QUAVIX_LOAD_FULL=$full QUAVIX_REQUIRE_SOUND_SERVER=1 bash tests/fixtures/with-sound-server.sh \
  bash -c "'$build/tests/system/system_tests' --gtest_filter='$tests'; a=\$?; \
           '$build/tests/system/real_server_tests' --gtest_filter='$tests'; b=\$?; \
           exit \$((a | b))" 2>&1 | tee "$out/load.log" || status=1
python3 bench/system/report.py "$out/system.json" "$out/load.log" "$markdown" "$png" "$command"
echo "Wrote $markdown and $png"
exit "$status"
