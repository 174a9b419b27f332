#!/usr/bin/env bash
# Whole-process wall time and peak memory of the three benchmark cases, the
# program with its fast paths against the same program built with the plain
# reference paths only (-DMALHA_PLAIN=ON):
#
#   B1  smoothing in cache:      nx=400,  ny=200,  nsweep=1,  niter=500, no nest files
#   B2  output:                  nx=2000, ny=1000, no smoothing, nest files (about 1.5 GB)
#   B3  smoothing out of cache:  nx=1000, ny=500,  nsweep=10, niter=20,  no nest files
#   B4  many sweeps, small mesh: nx=40,   ny=20,   nsweep=20000, niter=5, no nest files
#   B5  control functions:       nx=400,  ny=200,  nsweep=5,  niter=200, --control, no nest files
#
# Usage: bench/run-cases.sh [runs] [cases]     (defaults: 5 runs; "B1 B2 B3 B4 B5")
#
# Environment:
#   BUILD_FAST, BUILD_PLAIN  build directories (default: build-bench and
#                            build-bench-plain in the repository); configured
#                            and built here when they hold no program yet
#   BUILD_BASE               optional: the build folder of another version of
#                            the program (say, before a change), run as "base"
#                            in the same alternation and compared the same way
#   SCRATCH_PARENT           where the scratch folder is made (default: /dev/shm
#                            when it is there, so that the files are written to
#                            memory; else $TMPDIR or /tmp); the folder is
#                            removed at the end
#
# Runs alternate between the two programs. The files of the first run of each
# program are compared byte for byte. The table gives the median and the
# range (min-max) of the runs, and peak memory against the bytes of the mesh
# state the case needs; then the speed-up, as the ratio of the medians and as
# the median and range of the ratios of the pairs of alternating runs. Needs
# GNU time (/usr/bin/time) for the peak memory.
set -euo pipefail

runs=${1:-5}
cases=${2:-"B1 B2 B3 B4 B5"}
root=$(cd "$(dirname "$0")/.." && pwd)
build_fast=${BUILD_FAST:-$root/build-bench}
build_plain=${BUILD_PLAIN:-$root/build-bench-plain}

build() {  # directory, extra cmake options...
  local dir=$1
  shift
  if [[ ! -x $dir/malha ]]; then
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DMALHA_BUILD_TESTS=OFF "$@" >/dev/null
  fi
  cmake --build "$dir" -j 2 --target malha >/dev/null
}
build "$build_fast" -DMALHA_PLAIN=OFF
build "$build_plain" -DMALHA_PLAIN=ON
variants="fast plain"
declare -A program=([fast]=$build_fast/malha [plain]=$build_plain/malha)
if [[ -n ${BUILD_BASE:-} ]]; then
  variants="base fast plain"
  program[base]=$BUILD_BASE/malha
fi

# shellcheck source=lib.sh
. "$root/bench/lib.sh"
bench_scratch malha-bench

# case name -> "nx ny opt_elliptic opt_nest nsweep niter"
declare -A setup=(
  [B1]="400 200 2 0 1 500"
  [B2]="2000 1000 0 2 0 0"
  [B3]="1000 500 2 0 10 20"
  [B4]="40 20 2 0 20000 5"
  [B5]="400 200 2 0 5 200"
)
# case name -> the program's options
declare -A options=([B5]="--control")

# Bytes of the mesh state a run allocates (the driver's groups A, B and C).
state_bytes() {  # nx ny opt_elliptic opt_nest
  local nx=$1 ny=$2 ell=$3 nest=$4
  local nvert=$(((nx + 1) * (ny + 1))) nvol=$((nx * ny)) nvolf=$(((nx + 2) * (ny + 2)))
  local bytes=$((2 * nvert * 8 + 3 * nvol * 8 + 2 * nvolf * 8 + 4 * nvol * 4 + 4 * nvolf * 4))
  ((ell == 2)) && bytes=$((bytes + 19 * nvert * 8))
  ((nest == 2)) && bytes=$((bytes + 4 * nvol * 4))
  echo "$bytes"
}


