#!/bin/sh
# Runs under an address-space limit (ulimit -v), from the least with which the
# program starts at all up to more than enough: at every limit the run either
# ends with status 0 and the same files as a run without a limit, or with
# status 1 and the allocation report; never with a signal or another status.
# Two cases: a smoothing on two threads with many sweeps, and a large output
# (mesh and nest files).
#   memory_limit.sh PROGRAM
set -u
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
export COMSPEC=true

# Limits in KiB: from the first that starts the program, in steps of step_kib,
# span_kib in all.
step_kib=2000
span_kib=64000

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

# The least limit with which a run of a tiny case ends with status 0 (the
# program, its libraries and a mesh of two volumes).
prepare tiny 2 1 0 0 1 0
start=0
limit=2000
while [ "$limit" -le 262144 ]; do
  if [ "$(run_in tiny "$limit")" = 0 ]; then
    start=$limit
    break
  fi
  limit=$((limit + 1000))
done
if [ "$start" -eq 0 ]; then
  # A sanitizer build reserves terabytes of address space up front.
  echo "the program does not start under a limit of 256 MiB: skipped"
  exit 77
fi
echo "the program starts under a limit of $start KiB"

for case in "smooth 120 60 2 0 40 3" "output 300 150 0 2 1 0"; do
  # shellcheck disable=SC2086
  set -- $case
  name=$1
  prepare "$name" "$2" "$3" "$4" "$5" "$6" "$7"
  prepare "$name.ref" "$2" "$3" "$4" "$5" "$6" "$7"
  check "$name: the run without a limit ends with status 0" [ "$(run_in "$name.ref")" = 0 ]
  passed=0
  reported=0
  limit=$start
  while [ "$limit" -le $((start + span_kib)) ]; do
    status=$(run_in "$name" "$limit")
    report=$(tr -d '\r' <"$scratch/$name/stderr.log")
    case $status in
      0)
        passed=$((passed + 1))
        for file in "$scratch/$name.ref"/*.txt; do
          base=$(basename "$file")
          case $base in entrada*) continue ;; esac
          check "$name at $limit KiB: $base is the same" cmp -s "$file" "$scratch/$name/$base"
        done
        ;;
      1)
        reported=$((reported + 1))
        check "$name at $limit KiB: status 1 comes with the allocation report" \
          contains "$report" "run-time error F6801: ALLOCATE("
        ;;
      *)
        check "$name at $limit KiB: status $status (0 or 1 expected): $report" false
        ;;
    esac
    limit=$((limit + step_kib))
  done
  echo "$name: $reported limits reported, $passed passed"
  check "$name: some limits are too low and some enough" test "$reported" -gt 0 -a "$passed" -gt 0
done
finish
