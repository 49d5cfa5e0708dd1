#!/usr/bin/env bash
# Installs what is missing, builds everything and starts the desktop program.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/deps.sh
BUILD=${BUILD_DIR:-build}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j "$(nproc)"
if [ -x "$BUILD/desktop/shell/PostwingUI" ]; then
  exec "$BUILD/desktop/shell/PostwingUI" "$@"
else
  echo "Everything that exists so far is built; the desktop program PostwingUI comes later."
fi