lscpu_model=$(lscpu 2>/dev/null | sed -n 's/^Model name: *//p' | head -1)
echo "machine: ${lscpu_model:-unknown}, $(nproc) CPUs; $runs runs per program and case"
echo "scratch: $scratch"
printf '\n%-4s %-6s %-26s %-24s %s\n' case build "wall s: median (min-max)" "peak MiB: median (min-max)" "peak/state"

for c in $cases; do
  read -r nx ny ell nest nsweep niter <<<"${setup[$c]}"
  read -r -a args <<<"${options[$c]:-}"
  for v in $variants; do
    mkdir -p "$scratch/$c/$v"
    printf '%s\n%d\n%d\n%d\n%d\n' "$c" "$nx" "$ny" "$ell" "$nest" >"$scratch/$c/$v/entradas.txt"
    printf '%d\n%d\n0.0\n1.0\n1.0\n0\n0\n' "$nsweep" "$niter" >"$scratch/$c/$v/entrada_eq_elipticas.txt"
  done
  for v in $variants; do : >"$scratch/$c/$v.times"; done
  for ((r = 1; r <= runs; r++)); do
    for v in $variants; do
      dir=$scratch/$c/$v
      exe=${program[$v]}
      # Every run starts without output files, as the first one does.
      find "$dir" -maxdepth 1 -name '*.txt' ! -name 'entrada*.txt' -delete
      # Wall time to the millisecond around the run; peak memory from GNU time.
      started=$(date +%s%N)
      (cd "$dir" && COMSPEC=true /usr/bin/time -f '%M' -o "$dir/time" "$exe" "${args[@]}" >/dev/null 2>"$dir/stderr")
      ended=$(date +%s%N)
      echo "$(((ended - started) / 1000000)) $(cat "$dir/time")" |
        awk '{ printf "%.3f %s\n", $1 / 1000, $2 }' >>"$scratch/$c/$v.times"
      if ((r == 1)) && [[ $v == plain ]]; then
        for f in "$scratch/$c/plain"/*.txt; do
          name=$(basename "$f")
          for w in $variants; do
            [[ $w == plain ]] && continue
            cmp -s "$f" "$scratch/$c/$w/$name" || echo "MISMATCH in $c ($w): $name" >&2
          done
        done
      fi
    done
    # The fast run's files are gone by now unless this was the first run;
    # keep the disk use of the large case down.
    [[ $c == B2 ]] && find "$scratch/$c" -name '*.txt' ! -name 'entrada*.txt' -delete
  done
  bytes=$(state_bytes "$nx" "$ny" "$ell" "$nest")
  declare -A median=()
  for v in $variants; do
    read -r tm tlo thi < <(cut -d' ' -f1 "$scratch/$c/$v.times" | summary)
    read -r mm mlo mhi < <(cut -d' ' -f2 "$scratch/$c/$v.times" | summary)
    median[$v]=$tm
    printf '%-4s %-6s %-26s %-24s %.2f\n' "$c" "$v" "$tm ($tlo-$thi)" \
      "$(awk -v a="$mm" -v b="$mlo" -v d="$mhi" 'BEGIN { printf "%.0f (%.0f-%.0f)", a / 1024, b / 1024, d / 1024 }')" \
      "$(awk -v m="$mm" -v s="$bytes" 'BEGIN { print m * 1024 / s }')"
  done
  for v in $variants; do
    [[ $v == plain ]] && continue
    # The ratio of each pair of alternating runs, plain over this program.
    read -r rm rlo rhi < <(paste -d' ' "$scratch/$c/plain.times" "$scratch/$c/$v.times" |
      awk '{ printf "%.3f\n", $1 / ($3 > 0 ? $3 : 0.005) }' | summary)
    awk -v p="${median[plain]}" -v f="${median[$v]}" -v c="$c" -v v="$v" -v rm="$rm" -v rlo="$rlo" -v rhi="$rhi" \
      'BEGIN { printf "%-4s %-6s speed-up of the medians: %.1fx; of the pairs of runs: %.1fx (%.1f-%.1fx)\n", c, v, p / f, rm, rlo, rhi }'
  done
  rm -rf "${scratch:?}/$c"
done
