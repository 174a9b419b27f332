# Helpers for the shell tests; sourced, not run.

# A scratch folder, removed when the test ends.
scratch=$(mktemp -d -t malha-test.XXXXXX) || exit 1
trap 'rm -rf "$scratch"' EXIT

failures=0

# check DESCRIPTION COMMAND...: runs the command, counts a failure when it
# fails (and then returns 1).
check() {
  description=$1
  shift
  if "$@"; then
    echo "ok: $description"
  else
    echo "FAILED: $description"
    failures=$((failures + 1))
    return 1
  fi
}

# The status of the test: 1 if a check failed, else 0.
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
  fi
  exit 0
}

# contains TEXT PART: whether TEXT holds PART.
contains() {
  case "$1" in
    *"$2"*) return 0 ;;
  esac
  return 1
}

# Whether `script` can run a command on a pseudo-terminal here.
have_pty() {
  command -v script >/dev/null 2>&1 && script -qec 'test -t 0' /dev/null </dev/null >/dev/null 2>&1
}

# on_pty COMMAND: runs the shell command on a pseudo-terminal (standard input,
# output and error), with no input; what it prints goes to standard output.
on_pty() {
  script -qec "$1" /dev/null </dev/null
}

# A program that records its arguments, one per line after their count, in
# the file it was given as its first argument when made:
#   make_recorder PROGRAM LOG
make_recorder() {
  cat >"$1" <<RECORDER
#!/bin/sh
{ echo "\$#"; for arg in "\$@"; do printf '[%s]\n' "\$arg"; done; } >>'$2'
RECORDER
  chmod +x "$1"
}

# Whether the file begins with the PNG signature.
is_png() {
  [ "$(od -An -tx1 -N8 "$1" 2>/dev/null | tr -d ' \n')" = "89504e470d0a1a0a" ]
}
