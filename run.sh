#!/usr/bin/env bash
# Installs what is missing, builds everything and starts the desktop program.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/deps.sh
BUILD=${BUILD_DIR:-build}
JOBS=${JOBS:-$(nproc)}
# Every folder, even when the build folder was configured for a subset before (PW_FOLDERS is cached).
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPW_FOLDERS= >/dev/null
cmake --build "$BUILD" -j "$JOBS"
if [ ! -x "$BUILD/desktop/shell/PostwingUI" ]; then
  echo "run.sh: $BUILD/desktop/shell/PostwingUI was not built" >&2
  exit 1
fi
exec "$BUILD/desktop/shell/PostwingUI" "$@"
