#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/deps.sh
BUILD=${BUILD_DIR:-build}
JOBS=${JOBS:-$(nproc)}
# Every folder, even when the build folder was configured for a subset before (PW_FOLDERS is cached).
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPW_FOLDERS= >/dev/null
cmake --build "$BUILD" -j "$JOBS"
cd "$BUILD"
ctest --output-on-failure -j "$JOBS" --timeout 600
