#!/usr/bin/env bash
# Cross-builds the Windows program and its tests with mingw-w64 into build-windows/, then runs
# the tests and the checks of the real program under a headless Wine.
#   scripts/test-windows.sh
# QUAVIX_SKIP_DEPS=1 skips installing the cross compiler and Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-windows
[ "${QUAVIX_SKIP_DEPS:-0}" = 1 ] || QUAVIX_WITH_WINDOWS=1 bash scripts/install-deps.sh
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"
# One Wine session for everything (a fresh prefix boots in about 15 s), inside a private sound
# server so that Wine's audio driver finds a playback device for the real program.
export QUAVIX_WINDOWS_BUILD="$build"
bash tests/fixtures/with-sound-server.sh \
  bash tests/win32/fixtures/with-wine.sh "$build" bash -c '
    set -euo pipefail
    ctest --test-dir "$QUAVIX_WINDOWS_BUILD" --output-on-failure --timeout 300
    if [ -f "$QUAVIX_WINDOWS_BUILD/QuavixServer.exe" ]; then
      # The checks drive the program by window messages (window-driver.exe, built beside it)
      # and wait on conditions, so one run decides.
      # The system interpreter: the page check uses Debian python3-websocket.
      /usr/bin/python3 tests/win32/program-checks.py "$QUAVIX_WINDOWS_BUILD/QuavixServer.exe"
    fi
  '
