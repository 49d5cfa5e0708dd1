#!/usr/bin/env bash
# Builds the whole suite with sanitizers, in a build folder of its own, and runs it. The first
# finding ends the test program (no recovery); the suppressions in sanitize/ name outside
# libraries only.
#   scripts/sanitize.sh [address|thread] [ctest arguments...]
#     address (default): AddressSanitizer + UndefinedBehaviorSanitizer (and LeakSanitizer), build-asan
#     thread:            ThreadSanitizer, build-tsan
# e.g. scripts/sanitize.sh thread -L shell. SAN_BUILD_DIR and JOBS override the folder and the
# parallelism.
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-address}
[ $# -gt 0 ] && shift
case "$kind" in
  address|asan) sanitize=address,undefined; dir=build-asan ;;
  thread|tsan)  sanitize=thread;            dir=build-tsan ;;
  *) echo "usage: $0 [address|thread] [ctest arguments...]" >&2; exit 2 ;;
esac
BUILD=${SAN_BUILD_DIR:-$dir}
JOBS=${JOBS:-$(nproc)}
bash scripts/deps.sh
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Debug -DPW_SANITIZE="$sanitize" -DPW_FOLDERS= >/dev/null
cmake --build "$BUILD" -j "$JOBS"
cd "$BUILD"
ctest --output-on-failure -j "$JOBS" --timeout 600 "$@"
