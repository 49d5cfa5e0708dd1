#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/, clang) in a build folder of its own and runs each for the
# given time on its seed corpus (fuzz/corpus/<target>/, kept in the tree). Inputs found on the way
# go to <build>/fuzz-corpus/<target>/ (the tree is never written); a crash, leak or time-out is
# saved as <build>/fuzz-artifacts/<target>-crash-... and fails the run; replay one with
#   <build>/fuzz/fuzz_<target> <file>
#   scripts/fuzz.sh [SECONDS] [target...]     (default 60 s; every target)
# FUZZ_BUILD_DIR (build-fuzz), FUZZ_JOBS (targets at once, default nproc) and JOBS (build
# parallelism) override. FUZZ_GROW=1 grows the seed corpus: after a run without a finding, the
# inputs that reach edges the seeds do not are merged into fuzz/corpus/<target>/ (libFuzzer's
# -set_cover_merge=1 on edges alone: every seed stays, and a small set of inputs that covers the
# rest is added, each named by its SHA-1).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
[ $# -gt 0 ] && shift
BUILD=${FUZZ_BUILD_DIR:-build-fuzz}
JOBS=${JOBS:-$(nproc)}
FUZZ_JOBS=${FUZZ_JOBS:-$(nproc)}
bash scripts/deps.sh
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPW_FUZZ=ON -DPW_FOLDERS= \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target pw_fuzzers
BUILD=$(cd "$BUILD" && pwd)

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for f in "$BUILD"/fuzz/fuzz_*; do [ -x "$f" ] && targets+=("$(basename "$f" | sed 's/^fuzz_//')"); done
fi

mkdir -p "$BUILD/fuzz-artifacts" "$BUILD/fuzz-logs"
run_one() {
  local t=$1
  local work="$BUILD/fuzz-corpus/$t"
  local seeds=("$root/fuzz/corpus/$t")
  local max_len=4096
  case "$t" in
    skin) seeds+=("$root/skin/xml" "$root/platform/duilib/tests/skin"); max_len=8192 ;;
  esac
  mkdir -p "$work"
  # The run's own folder, so that nothing a target writes lands in the tree.
  (cd "$BUILD/fuzz-logs" &&
   ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
   "$BUILD/fuzz/fuzz_$t" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
     -print_final_stats=1 -artifact_prefix="$BUILD/fuzz-artifacts/$t-" "$work" "${seeds[@]}" \
     >"$BUILD/fuzz-logs/$t.log" 2>&1)
  if [ "${FUZZ_GROW:-0}" = 1 ]; then
    # Merged into a copy of every seed folder of the target (the product skins too, so that what
    # they reach is not added again); only the files the merge adds go into the corpus.
    local grow="$BUILD/fuzz-grow/$t" i=0 s
    rm -rf "$grow"
    mkdir -p "$grow"
    for s in "${seeds[@]}"; do
      mkdir -p "$grow/seeds-$i"
      cp -R "$s/." "$grow/seeds-$i/"
      i=$((i + 1))
    done
    (cd "$BUILD/fuzz-logs" &&
     "$BUILD/fuzz/fuzz_$t" -set_cover_merge=1 -use_counters=0 -max_len="$max_len" -timeout=10 \
       -rss_limit_mb=2048 "$grow" "$work" >"$BUILD/fuzz-logs/$t.merge.log" 2>&1)
    find "$grow" -maxdepth 1 -type f -exec cp {} "$root/fuzz/corpus/$t/" \;
  fi
}

pids=()
names=()
failed=()
wait_for() {  # waits for the oldest running target
  local pid=${pids[0]} name=${names[0]}
  pids=("${pids[@]:1}")
  names=("${names[@]:1}")
  if wait "$pid"; then
    echo "fuzz $name: $(grep -m1 -E '^stat::number_of_executed_units' "$BUILD/fuzz-logs/$name.log" | awk '{print $2}') runs, no finding"
  else
    failed+=("$name")
    echo "fuzz $name: FAILED (log $BUILD/fuzz-logs/$name.log)"
  fi
}
echo "Fuzzing ${#targets[@]} targets for ${seconds} s each, ${FUZZ_JOBS} at a time"
for t in "${targets[@]}"; do
  [ -x "$BUILD/fuzz/fuzz_$t" ] || { echo "no fuzz target $t" >&2; exit 2; }
  [ ${#pids[@]} -ge "$FUZZ_JOBS" ] && wait_for
  run_one "$t" &
  pids+=($!)
  names+=("$t")
done
while [ ${#pids[@]} -gt 0 ]; do wait_for; done

if [ ${#failed[@]} -gt 0 ]; then
  for t in "${failed[@]}"; do
    echo "==== $t ===="
    tail -n 60 "$BUILD/fuzz-logs/$t.log"
  done
  echo "Fuzz targets with findings: ${failed[*]} (inputs in $BUILD/fuzz-artifacts/)"
  exit 1
fi
echo "Every fuzz target ran ${seconds} s without a finding"
