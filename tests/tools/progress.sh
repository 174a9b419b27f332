#!/bin/sh
# The progress line of a long smoothing: never written when standard error is
# not a terminal; on a terminal shown after about a second, rewritten in place
# with the pass, the time spent, the time left and the convergence figure, and
# blanked at the end. The files are the same either way.
#   progress.sh PROGRAM
set -u
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"

# A smoothing of some seconds.
passes=3000
prepare() {
  mkdir "$scratch/$1"
  printf '%s\n' long 400 200 2 1 >"$scratch/$1/entradas.txt"
  printf '%s\n' 1 "$passes" 0.0 1.0 1.0 0 0 >"$scratch/$1/entrada_eq_elipticas.txt"
}
export COMSPEC=true

# --- Standard error a file: not one byte.
prepare file
cd "$scratch/file" || exit 1
"$program" 2>"$scratch/stderr.txt"
check "with standard error in a file the run ends with status 0" [ $? -eq 0 ]
check "with standard error in a file nothing is written to it" [ ! -s "$scratch/stderr.txt" ]

if ! have_pty; then
  echo "no pseudo-terminal here: the checks of the progress line are skipped"
  finish
fi

# --- Standard error a terminal, 150 columns wide (the line fits the width).
prepare tty
started=$(date +%s%N)
on_pty "stty cols 150 2>/dev/null; cd '$scratch/tty' && '$program'; echo status=\$?" >"$scratch/screen.txt"
milliseconds=$((($(date +%s%N) - started) / 1000000))
screen=$(cat "$scratch/screen.txt")
check "on a terminal the run ends with status 0" contains "$screen" "status=0"
check "on a terminal the files are the same" cmp -s "$scratch/file/long.txt" "$scratch/tty/long.txt"
if [ "$milliseconds" -lt 1500 ]; then
  echo "the run took less than 1.5 s: the line need not show, so it is not looked for"
else
  check "a line tells the pass, the time spent, the time left and the convergence figure" \
    grep -Eq "smoothing: pass [0-9]+ of $passes, [0-9]+:[0-9]{2} elapsed, about [0-9]+:[0-9]{2} left, move [0-9.]+E[-+][0-9]+ \([0-9.E+-]+% of min edge\)" \
    "$scratch/screen.txt"
  # The screen as a series of overwrites: the last one before the status line
  # is made of blanks only, as long as the longest line shown.
  # The run summary that follows it is left out.
  tr '\r' '\n' <"$scratch/screen.txt" | grep -v '^$' | grep -v '^status=' |
    grep -v '^malha: ' | grep -v '^       [^ ]' >"$scratch/lines.txt"
  last=$(tail -n 1 "$scratch/lines.txt")
  longest=$(awk '{ if (length($0) > n) n = length($0) } END { print n }' "$scratch/lines.txt")
  check "the line is blanked at the end" [ -z "$(printf '%s' "$last" | tr -d ' ')" ]
  check "the blanks cover the longest line" [ "${#last}" -eq "$longest" ]
  check "the line is rewritten in place, never on a new line" \
    [ "$(grep -c 'smoothing: pass' "$scratch/screen.txt")" -eq 1 ]
fi

finish
