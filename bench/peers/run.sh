#!/usr/bin/env bash
# Our server against MPD on the same machine in one run: the peer harness in ../shared/peers
# (outside this repository) times a client's change reaching 10, 100 and 1,000 listening
# clients, for MPD and then for ours, and bench/peers/report.py writes the table into the
# "Against MPD" section of docs/BENCHMARKS.md.
#   bash bench/peers/run.sh                     builds build-bench/ and measures its server
#   bash bench/peers/run.sh --binary PATH       measures an already built quavix-server
#   bash bench/peers/run.sh --runs 3            three runs, one after the other (the machine's
#                                               load makes single runs noisy)
#   bash bench/peers/run.sh --smoke BUILD       BUILD's server, 10 clients, one change; the report
#                                               goes to a temporary copy (bench/smoke.sh). Says
#                                               in one line why it skips without harness or mpd.
# Exits 1 when a run lost a notification or could not measure one side.
set -euo pipefail
cd "$(dirname "$0")/../.."
invocation="bash bench/peers/run.sh${*:+ $*}"
# The harness sits beside the main checkout; a linked worktree finds it there too.
harness=${QUAVIX_PEERS:-../shared/peers}
if [ ! -f "$harness/peers.py" ] && [ -z "${QUAVIX_PEERS:-}" ]; then
  harness="$(git rev-parse --path-format=absolute --git-common-dir)/../../shared/peers"
fi
binary=""
runs=1
smoke=""
while [ $# -gt 0 ]; do
  case "$1" in
    --binary) binary="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --smoke) smoke=1; binary="$2/src/app/quavix-server"; shift 2 ;;
    *) echo "usage: bash bench/peers/run.sh [--binary PATH] [--runs N] [--smoke BUILD]" >&2
       exit 2 ;;
  esac
done
if [ ! -f "$harness/peers.py" ]; then
  if [ -n "$smoke" ]; then
    echo "bench/peers skipped: no peer harness at ../shared/peers (outside the repository)"
    exit 0
  fi
  echo "peer harness not found at ../shared/peers (set QUAVIX_PEERS to its folder)" >&2
  exit 2
fi

missing=""
for tool in mpd pulseaudio pactl; do command -v "$tool" >/dev/null || missing="$missing $tool"; done
if [ -n "$missing" ] && [ -n "$smoke" ]; then
  echo "bench/peers skipped: not installed:$missing (bench/peers/run.sh installs them)"
  exit 0
elif [ -n "$missing" ]; then
  echo "installing mpd, pulseaudio and pulseaudio-utils (missing:$missing)"
  sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq mpd pulseaudio pulseaudio-utils
fi
# Installing mpd enables its system service where systemd runs; the harness starts its own.
if command -v systemctl >/dev/null && systemctl is-active --quiet mpd 2>/dev/null; then
  echo "note: the system's mpd service is running; the harness uses its own instance" >&2
fi

if [ -z "$binary" ]; then
  build=build-bench
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j2 --target quavix-server
  binary="$build/src/app/quavix-server"
fi
harness=$(realpath --relative-to=. "$harness")
[ -x "$binary" ] || { echo "not an executable: $binary" >&2; exit 2; }

# 1,000 listeners and the server's 1,000 connections live in this process tree.
ulimit -Sn "$(ulimit -Hn)"
out=build-bench/peers
markdown=docs/BENCHMARKS.md
sizes=(--n 10,100,1000)
if [ -n "$smoke" ]; then
  out=$(mktemp -d /tmp/quavix-peers-smoke.XXXXXX)
  trap 'rm -rf "$out"' EXIT
  markdown="$out/BENCHMARKS.md"
  cp docs/BENCHMARKS.md "$markdown"
  sizes=(--n 10 --changes 1)
fi
rm -rf "$out"/run*
mkdir -p "$out"
# peers.py directly rather than run_peers.sh, which also insists on Snapcast's programs that
# this comparison does not start.
command=(python3 "$harness/peers.py" --peers mpd,ours --ours-binary "$binary" "${sizes[@]}"
         --ratios)
status=0
for run in $(seq 1 "$runs"); do
  dir="$out/run$run"
  mkdir -p "$dir"
  echo "run $run of $runs: ${command[*]}"
  "${command[@]}" --out "$dir/RESULTS.md" 2>&1 | tee "$dir/output.txt" || status=1
done
python3 bench/peers/report.py "$markdown" "$invocation" "${command[*]}" "$out"/run*/
echo "Wrote the \"Against MPD\" section of $markdown"
exit "$status"
