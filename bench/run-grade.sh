#!/usr/bin/env bash
# What a run with --grade costs against the same run without it: whole
# process, user and system processor time and wall time, the runs of a case
# alternating between the variants.
#
#   G1  2000 x 1000, algebraic, no nest files     (the mesh files)
#   G2  2000 x 1000, algebraic, nest files        (all the files)
#   G3  1000 x 500, smoothed with --converge=1e-8, no nest files (the default
#       1e-10 is below what rounding lets a graded mesh of this size reach)
#   G4  400 x 200, smoothed by 500 passes of 1 sweep, no nest files
#
# Variants: "plain" (no option), "grade" (--grade, gamma = 2: products only)
# and "grade1.7" (--grade=1.7, whose powers take the program's log and exp).
#
# Usage: bench/run-grade.sh [runs] [cases]      (defaults: 5 runs; "G1 G2 G3 G4")
#
# Environment:
#   BUILD            build directory (default: build-bench in the repository);
#                    configured (Release) and built here when it holds no program
#   SCRATCH_PARENT   where the scratch folder is made (default: /dev/shm when it
#                    is there, so that the files go to memory)
#
# The table gives the median and the range (min-max) of each variant's runs;
# then, for each graded variant, the median and the range of the ratios of
# user time and of wall time over the pairs of runs (the graded run and the
# plain run of the same round). Needs GNU time (/usr/bin/time), whose times
# have a resolution of 10 ms.
set -euo pipefail

runs=${1:-5}
cases=${2:-"G1 G2 G3 G4"}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build-bench}

# shellcheck source=lib.sh
. "$root/bench/lib.sh"
release_build "$build" malha
bench_scratch malha-grade

# case -> "nx ny smoothing nest nsweep niter extra-option"
declare -A setup=(
  [G1]="2000 1000 1 1 1 1 -"
  [G2]="2000 1000 1 2 1 1 -"
  [G3]="1000 500 2 1 1 1 --converge=1e-8"
  [G4]="400 200 2 1 1 500 -"
)
variants="plain grade grade1.7"
declare -A option=([plain]="" [grade]="--grade" [grade1.7]="--grade=1.7")

lscpu_model=$(lscpu 2>/dev/null | sed -n 's/^Model name: *//p' | head -1)
echo "machine: ${lscpu_model:-unknown}, $(nproc) CPUs; load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "$runs runs per case and variant; scratch: $scratch"
printf '\n%-4s %-10s %-9s %-24s %-24s %s\n' case mesh variant \
  "user s: median (range)" "wall s: median (range)" "sys s: median"

for c in $cases; do
  read -r nx ny smoothing nest nsweep niter extra <<<"${setup[$c]}"
  for v in $variants; do
    mkdir -p "$scratch/$c/$v"
    printf '%s\n%d\n%d\n%d\n%d\n' "$c" "$nx" "$ny" "$smoothing" "$nest" >"$scratch/$c/$v/entradas.txt"
    printf '%d\n%d\n0.0\n1.0\n1.0\n0\n0\n' "$nsweep" "$niter" >"$scratch/$c/$v/entrada_eq_elipticas.txt"
    : >"$scratch/$c/$v.times"
  done
  for ((r = 1; r <= runs; r++)); do
    for v in $variants; do
      dir=$scratch/$c/$v
      args=()
      [[ $extra != - ]] && args+=("$extra")
      [[ -n ${option[$v]} ]] && args+=("${option[$v]}")
      find "$dir" -maxdepth 1 -name '*.txt' ! -name 'entrada*.txt' -delete
      (cd "$dir" && COMSPEC=true /usr/bin/time -f '%U %e %S' -o "$dir/time" \
        "$build/malha" "${args[@]}" >/dev/null 2>"$dir/stderr") ||
        { echo "run failed: $c $v: $(cat "$dir/stderr")" >&2; exit 1; }
      cat "$dir/time" >>"$scratch/$c/$v.times"
    done
  done
  for v in $variants; do
    read -r um ulo uhi < <(cut -d' ' -f1 "$scratch/$c/$v.times" | summary)
    read -r wm wlo whi < <(cut -d' ' -f2 "$scratch/$c/$v.times" | summary)
    read -r sm _ _ < <(cut -d' ' -f3 "$scratch/$c/$v.times" | summary)
    printf '%-4s %-10s %-9s %-24s %-24s %s\n' "$c" "${nx}x${ny}" "$v" \
      "$um ($ulo-$uhi)" "$wm ($wlo-$whi)" "$sm"
  done
  for v in grade grade1.7; do
    # Times of 0.00 s are read as 0.005 s, half the resolution.
    ratios() {
      paste -d' ' "$scratch/$c/$v.times" "$scratch/$c/plain.times" |
        awk -v f="$1" '{ a = $f; b = $(f + 3); printf "%.3f\n", (a > 0 ? a : 0.005) / (b > 0 ? b : 0.005) }' |
        summary
    }
    read -r rm rlo rhi < <(ratios 1)
    read -r qm qlo qhi < <(ratios 2)
    printf '%-4s %s/plain, pairs of runs: user %.3fx (%.3f-%.3fx), wall %.3fx (%.3f-%.3fx)\n' \
      "$c" "$v" "$rm" "$rlo" "$rhi" "$qm" "$qlo" "$qhi"
  done
  rm -rf "${scratch:?}/$c"
done
