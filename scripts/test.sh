#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole test suite against a private sound server.
#   scripts/test.sh                      plain build in build/
#   scripts/test.sh --sanitize address   ASan + UBSan build in build-address/
#   scripts/test.sh --sanitize thread    TSan build in build-thread/
set -euo pipefail
cd "$(dirname "$0")/.."
sanitize=""
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize) sanitize="$2"; shift 2 ;;
    *) echo "usage: $0 [--sanitize address|thread]" >&2; exit 2 ;;
  esac
done
build="build${sanitize:+-$sanitize}"
[ "${QUAVIX_SKIP_DEPS:-0}" = 1 ] || bash scripts/install-deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUAVIX_SANITIZE="$sanitize" \
  -DBUILD_TESTING=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp:${TSAN_OPTIONS:-}"
# Tests that need the sound server fail (rather than skip) here: this command runs them all.
export QUAVIX_REQUIRE_SOUND_SERVER=1
# Likewise the announcement test, which needs avahi-daemon and (as root) network namespaces; it
# starts its own daemon with allow-interfaces set to a veth it made, never the system's.
export QUAVIX_REQUIRE_ANNOUNCE=1
# And the media tests, which start their own session bus and a real player (mpv) on it.
export QUAVIX_REQUIRE_PLAYER=1
bash tests/fixtures/with-sound-server.sh \
  ctest --test-dir "$build" --output-on-failure -j"$(nproc)" ${QUAVIX_CTEST_ARGS:-}
