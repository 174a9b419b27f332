#!/bin/sh
# The wgnuplot stand-in with the real gnuplot and no display: the example
# scripts render to PNG files without waiting, in a folder whose name holds
# blanks and a quote. Skipped (status 77) when gnuplot is not installed.
#   wgnuplot_png.sh STAND-IN-FOLDER EXAMPLES-FOLDER
set -u
tools=$(cd "$1" && pwd)
examples=$(cd "$2" && pwd)
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"

if ! command -v gnuplot >/dev/null 2>&1; then
  echo "gnuplot is not installed: nothing to render with"
  exit 77
fi
unset DISPLAY WAYLAND_DISPLAY

folder="$scratch/plots in 'here'"
mkdir "$folder"
cd "$folder" || exit 1
cp "$examples/malha.gnu" "$examples/malha_cent.gnu" .
# One square volume and its centroid, records as the program writes them.
printf '%s\r\n' "  0.0E+00  0.0E+00" "  1.0E+00  0.0E+00" "  1.0E+00  1.0E+00" \
  "  0.0E+00  1.0E+00" "  0.0E+00  0.0E+00" " " >malha.txt
printf '%s\r\n' "  5.0E-01  5.0E-01" >centroides.txt

for script in malha.gnu malha_cent.gnu; do
  png="$folder/${script%.gnu}.png"
  out=$(timeout 60 "$tools/wgnuplot" "$script" </dev/null 2>&1)
  check "$script ends with status 0 without waiting" [ $? -eq 0 ]
  check "gnuplot renders $script to a PNG file" is_png "$png"
  check "the path of $script's PNG is printed" contains "$out" "$png"
  check "gnuplot has nothing to complain about in $script" \
    [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ]
done

rm -f malha.txt
out=$(timeout 60 "$tools/wgnuplot" malha.gnu </dev/null 2>&1)
check "without its data the status is 0" [ $? -eq 0 ]
check "without its data no PNG file is left" [ ! -e "$folder/malha.png" ]
check "without its data it says so" contains "$out" "could not plot malha.gnu"

finish
