#!/bin/sh
# tools/test, the README's test command, on machines it cannot see: every
# program it calls is a stand-in that records its call, and the machine (root
# or not, sudo or not, which packages are installed) is set per case.
#   test_command.sh SOURCE-FOLDER
set -u
source_dir=$(cd "$1" && pwd)
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"

stubs="$scratch/bin"
log="$scratch/calls.log"
mkdir "$stubs"
for tool in dirname grep env; do ln -s "$(command -v "$tool")" "$stubs/$tool"; done
# script NAME BODY: the stand-in NAME, a shell script.
script() {
  printf '#!/bin/sh\n%s\n' "$2" >"$stubs/$1"
  chmod +x "$stubs/$1"
}
# A program that records its call and ends with the status STUB_FAIL_<name>
# names (0 when unset).
for tool in cmake ctest make c++ gnuplot apt-get; do
  script "$tool" "echo \"$tool \$*\" >>'$log'; eval \"exit \\\${STUB_FAIL_$(echo "$tool" | tr -d '+-'):-0}\""
done
script id 'echo "$STUB_UID"'
# dpkg -s PACKAGE: installed when STUB_PACKAGES names it.
script dpkg 'case " $STUB_PACKAGES " in *" $2 "*) echo "Status: install ok installed" ;; *) exit 1 ;; esac'
script sudo "echo \"sudo \$*\" >>'$log'; exec \"\$@\""
optional="python3-numpy python3-scipy python3-gmsh python3-meshio python3-paraview xvfb xauth"
optional="$optional openfoam cgns-convert libcgns-dev"
all="libgtest-dev libgmock-dev $optional"
install_line="apt-get install -y -qq --no-install-recommends libgtest-dev libgmock-dev"
build_calls="cmake -S . -B build|cmake --build build -j 2|ctest --test-dir build --output-on-failure -j 2"

# run UID PACKAGES HIDDEN [VARIABLE=VALUE...]: tools/test on that machine,
# without the stand-ins HIDDEN names; the calls, joined by |, in $calls,
# what it printed in $said, its status in $status.
run() {
  uid=$1 packages=$2
  for tool in $3; do mv "$stubs/$tool" "$scratch/hidden-$tool"; done
  shift 3
  : >"$log"
  said=$(env -i PATH="$stubs" STUB_UID="$uid" STUB_PACKAGES="$packages" "$@" \
    /bin/sh "$source_dir/tools/test" 2>&1 </dev/null)
  status=$?
  calls=$(while read -r line; do printf '%s|' "$line"; done <"$log")
  calls=${calls%|}
  for hidden in "$scratch"/hidden-*; do
    [ -e "$hidden" ] && mv "$hidden" "$stubs/${hidden##*/hidden-}"
  done
}

# A machine a line: what it is; the user id; the packages installed; the
# stand-ins missing; VARIABLE=VALUE or -. Then what tools/test must do: its
# status (!0 for any failure); its calls joined by | (- for any, ~TEXT for
# calls holding TEXT); a part of what it prints (- for anything, nothing for
# nothing).
no_vtk=$(echo "$all" | sed "s/ python3-paraview//")
while IFS=';' read -r name uid packages hidden vars want_status want_calls want_said; do
  [ "$vars" = - ] && vars=
  # shellcheck disable=SC2086 # the variable, when there is one, is one word
  run "$uid" "$packages" "$hidden" $vars
  echo "--- $name: status $status"
  case $want_status in
    '!0') check "stops" [ "$status" -ne 0 ] ;;
    *) check "status $want_status" [ "$status" -eq "$want_status" ] ;;
  esac
  case $want_calls in
    -) ;;
    ~*) check "calls holding ${want_calls#\~}" contains "$calls" "${want_calls#\~}" ;;
    *) check "calls: ${want_calls:-none}" [ "$calls" = "$want_calls" ] ;;
  esac
  case $want_said in
    -) ;;
    '') check "says nothing" [ -z "$said" ] ;;
    *) check "says $want_said" contains "$said" "$want_said" ;;
  esac
done <<EOF
root, everything there;0;$all;;-;0;$build_calls;
root, GoogleTest missing;0;$optional;;-;0;apt-get update -qq|$install_line|$build_calls;tools/test: installing libgtest-dev libgmock-dev
user with sudo, GoogleTest missing;1000;$optional;;-;0;~sudo env DEBIAN_FRONTEND=noninteractive $install_line|$install_line|$build_calls;-
user without sudo, GoogleTest and cmake missing;1000;$optional;sudo cmake;-;!0;;    apt-get update && apt-get install -y --no-install-recommends cmake libgtest-dev libgmock-dev
root, the installation fails;0;;;STUB_FAIL_aptget=100;!0;apt-get update -qq;as root with:
root, no gnuplot and no VTK;0;$no_vtk;gnuplot;-;0;$build_calls;the tests that need gnuplot-nox python3-paraview report themselves skipped
root, no ParaView (what installing it costs);0;$no_vtk;;-;0;$build_calls;removes python3-vtk9 where it is installed
not Debian, no compiler;1000;;dpkg apt-get c++;-;!0;-;tools/test: needs c++
not Debian, the tools there (the configure tells about GoogleTest);1000;;dpkg apt-get;-;0;$build_calls;-
a failing test;0;$all;;STUB_FAIL_ctest=8;8;-;-
EOF

finish
