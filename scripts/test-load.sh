#!/usr/bin/env bash
# CI's load step, beside the three suites (which already run the load and fault tests at CI
# size): the client-bytes fuzz target under libFuzzer with ASan + UBSan for a bounded time.
#   scripts/test-load.sh            60 s of fuzzing (QUAVIX_FUZZ_SECONDS to change it)
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${QUAVIX_SKIP_DEPS:-0}" = 1 ] || bash scripts/install-deps.sh
bash scripts/fuzz.sh "${QUAVIX_FUZZ_SECONDS:-60}"
