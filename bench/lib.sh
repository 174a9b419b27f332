# Shell functions the bench scripts share (sourced, not run).

# Median and range of a list of numbers on standard input: "median min max".
summary() {
  sort -g | awk '{ v[NR] = $1 } END {
    m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%s %s %s\n", m, v[1], v[NR] }'
}

# Where a bench makes its scratch folder: $SCRATCH_PARENT when set, else
# /dev/shm when it is there (the files then go to memory), else $TMPDIR or /tmp.
scratch_parent() {
  if [[ -n ${SCRATCH_PARENT:-} ]]; then
    echo "$SCRATCH_PARENT"
  elif [[ -d /dev/shm && -w /dev/shm ]]; then
    echo /dev/shm
  else
    echo "${TMPDIR:-/tmp}"
  fi
}

# release_build BUILD TARGET...: configures BUILD (Release, no tests) when it
# holds none of the programs yet, then builds the targets.
release_build() {
  local build=$1 target
  shift
  for target in "$@"; do
    if [[ ! -x $build/$target ]]; then
      cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMALHA_BUILD_TESTS=OFF >/dev/null
      break
    fi
  done
  cmake --build "$build" -j 2 --target "$@" >/dev/null
}

# bench_scratch NAME: a new scratch folder (removed at exit) in scratch_parent.
bench_scratch() {
  scratch=$(mktemp -d "$(scratch_parent)/$1-XXXXXX")
  trap 'rm -rf "$scratch"' EXIT
}
