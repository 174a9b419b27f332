#!/bin/sh
# Runs under an address-space limit (ulimit -v), from the least with which the
# program starts at all up to more than enough: at every limit tried the run
# either ends with status 0 and the same files as a run without a limit, or
# with status 1 and the allocation report; never with a signal or another
# status. Two cases: a smoothing on two threads with many sweeps, and a large
# output (mesh and nest files). The least limit each case needs is found by
# bisection; the limits tried are those of the bisection, the ones just
# below and at that least limit, and some spread over the range below it.
#   memory_limit.sh PROGRAM
set -u
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
export COMSPEC=true

# Limits in KiB: the least one a case needs is looked for from the first
# that starts the program up to span_kib above it, to within resolution_kib.
span_kib=64000
resolution_kib=250
# Below that least limit, these many limits spread over the range.
spread=6

# prepare FOLDER NX NY ELLIPTIC NEST NSWEEP NITER (the case is named "m")
prepare() {
  mkdir -p "$scratch/$1"
  printf '%s\n' m "$2" "$3" "$4" "$5" >"$scratch/$1/entradas.txt"
  printf '%s\n' "$6" "$7" 0.0 1.0 1.0 0 0 >"$scratch/$1/entrada_eq_elipticas.txt"
}

# run_in FOLDER [LIMIT_KIB]: runs the program there; prints its status.
run_in() {
  (
    cd "$scratch/$1" || exit 125
    find . -name '*.txt' ! -name 'entrada*.txt' -exec rm -f {} +
    if [ $# -gt 1 ]; then ulimit -v "$2" || exit 125; fi
    exec "$program" >/dev/null 2>stderr.log
  )
  echo $?
}

# least PASSES LOW HIGH: sets found to the least limit in LOW..HIGH (KiB) for
# which the command PASSES LIMIT succeeds, to within resolution_kib, by
# bisection (the run needs more memory than a limit that fails); to HIGH + 1
# when none does.
least() {
  low=$2
  high=$3
  found=$((high + 1))
  "$1" "$high" || return 0
  while [ $((high - low)) -gt "$resolution_kib" ]; do
    middle=$(((low + high) / 2))
    if "$1" "$middle"; then high=$middle; else low=$middle; fi
  done
  found=$high
}

# The least limit with which a run of a tiny case ends with status 0 (the
# program, its libraries and a mesh of two volumes).
prepare tiny 2 1 0 0 1 0
tiny_passes() {
  [ "$(run_in tiny "$1")" = 0 ]
}
least tiny_passes 1000 262144
start=$found
if [ "$start" -gt 262144 ]; then
  # A sanitizer build reserves terabytes of address space up front.
  echo "the program does not start under a limit of 256 MiB: skipped"
  exit 77
fi
echo "the program starts under a limit of $start KiB"

# try NAME LIMIT: one run of the case under the limit, checked; counts it.
try() {
  status=$(run_in "$1" "$2")
  report=$(tr -d '\r' <"$scratch/$1/stderr.log")
  case $status in
    0)
      passed=$((passed + 1))
      for file in "$scratch/$1.ref"/*.txt; do
        base=$(basename "$file")
        case $base in entrada*) continue ;; esac
        check "$1 at $2 KiB: $base is the same" cmp -s "$file" "$scratch/$1/$base"
      done
      ;;
    1)
      reported=$((reported + 1))
      check "$1 at $2 KiB: status 1 comes with the allocation report" \
        contains "$report" "run-time error F6801: ALLOCATE("
      ;;
    *)
      check "$1 at $2 KiB: status $status (0 or 1 expected): $report" false
      ;;
  esac
  [ "$status" = 0 ]
}

for case in "smooth 120 60 2 0 40 3" "output 300 150 0 2 1 0"; do
  # shellcheck disable=SC2086
  set -- $case
  name=$1
  prepare "$name" "$2" "$3" "$4" "$5" "$6" "$7"
  prepare "$name.ref" "$2" "$3" "$4" "$5" "$6" "$7"
  check "$name: the run without a limit ends with status 0" [ "$(run_in "$name.ref")" = 0 ]
  passed=0
  reported=0
  case_passes() {
    try "$name" "$1"
  }
  least case_passes "$start" $((start + span_kib))
  need=$found
  for limit in $(seq "$start" $(((need - start) / spread + 1)) "$need") $((need - 1)) "$need" \
    $((need + 4000)); do
    case_passes "$limit"
  done
  echo "$name: $reported limits reported, $passed passed"
  check "$name: some limits are too low and some enough" test "$reported" -gt 0 -a "$passed" -gt 0
done
finish
