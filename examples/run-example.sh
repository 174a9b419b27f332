#!/bin/sh
# Runs the example case unattended in a scratch folder beside the program:
#   examples/run-example.sh [build-folder]      (default: build)
# The editor and plotter commands are handed to "true" (COMSPEC=true), so
# nothing waits for a window; the files stay in <build-folder>/example-run.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
run="$build/example-run"
mkdir -p "$run"
cp "$here/entradas.txt" "$here/entrada_eq_elipticas.txt" "$here/malha.gnu" "$here/malha_cent.gnu" "$run/"
cd "$run"
COMSPEC=true "$build/malha"
echo "malha finished; the mesh files are in $run:"
ls -l "$run"
