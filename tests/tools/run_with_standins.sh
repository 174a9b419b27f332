#!/bin/sh
# Whole runs of the program with the stand-ins first on PATH and the default
# command interpreter: unattended (no terminal) the run goes through at once;
# on a terminal the editor gets every file the run shows, in order, each name
# as one argument, blanks and quotes included.
#   run_with_standins.sh PROGRAM STAND-IN-FOLDER EXAMPLES-FOLDER
set -u
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
tools=$(cd "$2" && pwd)
examples=$(cd "$3" && pwd)
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"

unset COMSPEC DISPLAY WAYLAND_DISPLAY VISUAL EDITOR
export PATH="$tools:$PATH"
log="$scratch/editor.log"
make_recorder "$scratch/editor" "$log"

# A small smoothed case with the nest files, named with a blank and a quote.
prepare() {
  rm -rf "$scratch/run"
  mkdir "$scratch/run"
  cp "$examples/malha.gnu" "$examples/malha_cent.gnu" "$scratch/run/"
  printf '%s\n' "'it''s a mesh'" 8 4 2 2 >"$scratch/run/entradas.txt"
  printf '%s\n' 2 5 0.0 1.0 1.0 0 0 >"$scratch/run/entrada_eq_elipticas.txt"
}

have_gnuplot=false
command -v gnuplot >/dev/null 2>&1 && have_gnuplot=true

# --- Unattended: no terminal, so the editor returns at once.
prepare
cd "$scratch/run" || exit 1
out=$(timeout 120 "$program" </dev/null 2>"$scratch/stderr.txt")
check "an unattended run ends with status 0" [ $? -eq 0 ]
check "it writes the mesh files" [ -s "it's a mesh_cent_fict.txt" ]
check "it writes the nest files" [ -s "it's a mesh_nest_area.txt" ]
if $have_gnuplot; then
  check "the mesh plot is a PNG file beside the data" is_png malha.png
  check "the centroid plot is a PNG file beside the data" is_png malha_cent.png
  check "their paths are printed" contains "$out" "$scratch/run/malha_cent.png"
  check "nothing goes to standard error" [ ! -s "$scratch/stderr.txt" ]
else
  check "the missing gnuplot is reported" contains "$(cat "$scratch/stderr.txt")" \
    "gnuplot is not installed"
fi

if ! have_pty; then
  echo "no pseudo-terminal here: the run with an editor is skipped"
  finish
fi

# --- On a terminal: the editor shows each file the run hands it.
prepare
export VISUAL="$scratch/editor"
on_pty "cd '$scratch/run' && timeout 120 '$program'; echo status=\$?" >"$scratch/pty.txt"
check "a run with the editor ends with status 0" contains "$(cat "$scratch/pty.txt")" "status=0"
expected=""
for name in entradas.txt entrada_eq_elipticas.txt "it's a mesh.txt" "it's a mesh_vert.txt" \
  "it's a mesh_vert_fict.txt" "it's a mesh_cent.txt" "it's a mesh_cent_fict.txt" \
  "it's a mesh_nest.txt" "it's a mesh_nest_conec.txt" "it's a mesh_nest_vert.txt" \
  "it's a mesh_nest_cent.txt" "it's a mesh_nest_area.txt"; do
  expected="$expected$(printf '1\n[%s]' "$name")
"
done
check "the editor gets the twelve files in order, each name as one argument" \
  [ "$(cat "$log")
" = "$expected" ]

finish
