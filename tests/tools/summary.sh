#!/bin/sh
# The run summary and the warnings: on a terminal a completed run ends with a
# short summary on standard error; through a pipe or into a file nothing but
# the warnings is written there. The files are the same either way.
#   summary.sh PROGRAM
set -u
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
export COMSPEC=true

# prepare FOLDER NX OPT_ELLIPTIC: a case "sum" of NX x 3 volumes, with nest files.
prepare() {
  mkdir "$scratch/$1"
  printf '%s\n' sum "$2" 3 "$3" 2 >"$scratch/$1/entradas.txt"
  printf '%s\n' 2 7 0.0 1.0 0.5 0 0 >"$scratch/$1/entrada_eq_elipticas.txt"
}
# has TEXT PATTERN: whether a line of TEXT matches the extended expression.
# shellcheck disable=SC2317 # called through check
has() { printf '%s\n' "$1" | grep -Eq "$2"; }
warning="malha: warning: nx = 7 is odd: the right end of the mesh leans beyond x = 1"

for nx in 8 7; do
  # --- Standard error a pipe: no summary; the warning only for the odd nx.
  prepare "pipe$nx" "$nx" 2
  piped=$(cd "$scratch/pipe$nx" && "$program" 2>&1 >/dev/null | cat)
  if [ "$nx" -eq 8 ]; then
    check "nx = 8 through a pipe: nothing on standard error" [ -z "$piped" ]
  else
    check "nx = 7 through a pipe: the warning alone" [ "$piped" = "$warning${piped#"$warning"}" ]
    check "... on one line" [ "$(printf '%s\n' "$piped" | wc -l)" -eq 1 ]
  fi
  if ! have_pty; then
    echo "no pseudo-terminal here: the checks of the summary are skipped"
    continue
  fi

  # --- Standard error a terminal: the summary.
  prepare "tty$nx" "$nx" 2
  on_pty "cd '$scratch/tty$nx' && '$program'; echo status=\$?" | tr -d '\r' >"$scratch/screen$nx.txt"
  screen=$(cat "$scratch/screen$nx.txt")
  check "nx = $nx on a terminal: status 0" contains "$screen" "status=0"
  # The summary's lines as one text, wrapped lines joined.
  summary=$(grep -v '^malha: warning' "$scratch/screen$nx.txt" | grep -v '^status=' |
    sed 's/^       / /' | tr -d '\n' | sed 's/malha: /\n&/g')
  check "the summary gives the case as read" contains "$summary" \
    "malha: case 'sum': nx = $nx, ny = 3, nest files on, smoothing on (niter = 7, nsweep = 2, dksi = 1, deta = 0.5)"
  size=$(wc -c <"$scratch/tty$nx/sum.txt" | awk '{ printf "%.3g", $1 / 1000 }')
  area=$(wc -c <"$scratch/tty$nx/sum_nest_area.txt" | tr -d ' ')
  check "... the files with their sizes" has "$summary" \
    "^malha: wrote sum.txt $size kB, sum_\\*.txt: vert [0-9.]+ k?B, vert_fict .*, nest_area $area B, malha.txt [0-9.]+ kB, centroides.txt "
  check "... the number of files and the time" has "$summary" '; 12 files, [0-9.]+ kB, in [0-9]+\.[0-9]{2} s$'
  check "... the cells" has "$summary" '^malha: cells: area [0-9.e-]+ to [0-9.e-]+, corner angles within [0-9.]+ degrees of 90 at volume [0-9]+ \(i = [0-9]+, j = [0-9]+\); none folded$'
  check "... the convergence figure" has "$summary" \
    '^malha: convergence: an update would still move vertex [0-9]+ by [0-9.]+E[-+][0-9]+, [0-9.e-]+% of the shortest edge$'
  check "... in a few lines" [ "$(grep -c '^       \|^malha: ' "$scratch/screen$nx.txt")" -le 12 ]
  for f in "$scratch/pipe$nx"/*; do
    check "$(basename "$f") is the same as through the pipe" cmp -s "$f" "$scratch/tty$nx/$(basename "$f")"
  done
  [ "$nx" -eq 8 ] || check "the warning comes first on a terminal too" \
    [ "$(head -n 1 "$scratch/screen7.txt" | cut -c 1-${#warning})" = "$warning" ]
done

# --- Without smoothing: the summary says so and gives no convergence figure.
if have_pty; then
  prepare plain 8 0
  screen=$(on_pty "cd '$scratch/plain' && '$program'" | tr -d '\r')
  check "without smoothing the summary says so" contains "$screen" "nx = 8, ny = 3, nest files on, smoothing off"
  check "... and gives no convergence figure" [ "${screen#*convergence}" = "$screen" ]
fi

finish
