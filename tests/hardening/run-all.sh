#!/usr/bin/env bash
# The hardening stage: the test suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the fuzz targets for a bounded time, and static
# analysis. Runs every part and fails if any part fails.
#
# usage: tests/hardening/run-all.sh [seconds per fuzz target]   (default 60)
set -uo pipefail
cd "$(dirname "$0")/../.."
here=tests/hardening
seconds=${1:-60}

status=0
part() {
  local name=$1
  shift
  local start=$SECONDS
  echo "=== hardening: $name"
  if "$@"; then
    echo "=== hardening: $name passed ($((SECONDS - start)) s)"
  else
    echo "=== hardening: $name FAILED ($((SECONDS - start)) s)"
    status=1
  fi
}

part "sanitizers" bash "$here/sanitize.sh" build-asan
part "fuzzing" bash "$here/fuzz.sh" build-fuzz "$seconds"
part "static analysis" bash "$here/static-analysis.sh" build-tidy
exit $status
