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
# A program that records its call and ends with the status STUB_FAIL_<name>
# names (0 when unset).
stub() {
  cat >"$stubs/$1" <<STUB
#!/bin/sh
echo "$1 \$*" >>'$log'
eval "exit \\\${STUB_FAIL_$2:-0}"
STUB
  chmod +x "$stubs/$1"
}
for tool in cmake ctest make c++ gnuplot apt-get; do stub "$tool" "$(echo "$tool" | tr -d '+-')"; done
cat >"$stubs/id" <<'STUB'
#!/bin/sh
echo "$STUB_UID"
STUB
# dpkg -s PACKAGE: installed when STUB_PACKAGES names it.
cat >"$stubs/dpkg" <<'STUB'
#!/bin/sh
case " $STUB_PACKAGES " in *" $2 "*) echo 'Status: install ok installed' ;; *) exit 1 ;; esac
STUB
cat >"$stubs/sudo" <<STUB
#!/bin/sh
echo "sudo \$*" >>'$log'
exec "\$@"
STUB
chmod +x "$stubs/id" "$stubs/dpkg" "$stubs/sudo"
optional="python3-numpy python3-scipy python3-vtk9 python3-gmsh python3-meshio openfoam cgns-convert"
optional="$optional libcgns-dev python3-paraview xvfb xauth"
all="libgtest-dev libgmock-dev $optional"
install_line="apt-get install -y -qq --no-install-recommends libgtest-dev libgmock-dev"
build_calls="cmake -S . -B build|cmake --build build -j 2|ctest --test-dir build --output-on-failure -j 2"

# run NAME UID PACKAGES HIDDEN [VARIABLE=VALUE...]: tools/test on that machine,
# without the stand-ins HIDDEN names; the calls, joined by |, in $calls,
# what it printed in $said, its status in $status.
run() {
  name=$1 uid=$2 packages=$3
  for tool in $4; do mv "$stubs/$tool" "$scratch/hidden-$tool"; done
  shift 4
  : >"$log"
  said=$(env -i PATH="$stubs" STUB_UID="$uid" STUB_PACKAGES="$packages" "$@" \
    /bin/sh "$source_dir/tools/test" 2>&1)
  status=$?
  calls=$(while read -r line; do printf '%s|' "$line"; done <"$log")
  calls=${calls%|}
  for hidden in "$scratch"/hidden-*; do
    [ -e "$hidden" ] && mv "$hidden" "$stubs/${hidden##*/hidden-}"
  done
  echo "--- $name: status $status"
}

run "root, everything there" 0 "$all" ""
check "builds and tests straight away" [ "$calls" = "$build_calls" ]
check "... and says nothing about packages" [ -z "$said" ]

run "root, GoogleTest missing" 0 "$optional" ""
check "installs GoogleTest, then builds and tests" [ "$calls" = \
  "apt-get update -qq|$install_line|$build_calls" ]
check "... saying so" contains "$said" "tools/test: installing libgtest-dev libgmock-dev"

run "user with sudo, GoogleTest missing" 1000 "$optional" ""
check "installs through sudo" contains "$calls" \
  "sudo env DEBIAN_FRONTEND=noninteractive $install_line|$install_line|$build_calls"

run "user without sudo, GoogleTest and cmake missing" 1000 "$optional" "sudo cmake"
check "stops" [ "$status" -ne 0 ]
check "... having called nothing" [ -z "$calls" ]
check "... printing the exact command" contains "$said" \
  "    apt-get update && apt-get install -y --no-install-recommends cmake libgtest-dev libgmock-dev"

run "root, the installation fails" 0 "" "" STUB_FAIL_aptget=100
check "stops" [ "$status" -ne 0 ]
check "... before building" [ "$calls" = "apt-get update -qq" ]
check "... printing the command to run" contains "$said" "as root with:"

run "root, no gnuplot and no VTK" 0 "libgtest-dev libgmock-dev python3-numpy python3-scipy python3-gmsh python3-meshio openfoam cgns-convert libcgns-dev python3-paraview xvfb xauth" \
  "gnuplot"
check "builds and tests" [ "$calls" = "$build_calls" ]
check "... naming the packages of the skipped tests" contains "$said" \
  "the tests that need gnuplot-nox python3-vtk9 report themselves skipped"

run "not Debian, no compiler" 1000 "" "dpkg apt-get c++"
check "stops" [ "$status" -ne 0 ]
check "... saying what it needs" contains "$said" "tools/test: needs c++"

run "not Debian, the tools there" 1000 "" "dpkg apt-get"
check "builds and tests (the configure tells about GoogleTest)" [ "$calls" = "$build_calls" ]

run "a failing test" 0 "$all" "" STUB_FAIL_ctest=8
check "fails with CTest" [ "$status" -eq 8 ]

finish
