#!/usr/bin/env bash
# Builds the fuzz targets with clang 19 (ASan + UBSan + libFuzzer) and runs
# them over their corpora in tui/fuzz/corpus/<target>/.
#
#   run.sh --once        each target once over its corpus (make test)
#   run.sh [SECONDS]     each target for SECONDS (default 60) from its corpus;
#                        new inputs go to tui/build/fuzz/found/<target>/, not
#                        into the tree
#   run.sh --merge       adds to each corpus in the tree the found inputs that
#                        reach code its inputs do not
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd -P)
build=$here/../build/fuzz
jobs=${JOBS:-2}
cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++-19 >/dev/null
cmake --build "$build" -j "$jobs" >/dev/null

asan=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
targets=()
for t in "$here"/*_fuzz.cpp; do targets+=("$(basename "$t" .cpp)"); done

status=0
for t in "${targets[@]}"; do
  corpus=$here/corpus/$t
  export ASAN_OPTIONS=$asan
  log=$build/$t.log
  if [ "${1:-}" = --merge ]; then
    mkdir -p "$build/found/$t"
    "$build/$t" -merge=1 "$corpus" "$build/found/$t" >"$log" 2>&1 || { tail -n 20 "$log"; status=1; }
    echo "fuzz $t: $(ls "$corpus" | wc -l) corpus inputs"
  elif [ "${1:-}" = --once ]; then
    if "$build/$t" -runs=0 "$corpus" >"$log" 2>&1; then
      echo "fuzz $t: $(ls "$corpus" | wc -l) corpus inputs pass"
    else
      echo "fuzz $t: FAILED (see $log)"; tail -n 30 "$log"; status=1
    fi
  else
    found=$build/found/$t
    mkdir -p "$found"
    if "$build/$t" -max_total_time="${1:-60}" -print_final_stats=1 -artifact_prefix="$build/$t-" \
        "$found" "$corpus" >"$log" 2>&1; then
      runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
      cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1)
      echo "fuzz $t: $runs runs, $cov"
    else
      echo "fuzz $t: FINDING (see $log)"; tail -n 40 "$log"; status=1
    fi
  fi
done
exit $status
