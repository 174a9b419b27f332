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
