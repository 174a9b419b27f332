#!/bin/sh
# The warnings and the run summary: through a pipe standard error holds the
# warnings alone; on a terminal a short summary follows them. The files are
# the same either way.
#   summary.sh PROGRAM
set -u
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
export COMSPEC=true

# prepare FOLDER OPT_ELLIPTIC: the case "sum", 7 x 3 volumes, with nest files.
prepare() {
  mkdir "$scratch/$1"
  printf '%s\n' sum 7 3 "$2" 2 >"$scratch/$1/entradas.txt"
  printf '%s\n' 2 7 0.0 1.0 0.5 0 0 >"$scratch/$1/entrada_eq_elipticas.txt"
}
# shellcheck disable=SC2317 # called through check
has() { printf '%s\n' "$1" | grep -Eq "$2"; }
warning="malha: warning: nx = 7 is odd: the right end of the mesh leans beyond x = 1"

prepare pipe 2
piped=$(cd "$scratch/pipe" && "$program" 2>&1 >/dev/null | cat)
check "through a pipe: the warning" has "$piped" "^$warning"
check "... alone, on one line" [ "$(printf '%s\n' "$piped" | wc -l)" -eq 1 ]
have_pty || { echo "no pseudo-terminal here: the summary is not looked at"; finish; }

prepare tty 2
on_pty "cd '$scratch/tty' && '$program'" | tr -d '\r' >"$scratch/screen.txt"
check "on a terminal the warning comes first" has "$(head -n 1 "$scratch/screen.txt")" "^$warning"
# The summary with its wrapped lines joined, one line per part.
summary=$(tail -n +2 "$scratch/screen.txt" | sed 's/^       / /' | tr -d '\n' | sed 's/malha: /\n&/g')
check "the summary gives the case as read" has "$summary" \
  "^malha: case 'sum': nx = 7, ny = 3, nest files on, smoothing on \\(niter = 7, nsweep = 2, dksi = 1, deta = 0.5\\)$"
check "... the files with their sizes, and the time" has "$summary" \
  "^malha: wrote sum.txt [0-9.]+ kB, sum_\\*.txt: vert 882 B, .* nest_area $(wc -c <"$scratch/tty/sum_nest_area.txt") B, malha.txt .*; 12 files, [0-9.]+ kB, in [0-9.]+ s$"
check "... the cells" has "$summary" \
  '^malha: cells: area [0-9.E+-]+ to [0-9.E+-]+, corner angles within [0-9.]+ degrees of 90 at volume [0-9]+ \(i = [0-9]+, j = [0-9]+\); none inverted or concave$'
check "... the convergence figure" has "$summary" \
  '^malha: convergence: an update would still move vertex [0-9]+ by [0-9.]+E[-+][0-9]+, [0-9.E+-]+% of the shortest edge$'
for f in "$scratch/pipe"/*; do
  check "$(basename "$f") is the same as through the pipe" cmp -s "$f" "$scratch/tty/$(basename "$f")"
done

# The time is the run's own: the 14 commands, each kept open 0.3 s (an
# editor, a plot), count for nothing in it.
prepare slow 2
printf '#!/bin/sh\nsleep 0.3\n' >"$scratch/slow/wait" && chmod +x "$scratch/slow/wait"
on_pty "cd '$scratch/slow' && COMSPEC='$scratch/slow/wait' '$program'" | tr -d '\r' >"$scratch/screen.txt"
summary=$(tail -n +2 "$scratch/screen.txt" | sed 's/^       / /' | tr -d '\n' | sed 's/malha: /\n&/g')
check "the time leaves out the time the commands took" has "$summary" "; 12 files, [0-9.]+ kB, in 0\.[0-3][0-9]* s$"

prepare plain 0
screen=$(on_pty "cd '$scratch/plain' && '$program'" | tr -d '\r')
check "without smoothing: no convergence figure" [ "${screen#*convergence}" = "$screen" ]

# Smoothing to convergence: the summary says so, with the cycles and the figure reached.
prepare converge 2
on_pty "cd '$scratch/converge' && '$program' --converge=1e-9" | tr -d '\r' >"$scratch/screen.txt"
summary=$(tail -n +2 "$scratch/screen.txt" | sed 's/^       / /' | tr -d '\n' | sed 's/malha: /\n&/g')
check "--converge: the case says smoothing to convergence" has "$summary" \
  "^malha: case 'sum': nx = 7, ny = 3, nest files on, smoothing to convergence \\(tolerance 1E-09, dksi = 1, deta = 0.5\\)$"
check "... and the cycles and the figure reached" has "$summary" \
  '^malha: convergence: [0-9]+ multigrid cycles; an update would still move vertex [0-9]+ by [0-9.]+E[-+][0-9]+, [0-9.]+E-(09|1[0-9]) of the shortest edge$'
finish
