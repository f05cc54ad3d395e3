#!/usr/bin/env bash
# Installs what is needed, builds, and starts quavix-server.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${QUAVIX_SKIP_DEPS:-0}" = 1 ] || bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
if [ ! -x build/src/app/quavix-server ]; then
  echo "quavix-server is not built yet" >&2
  exit 1
fi
exec build/src/app/quavix-server
