#!/bin/sh
# The source tree configured as on a machine without GoogleTest: the
# configure succeeds with one line saying how to get it, both programs can be
# built, and CTest holds one test that fails saying the tests were not built.
#   configure_without_gtest.sh CMAKE CTEST SOURCE-FOLDER
set -u
cmake=$1
ctest=$2
source_dir=$3
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"

build="$scratch/build"
"$cmake" -S "$source_dir" -B "$build" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON >"$scratch/configure.log" 2>&1
check "the configure succeeds" [ $? -eq 0 ] || cat "$scratch/configure.log"
check "... with one line about GoogleTest" [ "$(grep -c GoogleTest "$scratch/configure.log")" -eq 1 ]
check "... saying how to get it" grep -q "GoogleTest not found: the tests are not built (Debian and Ubuntu: sudo apt-get install libgtest-dev libgmock-dev, or run tools/test" "$scratch/configure.log"
check "... and no warning or error" [ "$(grep -c -i -e warning -e error "$scratch/configure.log")" -eq 0 ]
targets=$("$cmake" --build "$build" --target help)
check "malha can be built" contains "$targets" "... malha"
check "malha-report can be built" contains "$targets" "... malha-report"
"$ctest" --test-dir "$build" >"$scratch/ctest.log" 2>&1
check "CTest fails" [ $? -ne 0 ]
check "... with the one test saying the tests were not built" \
  grep -q "tests_not_built .*Failed" "$scratch/ctest.log"
"$cmake" -S "$source_dir" -B "$scratch/off" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
  -DMALHA_BUILD_TESTS=OFF >"$scratch/off.log" 2>&1
check "with MALHA_BUILD_TESTS=OFF the configure is silent about GoogleTest" \
  [ "$(grep -c GoogleTest "$scratch/off.log")" -eq 0 ]
finish
