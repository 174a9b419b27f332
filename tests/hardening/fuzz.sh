#!/usr/bin/env bash
# Builds the libFuzzer targets in fuzz/ (clang) and runs each for a bounded
# time over its seed corpus. A crash, a sanitizer finding, a hang (an input
# that runs longer than 5 s), a leak or a report of the wrong shape fails the
# run; the input that caused it is kept in <build-dir>/artifacts/<target>/.
# New inputs the fuzzer finds go to a scratch directory and are dropped; to
# keep one, copy it into fuzz/corpus/<target>/.
#
# usage: tests/hardening/fuzz.sh [build-dir] [seconds per target]
#        (defaults: build-fuzz, 60; all targets run side by side)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=${1:-build-fuzz}
seconds=${2:-60}
targets=(reader writer case report)

cmake -S fuzz -B "$build" -DCMAKE_CXX_COMPILER="${MALHA_FUZZ_CXX:-clang++}" >/dev/null
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake --build "$build" -j 2 >"$scratch/build.log" 2>&1 || { cat "$scratch/build.log"; exit 1; }
build_abs=$(cd "$build" && pwd)

pids=()
for t in "${targets[@]}"; do
  mkdir -p "$scratch/$t" "$build_abs/artifacts/$t"
  # Absolute paths: the targets work in a directory of their own.
  "$build_abs/fuzz_$t" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build_abs/artifacts/$t/" \
    "$scratch/$t" "$root/fuzz/corpus/$t" >"$scratch/$t.log" 2>&1 &
  pids+=($!)
done

status=0
for i in "${!targets[@]}"; do
  t=${targets[$i]}
  if wait "${pids[$i]}"; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/$t.log")
    echo "fuzz_$t: ${runs:-?} inputs in ${seconds} s, no finding"
  else
    status=1
    echo "fuzz_$t: FAILED; its log ends:"
    tail -n 60 "$scratch/$t.log"
    ls -l "$build_abs/artifacts/$t/"
  fi
done
exit $status
