# Shell functions the bench scripts share (sourced, not run).

# Median and range of a list of numbers on standard input: "median min max".
summary() {
  sort -g | awk '{ v[NR] = $1 } END {
    m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%s %s %s\n", m, v[1], v[NR] }'
}
