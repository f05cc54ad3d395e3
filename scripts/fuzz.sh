#!/usr/bin/env bash
# Builds the libFuzzer target with clang under ASan + UBSan (in build-fuzz/) and runs it for a
# bounded time on the stored corpus.
#   scripts/fuzz.sh [SECONDS]     default 60
# New inputs go to build-fuzz/corpus; a crashing input is saved in build-fuzz/artifacts and
# the script fails.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUAVIX_SANITIZE=address -DQUAVIX_FUZZ=ON \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link" \
  >/dev/null
cmake --build "$build" -j2 --target client_bytes_fuzzer
mkdir -p "$build/corpus" "$build/artifacts"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
"$build/tests/fuzz/client_bytes_fuzzer" -max_total_time="$seconds" -max_len=512 -timeout=30 \
  -print_final_stats=1 -artifact_prefix="$build/artifacts/" \
  "$build/corpus" tests/fuzz/corpus
