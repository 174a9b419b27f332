#!/bin/sh
# The installed tree: the program alone in bin, the stand-ins in libexec, the
# example case, the manual page and the README; then the installed program run
# on the installed example, finding the installed stand-ins by itself.
#   install_tree.sh CMAKE BUILD-FOLDER
set -u
cmake=$1
build=$(cd "$2" && pwd)
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"

prefix="$scratch/prefix with blank"
"$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1
check "cmake --install succeeds" [ $? -eq 0 ] || cat "$scratch/install.log"

check "bin holds the two programs alone" [ "$(cd "$prefix/bin" && echo *)" = "malha malha-report" ]
check "the program is executable" [ -x "$prefix/bin/malha" ]
check "the report program is executable" [ -x "$prefix/bin/malha-report" ]
for standin in notepad wgnuplot; do
  check "$standin is in libexec/malha" [ -x "$prefix/libexec/malha/$standin" ]
done
check "libexec/malha holds the stand-ins alone" \
  [ "$(cd "$prefix/libexec/malha" && echo *)" = "notepad wgnuplot" ]
for example in entradas.txt entrada_eq_elipticas.txt malha.gnu malha_cent.gnu; do
  check "the example $example is installed" [ -s "$prefix/share/malha/examples/$example" ]
done
check "the manual page is installed" [ -s "$prefix/share/man/man1/malha.1" ]
check "the report's manual page is installed" [ -s "$prefix/share/man/man1/malha-report.1" ]
check "the README is installed" [ -s "$prefix/share/doc/malha/README.md" ]
check "the README's picture is installed beside it" is_png "$prefix/share/doc/malha/docs/example-mesh.png"
check "the quality map is installed beside it" is_png "$prefix/share/doc/malha/docs/quality-map.png"
check "the solver guide is installed" [ -s "$prefix/share/doc/malha/docs/solver-guide.md" ]
check "the guide to other programs is installed" [ -s "$prefix/share/doc/malha/docs/using-the-mesh.md" ]
for picture in solver-numbering solver-nonorthogonality solver-report-nonorthogonality solver-convergence \
    solver-grading solver-control; do
  check "the guide's picture $picture is installed beside it" \
    is_png "$prefix/share/doc/malha/docs/$picture.png"
done
check "the worked solver is installed" [ -x "$prefix/share/malha/solver/fvsolve.py" ]
check "the worked solver's reader is installed" [ -s "$prefix/share/malha/solver/malhafiles.py" ]
check "the finite-element reading is installed" [ -x "$prefix/share/malha/solver/fesolve.py" ]
check "the worked OpenFOAM case's script is installed" [ -x "$prefix/share/malha/openfoam/run-laplace.py" ]
check "the worked OpenFOAM case is installed" [ -s "$prefix/share/malha/openfoam/laplace/0/T" ]
check "the OpenFOAM study of the kinds of mesh is installed" [ -x "$prefix/share/malha/openfoam/laplace-study.py" ]
check "the worked flow case's script is installed" [ -x "$prefix/share/malha/openfoam/run-flow.py" ]
check "the worked flow case is installed" [ -s "$prefix/share/malha/openfoam/flow/0/U" ]
page="$prefix/share/man/man1/malha.1"
check "the installed manual page names the installation folder" \
  grep -qF "\\*(Pf/libexec/malha" "$page"
check "... as the folder it was installed under" grep -qxF ".ds Pf $prefix" "$page"
check "the manual page shows no placeholder for it" [ "$(grep -c PREFIX "$page")" -eq 0 ]
# Every document the installed README links to is installed beside it.
links=$(grep -o '](\([^)#:]*\))' "$prefix/share/doc/malha/README.md" | sed 's/^](//; s/)$//')
check "the README links to documents" [ -n "$links" ]
for link in $links; do
  check "the README's link $link points to an installed file" [ -s "$prefix/share/doc/malha/$link" ]
done
check "the manual pages name each other" eval \
  'grep -A1 "^.SH SEE ALSO" "$prefix/share/man/man1/malha.1" | grep -q "^.BR malha-report (1)" &&
   grep -A1 "^.SH SEE ALSO" "$prefix/share/man/man1/malha-report.1" | grep -q "^.BR malha (1)"'
if command -v groff >/dev/null 2>&1; then
  for page in malha malha-report; do
    groff -t -man -ww -z -Tutf8 "$prefix/share/man/man1/$page.1" >"$scratch/groff.log" 2>&1
    check "the manual page $page.1 formats without warnings" [ ! -s "$scratch/groff.log" ]
    # On terminals of any usual width (man passes the line length): a table
    # row may end exactly at a page end on one of them.
    width=80
    while [ "$width" -le 132 ]; do
      groff -t -man -ww -z -Tutf8 -rLL="${width}n" -rLT="${width}n" \
        "$prefix/share/man/man1/$page.1" >>"$scratch/groff.log" 2>&1
      width=$((width + 1))
    done
    check "... at every width from 80 to 132 columns" [ ! -s "$scratch/groff.log" ]
  done
fi

help=$("$prefix/bin/malha" --help)
check "the installed program's help names the installed example case" \
  contains "$help" "Example case: $prefix/share/malha/examples"
check "... and the installed stand-ins" contains "$help" "are installed in
    $prefix/libexec/malha
The installed program adds that folder to the end of the PATH"

# The example, as the manual tells it: the program finds the installed
# stand-ins by itself. No terminal, so the editor returns at once; the
# plotter writes PNG files or says gnuplot is missing.
mkdir "$scratch/try"
cp "$prefix/share/malha/examples/"* "$scratch/try/"
cd "$scratch/try" || exit 1
env -u COMSPEC -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/malha" </dev/null >/dev/null 2>run.err
check "the installed program runs the installed example" [ $? -eq 0 ]
check "... its commands find the stand-ins" [ "$(grep -c 'not found' run.err)" -eq 0 ]
check "... the plotter's among them" eval '[ -s malha_cent.png ] || grep -q gnuplot run.err'
check "... without a stand-in folder on the program's PATH" \
  [ "$(echo ":$PATH:" | grep -c ":$prefix/libexec/malha:")" -eq 0 ]
check "the example's mesh files are written" [ -s exemplo_cent_fict.txt ]
check "the example's nest files are written" [ -s exemplo_nest_area.txt ]
"$prefix/bin/malha-report" >report.txt 2>&1
check "the installed report program checks the example's files" \
  grep -q "files: 10 checked and consistent" report.txt

finish
