#!/bin/sh
# The progress line of a long smoothing: never written when standard error is
# not a terminal; on a terminal shown after about a second (or the delay
# MALHA_PROGRESS_DELAY gives), rewritten in place with the pass, the time
# spent, the time left and the convergence figure (with --converge: the cycle,
# the time spent and the figure), and blanked at the end. The files are the
# same either way.
#   progress.sh PROGRAM
set -u
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"

# A smoothing of a second or so; MALHA_PROGRESS_DELAY=0 shows the line from
# the first pass on, so the line is there to look for however fast the
# machine is.
passes=300
prepare() {
  mkdir "$scratch/$1"
  printf '%s\n' long 400 200 2 1 >"$scratch/$1/entradas.txt"
  printf '%s\n' 1 "$passes" 0.0 1.0 1.0 0 0 >"$scratch/$1/entrada_eq_elipticas.txt"
}
export COMSPEC=true

# --- Standard error a file: not one byte, whatever the delay.
prepare file
cd "$scratch/file" || exit 1
MALHA_PROGRESS_DELAY=0 "$program" 2>"$scratch/stderr.txt"
check "with standard error in a file the run ends with status 0" [ $? -eq 0 ]
check "with standard error in a file nothing is written to it" [ ! -s "$scratch/stderr.txt" ]

if ! have_pty; then
  echo "no pseudo-terminal here: the checks of the progress line are skipped"
  finish
fi

# overwrites SCREEN: the lines a screen shows one after the other, the run
# summary and the status left out.
overwrites() {
  tr '\r' '\n' <"$1" | grep -v '^$' | grep -v '^status=' | grep -v '^malha: ' |
    grep -v '^       [^ ]'
}

# --- Standard error a terminal, 150 columns wide (the line fits the width).
prepare tty
on_pty "stty cols 150 2>/dev/null; cd '$scratch/tty' && MALHA_PROGRESS_DELAY=0 '$program'; echo status=\$?" >"$scratch/screen.txt"
screen=$(cat "$scratch/screen.txt")
check "on a terminal the run ends with status 0" contains "$screen" "status=0"
check "on a terminal the files are the same" cmp -s "$scratch/file/long.txt" "$scratch/tty/long.txt"
check "a line tells the pass, the time spent, the time left and the convergence figure" \
  grep -Eq "smoothing: pass [0-9]+ of $passes, [0-9]+:[0-9]{2} elapsed, about [0-9]+:[0-9]{2} left, move [0-9.]+E[-+][0-9]+ \([0-9.E+-]+% of min edge\)" \
  "$scratch/screen.txt"
# The screen as a series of overwrites: the last one before the status line
# is made of blanks only, as long as the longest line shown.
overwrites "$scratch/screen.txt" >"$scratch/lines.txt"
last=$(tail -n 1 "$scratch/lines.txt")
longest=$(awk '{ if (length($0) > n) n = length($0) } END { print n }' "$scratch/lines.txt")
check "the line is blanked at the end" [ -z "$(printf '%s' "$last" | tr -d ' ')" ]
check "the blanks cover the longest line" [ "${#last}" -eq "$longest" ]
check "the line is rewritten in place, never on a new line" \
  [ "$(grep -c 'smoothing: pass' "$scratch/screen.txt")" -eq 1 ]

# --- --converge: the cycles and the figure each reached, then blanked.
on_pty "stty cols 150 2>/dev/null; cd '$scratch/tty' && MALHA_PROGRESS_DELAY=0 '$program' --converge; echo status=\$?" >"$scratch/converge.txt"
check "--converge on a terminal ends with status 0" contains "$(cat "$scratch/converge.txt")" "status=0"
check "a line tells the cycle, the time spent and the figure the cycle reached" \
  grep -Eq "smoothing to convergence: cycle [0-9]+, [0-9]+:[0-9]{2} elapsed, move [0-9.]+E[-+][0-9]+ \([0-9.E+-]+% of min edge\)" \
  "$scratch/converge.txt"
check "with no delay the line shows from the starting mesh on" \
  grep -q "smoothing to convergence: cycle 0," "$scratch/converge.txt"
check "the cycle line is blanked at the end" \
  [ -z "$(overwrites "$scratch/converge.txt" | tail -n 1 | tr -d ' ')" ]

# --- Without MALHA_PROGRESS_DELAY a smoothing of far less than a second
# shows no line.
mkdir "$scratch/small"
printf '%s\n' small 40 20 2 1 >"$scratch/small/entradas.txt"
printf '%s\n' 1 30 0.0 1.0 1.0 0 0 >"$scratch/small/entrada_eq_elipticas.txt"
on_pty "cd '$scratch/small' && '$program' && '$program' --converge; echo status=\$?" >"$scratch/quiet.txt"
check "a short smoothing on a terminal ends with status 0" contains "$(cat "$scratch/quiet.txt")" "status=0"
check "a smoothing shorter than the default delay shows no line" \
  [ "$(grep -Ec "smoothing: pass|smoothing to convergence: cycle" "$scratch/quiet.txt")" -eq 0 ]

finish
