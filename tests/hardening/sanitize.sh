#!/usr/bin/env bash
# Builds the program and its tests with AddressSanitizer and
# UndefinedBehaviorSanitizer in a separate build directory and runs the suite
# there. A sanitizer finding ends the process that made it with a status no
# test expects, so it fails the test that ran it.
#
# usage: tests/hardening/sanitize.sh [build-dir]   (default: build-asan)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build-asan}

# The program relies on the hardware's floating-point traps (SIGFPE), not on
# checks for undefined behaviour: float-divide-by-zero stays off (it is not part
# of -fsanitize=undefined with either compiler, and is named here so that no
# later change of defaults turns it on).
flags="-fsanitize=address,undefined -fno-sanitize=float-divide-by-zero"
flags+=" -fno-sanitize-recover=all -fno-omit-frame-pointer -g"

cxx=${MALHA_SANITIZE_CXX:-}
if [[ -z $cxx ]]; then
  if command -v clang++ >/dev/null; then cxx=clang++; else cxx=g++; fi
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
log=$(mktemp)
trap 'rm -f "$log"' EXIT
cmake --build "$build" -j 2 >"$log" 2>&1 || { cat "$log"; exit 1; }

# exitcode: a finding ends the process with a status of its own, never the 1
# of the program's reports, which many tests expect. allocator_may_return_null:
# a request the allocator cannot meet returns null, as it does without the
# sanitizer, so the program's own report is what the tests see. Leak detection
# stays on.
export ASAN_OPTIONS=${ASAN_OPTIONS:-exitcode=86:allocator_may_return_null=1:detect_stack_use_after_return=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-exitcode=87:print_stacktrace=1:halt_on_error=1}
# Only the summary and the tests that fail are shown.
ctest --test-dir "$build" --output-on-failure -j 2 | grep -vE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed +[0-9.]+ sec$|^ *Start +[0-9]+:'
