#!/usr/bin/env bash
# Smoothing to convergence (malha --converge) over four mesh sizes: whole-process
# wall time, user and system processor time and peak memory, against the same
# case's run without smoothing (the files alone), and the processor time per
# vertex (about constant when the time grows linearly with the mesh).
#
#   C1  200 x 100     C2  400 x 200     C3  1000 x 500     C4  2000 x 1000
#
# each to the default tolerance (1e-10), nest files off.
#
# Usage: bench/run-converge.sh [runs] [cases]   (defaults: 5 runs; "C1 C2 C3 C4")
#
# Environment:
#   BUILD            build directory (default: build-bench in the repository);
#                    configured (Release) and built here when it holds no program
#   SCRATCH_PARENT   where the scratch folder is made (default: /dev/shm when it
#                    is there, so that the files go to memory)
#
# Runs alternate between "--converge" and "smoothing off" for each case. The
# files of the first converged run are checked with malha-report's convergence
# figure (it must be at most the tolerance). The table gives the median and the
# range (min-max) of the runs; memory is compared by the medians, wall time by
# the median and range of the ratios of each pair of runs, and the smoothing's
# own cost is the difference of the median user times, per vertex. Needs GNU
# time (/usr/bin/time), whose times have a resolution of 10 ms.
set -euo pipefail

runs=${1:-5}
cases=${2:-"C1 C2 C3 C4"}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build-bench}

declare -A size=([C1]="200 100" [C2]="400 200" [C3]="1000 500" [C4]="2000 1000")

# shellcheck source=lib.sh
. "$root/bench/lib.sh"
release_build "$build" malha malha-report
bench_scratch malha-converge

lscpu_model=$(lscpu 2>/dev/null | sed -n 's/^Model name: *//p' | head -1)
echo "machine: ${lscpu_model:-unknown}, $(nproc) CPUs; load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "$runs runs per case and variant; scratch: $scratch"
printf '\n%-4s %-11s %-9s %-22s %-22s %-20s %-20s %s\n' case mesh variant \
  "wall s: median (range)" "user s: median (range)" "sys s: median" "peak MiB: median" "user ns/vertex"

for c in $cases; do
  read -r nx ny <<<"${size[$c]}"
  nvert=$(((nx + 1) * (ny + 1)))
  for v in converge off; do
    mkdir -p "$scratch/$c/$v"
    printf '%s\n%d\n%d\n%d\n1\n' "$c" "$nx" "$ny" "$([[ $v == converge ]] && echo 2 || echo 1)" \
      >"$scratch/$c/$v/entradas.txt"
    printf '1\n1\n0.0\n1.0\n1.0\n0\n0\n' >"$scratch/$c/$v/entrada_eq_elipticas.txt"
    : >"$scratch/$c/$v.times"
  done
  for ((r = 1; r <= runs; r++)); do
    for v in converge off; do
      dir=$scratch/$c/$v
      args=()
      [[ $v == converge ]] && args=(--converge)
      find "$dir" -maxdepth 1 -name '*.txt' ! -name 'entrada*.txt' -delete
      (cd "$dir" && COMSPEC=true /usr/bin/time -f '%e %U %S %M' -o "$dir/time" \
        "$build/malha" "${args[@]}" >/dev/null 2>"$dir/stderr") ||
        { echo "run failed: $c $v: $(cat "$dir/stderr")" >&2; exit 1; }
      cat "$dir/time" >>"$scratch/$c/$v.times"
      if ((r == 1)) && [[ $v == converge ]]; then
        figure=$(cd "$dir" && "$build/malha-report" "$c" |
          sed -n 's/^convergence: .*, \([0-9.eE+-]*\) times the shortest edge.*/\1/p')
        echo "$c: malha-report's convergence figure of the files: ${figure:-not found}"
      fi
    done
  done
  declare -A median=()
  for v in converge off; do
    read -r wm wlo whi < <(cut -d' ' -f1 "$scratch/$c/$v.times" | summary)
    read -r um ulo uhi < <(cut -d' ' -f2 "$scratch/$c/$v.times" | summary)
    read -r sm _ _ < <(cut -d' ' -f3 "$scratch/$c/$v.times" | summary)
    read -r mm _ _ < <(cut -d' ' -f4 "$scratch/$c/$v.times" | summary)
    median[$v.user]=$um
    median[$v.peak]=$mm
    printf '%-4s %-11s %-9s %-22s %-22s %-20s %-20s %s\n' "$c" "${nx}x${ny}" "$v" \
      "$wm ($wlo-$whi)" "$um ($ulo-$uhi)" "$sm" "$(awk -v m="$mm" 'BEGIN { printf "%.0f", m / 1024 }')" \
      "$(awk -v u="$um" -v n="$nvert" 'BEGIN { printf "%.0f", u * 1e9 / n }')"
  done
  read -r rm rlo rhi < <(paste -d' ' "$scratch/$c/converge.times" "$scratch/$c/off.times" |
    awk '{ printf "%.3f\n", $1 / ($5 > 0 ? $5 : 0.005) }' | summary)
  awk -v c="$c" -v pc="${median[converge.peak]}" -v po="${median[off.peak]}" \
    -v uc="${median[converge.user]}" -v uo="${median[off.user]}" -v n="$nvert" \
    -v rm="$rm" -v rlo="$rlo" -v rhi="$rhi" 'BEGIN {
      printf "%-4s converge/off: wall of the pairs of runs %.2fx (%.2f-%.2fx); peak memory %.2fx; ", \
        c, rm, rlo, rhi, pc / po
      printf "the smoothing'"'"'s user time (converge - off) %.0f ns per vertex\n", (uc - uo) * 1e9 / n }'
  rm -rf "${scratch:?}/$c"
done
