#!/usr/bin/env bash
# Whole-process wall time and peak memory of malha-report against malha on
# the same case: malha writes the files (starting without them, as a first
# run does), then malha-report reads, checks and measures them, alternating:
#
#   R1  2000 x 1000 volumes, no smoothing, nest files (every file of a case,
#       about 1.5 GB; the report reads the 0.9 GB that are the case's own)
#   R2  1000 x 500 volumes, smoothed (nsweep 10, niter 20), no nest files
#
# Usage: bench/run-report.sh [runs] [cases]     (defaults: 5 runs; "R1 R2")
#
# With EXPORTS set to options of malha-report (EXPORTS="--msh --vtu --foam
# --cgns"), each run also runs malha-report with each of them alone, in the
# same alternation, and a line per option gives what the export adds: the
# median over the runs of (report with the option - report alone), in wall
# and processor time and as a share of malha's median, and the peak memory
# over the report's.
#
# Environment:
#   BUILD           build directory (default: build-bench in the repository);
#                   configured and built here when it holds no programs yet
#   EXPORTS         options of malha-report to measure besides (see above)
#   SCRATCH_PARENT  where the scratch folder is made (default: $TMPDIR or
#                   /tmp); the folder is removed at the end
#
# The table gives the median and the range (min-max) of the runs: wall time,
# processor time (user + system, both threads) and peak resident memory.
# Needs GNU time (/usr/bin/time).
set -euo pipefail

runs=${1:-5}
cases=${2:-"R1 R2"}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build-bench}

# case name -> "nx ny opt_elliptic opt_nest nsweep niter"
declare -A setup=(
  [R1]="2000 1000 0 2 0 0"
  [R2]="1000 500 2 0 10 20"
)

# shellcheck source=lib.sh
. "$root/bench/lib.sh"
release_build "$build" malha malha-report
bench_scratch malha-report-bench

lscpu_model=$(lscpu 2>/dev/null | sed -n 's/^Model name: *//p' | head -1)
echo "machine: ${lscpu_model:-unknown}, $(nproc) CPUs; load $(cut -d' ' -f1-3 /proc/loadavg); $runs runs"
printf '\n%-4s %-14s %-26s %-26s %s\n' case program "wall s: median (min-max)" \
  "cpu s: median (min-max)" "peak MiB: median (min-max)"

for c in $cases; do
  read -r nx ny ell nest nsweep niter <<<"${setup[$c]}"
  dir=$scratch/$c
  mkdir -p "$dir"
  printf '%s\n%d\n%d\n%d\n%d\n' "$c" "$nx" "$ny" "$ell" "$nest" >"$dir/entradas.txt"
  printf '%d\n%d\n0.0\n1.0\n1.0\n0\n0\n' "$nsweep" "$niter" >"$dir/entrada_eq_elipticas.txt"
  : >"$dir/malha.times"
  : >"$dir/report.times"
  for e in ${EXPORTS:-}; do : >"$dir/report$e.times"; done
  for ((r = 1; r <= runs; r++)); do
    find "$dir" -maxdepth 1 -name '*.txt' ! -name 'entrada*.txt' -delete
    (cd "$dir" && COMSPEC=true /usr/bin/time -f '%e %M %U %S' -o "$dir/time" "$build/malha" \
      >/dev/null 2>"$dir/stderr")
    cat "$dir/time" >>"$dir/malha.times"
    (cd "$dir" && /usr/bin/time -f '%e %M %U %S' -o "$dir/time" "$build/malha-report" "$c" \
      >"$dir/report.txt" 2>"$dir/stderr") || { cat "$dir/stderr" >&2; exit 1; }
    cat "$dir/time" >>"$dir/report.times"
    for e in ${EXPORTS:-}; do
      (cd "$dir" && /usr/bin/time -f '%e %M %U %S' -o "$dir/time" "$build/malha-report" "$e" "$c" \
        >/dev/null 2>"$dir/stderr") || { cat "$dir/stderr" >&2; exit 1; }
      cat "$dir/time" >>"$dir/report$e.times"
      # The export goes; the case files (.txt) stay for the next.
      find "$dir" -maxdepth 1 -name "$c[._]*" ! -name '*.txt' -exec rm -rf {} +
    done
  done
  declare -A median=()
  for p in malha report; do
    read -r tm tlo thi < <(cut -d' ' -f1 "$dir/$p.times" | summary)
    read -r mm mlo mhi < <(cut -d' ' -f2 "$dir/$p.times" | summary)
    read -r cm clo chi < <(awk '{ print $3 + $4 }' "$dir/$p.times" | summary)
    median[$p]=$tm
    name=$p
    [[ $p == report ]] && name=malha-report
    printf '%-4s %-14s %-26s %-26s %s\n' "$c" "$name" "$tm ($tlo-$thi)" "$cm ($clo-$chi)" \
      "$(awk -v a="$mm" -v b="$mlo" -v d="$mhi" 'BEGIN { printf "%.0f (%.0f-%.0f)", a / 1024, b / 1024, d / 1024 }')"
  done
  awk -v m="${median[malha]}" -v r="${median[report]}" -v c="$c" \
    'BEGIN { printf "%-4s malha-report / malha, medians: %.2f\n", c, r / m }'
  read -r malha_cpu _ < <(awk '{ print $3 + $4 }' "$dir/malha.times" | summary)
  for e in ${EXPORTS:-}; do
    # Paired by run: the export's cost is what it adds to that run's report.
    read -r dw dlo dhi < <(paste -d' ' "$dir/report$e.times" "$dir/report.times" |
      awk '{ print $1 - $5 }' | summary)
    read -r dc clo chi < <(paste -d' ' "$dir/report$e.times" "$dir/report.times" |
      awk '{ print $3 + $4 - $7 - $8 }' | summary)
    read -r pm _ < <(paste -d' ' "$dir/report$e.times" "$dir/report.times" |
      awk '{ print $2 / $6 }' | summary)
    awk -v c="$c" -v e="$e" -v dw="$dw" -v dlo="$dlo" -v dhi="$dhi" -v dc="$dc" -v clo="$clo" \
      -v chi="$chi" -v mw="${median[malha]}" -v mc="$malha_cpu" -v pm="$pm" 'BEGIN {
        printf "%-4s %-14s adds wall %.2f s (%.2f-%.2f) = %.2f of malha, cpu %.2f s (%.2f-%.2f) = %.2f of malha; peak %.2f of the report\n",
          c, e, dw, dlo, dhi, dw / mw, dc, clo, chi, dc / mc, pm }'
  done
  rm -rf "${dir:?}"
done
