#!/usr/bin/env bash
# The Windows build, tested under wine against the Linux build.
#
#   tests/windows/run-wine-tests.sh [linux-build-dir] [windows-build-dir]
#
# (defaults: build and build-mingw-tests, relative to the repository root; the
# second is a build of tests/windows, not of the top folder). Installs
# the MinGW-w64 cross compiler and wine when they are missing, builds malha
# for Linux (target malha only) and, with cmake/mingw-w64-x86_64.cmake,
# malha.exe with its two test helpers (tests/windows/CMakeLists.txt); then
# runs in a throw-away wine prefix:
#   - every golden case under tests/golden and the shipped example, with the
#     .exe and with the Linux program: the same files byte for byte, the same
#     exit status and standard error, the same commands handed to the
#     interpreter (a recording stand-in on both sides);
#   - floating-point faults in a run: the same report and status;
#   - graded meshes (--grade): the same files for several exponents;
#   - case names: a name with blanks quoted for cmd.exe, a name typed in
#     UTF-8, and the names Windows cannot use as file names rejected;
#   - malha-report.exe against the Linux malha-report on the same files (the
#     report, the JSON, the exports), on the UTF-8 case name, and a table of
#     names a shell or cmd.exe treats specially: each reaches gnuplot and
#     notepad (recording stand-ins, through cmd.exe) as one argument;
#   - input files as Windows editors save them (a byte-order mark, a long
#     case name), and an input file that is no regular file;
#   - two runs in one folder: the second is refused while the first works;
#   - the platform layer through platform_probe.exe: each trap's report and
#     status, the launcher's limits, file sharing and access fallbacks, the
#     kinds of file no input may be.
# Prints "wine: N passed, M failed" and exits non-zero when anything failed.
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1
root=$PWD
linux_build=$(realpath -m "${1:-build}")
win_build=$(realpath -m "${2:-build-mingw-tests}")
started=$SECONDS

die() {
  echo "wine: $*" >&2
  echo "wine: 0 passed, 1 failed"
  exit 1
}

# Runs a set-up step quietly; shows its output when it fails.
quietly() {
  local log
  log=$(mktemp)
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    die "set-up step failed: $*"
  fi
  rm -f "$log"
}

# ---------------------------------------------------------------------------
# Tools and builds.

packages=(g++-mingw-w64-x86-64-posix wine wine64)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "wine: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  quietly apt-get update -qq
  quietly apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [[ ! -f $linux_build/CMakeCache.txt ]]; then
  quietly cmake -S . -B "$linux_build" -DMALHA_BUILD_TESTS=OFF
fi
quietly cmake --build "$linux_build" -j 2 --target malha malha-report
quietly cmake -S tests/windows -B "$win_build" --toolchain "$root/cmake/mingw-w64-x86_64.cmake"
quietly cmake --build "$win_build" -j 2
linux_exe=$linux_build/malha
win_exe=$win_build/malha.exe
linux_report=$linux_build/malha-report
win_report=$win_build/malha-report.exe
probe_exe=$win_build/platform_probe.exe
echo "wine: built in $((SECONDS - started)) s"

# ---------------------------------------------------------------------------
# A fresh, quiet, headless wine prefix.

work=$(mktemp -d "${TMPDIR:-/tmp}/malha-wine.XXXXXX")
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
stop_wine() {
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
}
cleanup() {
  stop_wine
  rm -rf "$work"
}
trap cleanup EXIT

# No crash debugger: an unhandled exception ends the process with the
# exception code as its status. No ComSpec in the registry: wine puts the
# registry's value over the one from the Linux environment, so without it each
# run gets the COMSPEC this script gives it, or none.
cat >"$work/setup.reg" <<'EOF'
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Debugger"=""

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Session Manager\Environment]
"ComSpec"=-
EOF
# A first start of wine now and then fails to load its own DLLs; start over
# with a new prefix then.
for attempt in 1 2 3; do
  if timeout -k 5 120 wineboot -i >"$work/wineboot.log" 2>&1 &&
    timeout -k 5 60 wine regedit /S "$work/setup.reg" >>"$work/wineboot.log" 2>&1; then
    break
  fi
  echo "wine: setting up the prefix failed (attempt $attempt):"
  sed 's/^/  /' "$work/wineboot.log"
  stop_wine
  rm -rf "$WINEPREFIX"
  ((attempt < 3)) || die "no working wine prefix"
  sleep 1
done
# One server for the whole stage: left alone, it ends a few seconds after the
# last program, and a program that starts just then can lose its connection.
timeout -k 5 60 wineserver -w
wineserver -p || die "cannot start a persistent wine server"
echo "wine: prefix ready at $((SECONDS - started)) s"

# ---------------------------------------------------------------------------
# Running the two programs.

# Every Windows program run here ends within seconds; one that has not ended
# after $limit s is stopped (status 124) and counted, and after three of those
# the stage stops instead of waiting through every remaining run.
limit=20
hangs=0
note_status() {  # STATUS-FILE: counts a run that had to be stopped
  if [[ $(cat "$1") == 124 ]]; then
    hangs=$((hangs + 1))
    problem "did not end within $limit s (stopped)"
  fi
}

# The Windows form of an absolute Linux path (wine maps / to drive Z:).
winpath() { printf 'Z:%s' "${1//\//\\}"; }

bin=$work/bin
mkdir -p "$bin"
cp "$win_build/record_command.exe" "$bin/"
recorder_win=$(winpath "$bin/record_command.exe")
# The Linux launcher calls its interpreter as: interpreter -c "command text".
cat >"$bin/record-command.sh" <<'EOF'
#!/bin/sh
printf '%s\n' "$2" >>"$RECORD_COMMAND_LOG"
EOF
chmod +x "$bin/record-command.sh"

# The arguments both programs get in run_linux and run_windows (none unless a
# test sets them).
run_args=()

# run_linux DIR: runs the Linux program in DIR; leaves DIR.status, DIR.stderr
# and DIR.commands (one command text per line) beside DIR.
run_linux() {
  local dir=$1
  : >"$dir.commands"
  (cd "$dir" && COMSPEC=$bin/record-command.sh RECORD_COMMAND_LOG=$dir.commands \
    timeout -k 5 "$limit" "$linux_exe" "${run_args[@]}" </dev/null >/dev/null 2>"$dir.stderr")
  echo $? >"$dir.status"
  note_status "$dir.status"
}

# run_windows DIR [COMSPEC]: the same with malha.exe under wine. The
# interpreter is the recording stand-in unless a COMSPEC is given ("" for
# none); DIR.commands gets the command texts after "<interpreter> /c ", and
# any line the stand-in got without that prefix as "UNEXPECTED: <line>"
# (without a COMSPEC, the lines that stand-ins in DIR logged).
run_windows() {
  local dir=$1 comspec=${2-$recorder_win}
  : >"$dir.log"
  (
    cd "$dir" || exit 125
    if [[ -n $comspec ]]; then export COMSPEC=$comspec; else unset COMSPEC; fi
    RECORD_COMMAND_LOG=$(winpath "$dir.log") timeout -k 5 "$limit" wine "$win_exe" \
      "${run_args[@]}" </dev/null >/dev/null 2>"$dir.stderr"
  )
  echo $? >"$dir.status"
  note_status "$dir.status"
  if [[ -z $comspec ]]; then
    cp "$dir.log" "$dir.commands"
    return
  fi
  PREFIX="$comspec /c " awk '{
      if (index($0, ENVIRON["PREFIX"]) == 1)
        print substr($0, length(ENVIRON["PREFIX"]) + 1)
      else
        print "UNEXPECTED: " $0
    }' "$dir.log" >"$dir.commands"
}

# ---------------------------------------------------------------------------
# Checks. Each test collects its problems with `problem`; `conclude` counts it.

passed=0
failed=0
problems=()
problem() { problems+=("$*"); }
conclude() {
  local name=$1
  if ((${#problems[@]} == 0)); then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $name"
    printf '  %s\n' "${problems[@]}"
  fi
  problems=()
  if ((hangs >= 3)); then
    echo "wine: $hangs runs did not end; the remaining tests are not run"
    echo "wine: $passed passed, $failed failed"
    exit 1
  fi
}

# same_run LIN WIN [COMMANDS]: both runs ended alike and wrote the same files;
# the commands are the Linux ones, or those in the file COMMANDS.
same_run() {
  local lin=$1 win=$2 commands=${3:-$1.commands}
  [[ $(cat "$lin.status") == "$(cat "$win.status")" ]] ||
    problem "exit status: Linux $(cat "$lin.status"), Windows $(cat "$win.status")"
  cmp -s "$lin.stderr" "$win.stderr" ||
    problem "standard error differs: Linux $(od -c "$lin.stderr" | head -3 | tr -s ' ') / Windows $(od -c "$win.stderr" | head -3 | tr -s ' ')"
  local lin_files win_files
  lin_files=$(cd "$lin" && ls -A)
  win_files=$(cd "$win" && ls -A)
  [[ $lin_files == "$win_files" ]] ||
    problem "different files: $(diff <(echo "$lin_files") <(echo "$win_files") | grep '^[<>]' | tr '\n' ' ')"
  local f
  while IFS= read -r f; do
    [[ -f $win/$f ]] && ! cmp -s "$lin/$f" "$win/$f" && problem "$f differs: $(cmp "$lin/$f" "$win/$f" 2>&1)"
  done <<<"$lin_files"
  cmp -s "$commands" "$win.commands" ||
    problem "commands differ: $(diff "$commands" "$win.commands" | grep '^[<>]' | head -6 | tr '\n' ' ')"
}

# expect_status RUN STATUS [LABEL]: the run in folder RUN ended with STATUS;
# LABEL, when given, heads the problem.
expect_status() {
  local got
  got=$(cat "$1.status")
  [[ $got == "$2" ]] || problem "${3:+$3: }exit status $got"
}

# new_case NAME: two empty run folders, $work/NAME/linux and $work/NAME/windows.
new_case() {
  rm -rf "${work:?}/$1"
  mkdir -p "$work/$1/linux" "$work/$1/windows"
}

# both NAME FILE...: copies FILEs into both run folders of case NAME.
both() {
  local name=$1
  shift
  cp "$@" "$work/$name/linux/" && cp "$@" "$work/$name/windows/"
}

# ---------------------------------------------------------------------------
# Whole runs: the golden cases and the shipped example.

for case_dir in tests/golden/*/; do
  [[ -f $case_dir/entradas.txt ]] || continue
  name=$(basename "$case_dir")
  new_case "$name"
  both "$name" "$case_dir"/*.txt
  run_linux "$work/$name/linux"
  run_windows "$work/$name/windows"
  same_run "$work/$name/linux" "$work/$name/windows"
  expect_status "$work/$name/windows" 0
  if [[ -d $case_dir/expected ]]; then
    for f in "$case_dir"/expected/*; do
      cmp -s "$f" "$work/$name/windows/$(basename "$f")" ||
        problem "$(basename "$f") is not the expected file"
    done
  fi
  conclude "golden case $name"
done

# The example (40 x 20, smoothed, nest files), over longer files of the same
# names left by an earlier run: each one must be replaced, not overwritten.
new_case example
both example examples/entradas.txt examples/entrada_eq_elipticas.txt
for f in exemplo.txt exemplo_nest_area.txt malha.txt centroides.txt; do
  head -c 200000 /dev/zero | tr '\0' 'x' >"$work/example/linux/$f"
  cp "$work/example/linux/$f" "$work/example/windows/$f"
done
run_linux "$work/example/linux"
run_windows "$work/example/windows"
same_run "$work/example/linux" "$work/example/windows"
expect_status "$work/example/windows" 0
conclude "example case over longer existing files"

# Runs against the Linux program, with the options given ("-" for none): the
# same files, commands and standard error, malha.exe's status the one given,
# and its standard error holding the report given ("-" for none). The input
# files' lines are separated by commas, with printf's escapes.
#   - number notations, read by the C++ library of each platform: the values
#     written back in the header agree to the last bit; a value too large for
#     a double stops both runs alike;
#   - floating-point faults: a zero ksi spacing divides by zero, a subnormal
#     one overflows;
#   - smoothing to convergence: a mesh large enough for the relaxations to use
#     the second thread, the example's size, and the report when the solution
#     inverts cells;
#   - graded meshes: the powers of the grading are the program's own
#     (products, square roots, its log and exp), so the bytes are the same for
#     a whole exponent, a half and any other; smoothed after the grading by
#     passes and by --converge; an odd nx refused alike;
#   - control functions (--control), computed with + - * / and square roots:
#     by passes (on a mesh large enough for the wavefront's second thread, an
#     odd nx, after --grade) and by --converge, the control functions' file
#     included;
#   - input files as Windows editors save them: a UTF-8 byte-order mark at the
#     start of both is skipped; a case name of 108 characters names the files
#     by its first 100, and the run warns.
long_name=$(printf '%0108d' 0)
while read -r -u 3 name options status entradas elipticas report; do
  run_args=()
  [[ $options == - ]] || IFS=, read -ra run_args <<<"$options"
  new_case "$name"
  printf '%b\n' "${entradas//,/\\n}" >"$work/$name/entradas.txt"
  printf '%b\n' "${elipticas//,/\\n}" >"$work/$name/entrada_eq_elipticas.txt"
  both "$name" "$work/$name/entradas.txt" "$work/$name/entrada_eq_elipticas.txt"
  run_linux "$work/$name/linux"
  run_windows "$work/$name/windows"
  same_run "$work/$name/linux" "$work/$name/windows"
  expect_status "$work/$name/windows" "$status"
  [[ $report == - ]] || grep -qF "$report" "$work/$name/windows.stderr" || problem "not the report"
  conclude "the same run as on Linux: $name ${options//,/ }"
done 3<<EOF
numbers - 0 numbers,4,2,2,1 2,3,1e-400,.5D0,0.33333333333333333333333333333,0,0 -
numbers-big - 1 numbers-big,4,2,2,1 2,3,1e-400,1.0E+400,1,0,0 -
divide - 1 divide,4,2,2,2 1,1,0.0,0.0,1.0,0,0 M6103: MATH
overflow - 1 overflow,4,2,2,2 1,1,0.0,1e-320,1.0,0,0 floating-point error: overflow
conv-large --converge 0 conv-large,200,100,2,2 1,1,0.0,1.0,1.0,0,0 -
conv-example --converge 0 conv-example,40,20,2,2 1,1,0.0,1.0,1.0,0,0 -
conv-inverted --converge 1 conv-inverted,20,10,2,2 1,1,0.0,1.0,0.1,0,0 F6901: CONVERGE
grade-2 --grade 0 grade-2,40,20,1,2 5,30,0.0,1.0,1.0,0,0 -
grade-1.7 --grade=1.7 0 grade-1.7,40,20,1,2 5,30,0.0,1.0,1.0,0,0 -
grade-2.5-passes --grade=2.5 0 grade-2.5-passes,64,32,2,2 5,30,0.0,1.0,1.0,0,0 -
grade-3-converge --grade=3,--converge 0 grade-3-converge,40,20,2,2 5,30,0.0,1.0,1.0,0,0 -
grade-odd --grade 1 grade-odd,7,4,1,2 5,30,0.0,1.0,1.0,0,0 -
control-passes --control 0 control-passes,200,100,2,1 5,40,0.0,1.0,1.0,0,0 -
control-odd --control 0 control-odd,41,20,2,2 5,60,0.0,0.7,1.3,0,0 -
control-grade --grade,--control 0 control-grade,40,20,2,2 5,60,0.0,1.0,1.0,0,0 -
control-converge --control,--converge 0 control-converge,40,20,2,2 1,1,0.0,1.0,1.0,0,0 -
bom - 0 \xEF\xBB\xBF$long_name,4,2,2,2 \xEF\xBB\xBF1,2,0.0,1.0,1.0,0,0 malha: warning: the case name in entradas.txt has 108 characters
EOF
run_args=()

# A run without --control after one with it removes the control functions'
# file, as on Linux.
new_case control-stale
printf 'control-stale\n16\n8\n2\n1\n' >"$work/control-stale/entradas.txt"
printf '5\n20\n0.0\n1.0\n1.0\n0\n0\n' >"$work/control-stale/entrada_eq_elipticas.txt"
both control-stale "$work/control-stale/entradas.txt" "$work/control-stale/entrada_eq_elipticas.txt"
run_args=(--control)
run_linux "$work/control-stale/linux"
run_windows "$work/control-stale/windows"
run_args=()
[[ -f $work/control-stale/windows/control-stale_controle.txt ]] || problem "no control functions' file"
run_linux "$work/control-stale/linux"
run_windows "$work/control-stale/windows"
same_run "$work/control-stale/linux" "$work/control-stale/windows"
expect_status "$work/control-stale/windows" 0
[[ -e $work/control-stale/windows/control-stale_controle.txt ]] && problem "the file is still there"
conclude "a run without --control removes the control functions of an earlier run"

# ---------------------------------------------------------------------------
# Case names.

# A name with a blank, "&", "(" and "^": the same files; each name in double
# quotes for cmd.exe, where those characters then stand for themselves.
new_case blank
printf "'my mesh&(1)^'  case name with a blank and cmd.exe's special characters\n4\n2\n1\n2\n" >"$work/blank/entradas.txt"
both blank "$work/blank/entradas.txt"
run_linux "$work/blank/linux"
run_windows "$work/blank/windows"
tr "'" '"' <"$work/blank/linux.commands" >"$work/blank/quoted.commands"
grep -qF 'notepad "my mesh&(1)^_nest_area.txt"' "$work/blank/quoted.commands" ||
  problem "no quoted name in the commands: $(tr '\n' '|' <"$work/blank/linux.commands")"
same_run "$work/blank/linux" "$work/blank/windows" "$work/blank/quoted.commands"
conclude "case name with a blank and & ( ^, quoted for the interpreter"

# A name typed in UTF-8, as current Windows editors save: the program runs with
# UTF-8 as its code page (its manifest), so the files bear the name as typed,
# the same bytes as on Linux.
new_case utf8
printf "'malha_açaí_ñ_€'  case name typed in UTF-8\n4\n2\n1\n2\n" >"$work/utf8/entradas.txt"
both utf8 "$work/utf8/entradas.txt"
run_linux "$work/utf8/linux"
run_windows "$work/utf8/windows"
tr "'" '"' <"$work/utf8/linux.commands" >"$work/utf8/quoted.commands"
[[ -f $work/utf8/windows/malha_açaí_ñ_€_nest_area.txt ]] ||
  problem "files named: $(cd "$work/utf8/windows" && ls -A | tr '\n' ' ')"
same_run "$work/utf8/linux" "$work/utf8/windows" "$work/utf8/quoted.commands"
conclude "case name in UTF-8: the files are named as typed"

# The same run with COMSPEC unset: cmd.exe runs the commands, and stand-ins for
# the editor and the plotter in the working folder receive them.
rm -rf "$work/blank/windows"
mkdir "$work/blank/windows"
cp "$work/blank/entradas.txt" "$bin/record_command.exe" "$work/blank/windows/"
mv "$work/blank/windows/record_command.exe" "$work/blank/windows/notepad.exe"
cp "$work/blank/windows/notepad.exe" "$work/blank/windows/wgnuplot.exe"
run_windows "$work/blank/windows" ""
rm "$work/blank/windows/notepad.exe" "$work/blank/windows/wgnuplot.exe"
same_run "$work/blank/linux" "$work/blank/windows" "$work/blank/quoted.commands"
conclude "COMSPEC unset: the commands go through cmd.exe"

# Names Windows cannot use: each run stops after reading the case file.
rejected() {
  local label=$1 text want=$'\r\nrun-time error F6510: READ(entradas.txt)\r\n- the case name'
  shift
  for text in "$@"; do
    new_case name
    printf '%s\n4\n2\n1\n1\n' "$text" >"$work/name/windows/entradas.txt"
    run_windows "$work/name/windows"
    expect_status "$work/name/windows" 1 "$text"
    [[ $(head -c ${#want} "$work/name/windows.stderr") == "$want" ]] ||
      problem "$text: report $(od -An -c "$work/name/windows.stderr" | head -2 | tr -s ' ')"
    [[ $(cd "$work/name/windows" && ls -A) == entradas.txt ]] ||
      problem "$text: files written: $(cd "$work/name/windows" && ls -A | tr '\n' ' ')"
    [[ $(cat "$work/name/windows.commands") == "notepad entradas.txt" ]] ||
      problem "$text: commands $(tr '\n' '|' <"$work/name/windows.commands")"
  done
  conclude "case names rejected: $label"
}
rejected "the fixed names in any case" MALHA Centroides ENTRADAS Entrada_Eq_Elipticas
rejected "characters Windows forbids, and %" 'a:b' "'a\"b'" 'a|b' 'a<b' 'a>b' "'a?b'" "'a*b'" 'a%b'
rejected "device names" con NUL Com1 lpt9.x

# ---------------------------------------------------------------------------
# malha-report.exe.

# win_report DIR OUT ARGS...: malha-report.exe in DIR, COMSPEC unset; OUT,
# OUT.err, OUT.status.
win_report() {
  local dir=$1 out=$2
  shift 2
  (cd "$dir" && unset COMSPEC && timeout -k 5 "$limit" wine "$win_report" "$@" </dev/null \
    >"$out" 2>"$out.err")
  echo $? >"$out.status"
  note_status "$out.status"
}
# report_pair DIR ARGS...: both reports on the files of DIR/linux and
# DIR/windows, the same status and output (CR LF read as LF) and status 0;
# DIR/{linux,windows}.report{,.status,.err}.
report_pair() {
  local dir=$1
  shift
  (cd "$dir/linux" && "$linux_report" "$@" </dev/null >../linux.report 2>../linux.report.err)
  win_report "$dir/windows" "$dir/windows.report" "$@"
  expect_status "$dir/windows.report" 0 "${dir##*/} $* ($(head -c 200 "$dir/windows.report.err"))"
  tr -d '\r' <"$dir/windows.report" >"$dir/windows.lf"
}

# The measures go through each platform's own sqrt and atan2, which may
# differ in the last bit: the report (six digits) and the Plot3D grid (the
# coordinates read back) must be the same, the JSON the same to 1e-12 and
# the .vts the same but for its appended measures.
same_json() {  # LINUX-FILE WINDOWS-FILE
  /usr/bin/python3 - "$1" "$2" <<'EOF'
import json, math, sys
def same(a, b):
    if isinstance(a, float) or isinstance(b, float):
        return isinstance(a, (int, float)) and isinstance(b, (int, float)) and \
            math.isclose(a, b, rel_tol=1e-12, abs_tol=1e-300)
    if isinstance(a, dict):
        return isinstance(b, dict) and a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list):
        return isinstance(b, list) and len(a) == len(b) and all(map(same, a, b))
    return a == b
with open(sys.argv[1], encoding="utf-8") as f, open(sys.argv[2], encoding="utf-8") as g:
    sys.exit(0 if same(json.load(f), json.load(g)) else 1)
EOF
}
# The golden cases, the example, the case named in UTF-8, whose report
# opens the files malha.exe named, and a case smoothed with control
# functions, whose report reads them.
for name in $(ls tests/golden) example utf8 control-converge; do
  [[ -d $work/$name/windows ]] || continue
  report_pair "$work/$name" --vtk --plot3d
  cmp -s "$work/$name/linux.report" "$work/$name/windows.lf" ||
    problem "$name: output differs: $(diff "$work/$name/linux.report" "$work/$name/windows.lf" | head -4 | tr '\n' '|')"
  for f in "$work/$name/linux/"*.xyz; do
    cmp -s "$f" "$work/$name/windows/$(basename "$f")" || problem "$name: $(basename "$f") differs"
  done
  for f in "$work/$name/linux/"*.vts; do
    w=$work/$name/windows/$(basename "$f")
    [[ $(wc -c <"$f") == "$(wc -c <"$w")" ]] &&
      cmp -s <(sed -n '1,/AppendedData/p' "$f") <(sed -n '1,/AppendedData/p' "$w") ||
      problem "$name: $(basename "$f") differs in its size or its XML"
  done
  report_pair "$work/$name" --json
  same_json "$work/$name/linux.report" "$work/$name/windows.lf" || problem "$name: JSON differs"
done
grep -qF '"controls":"corner"' "$work/control-converge/windows.lf" ||
  problem "report of control-converge: $(head -c 200 "$work/control-converge/windows.lf")"
grep -qF '"case":"malha_açaí_ñ_€"' "$work/utf8/windows.lf" ||
  problem "report: $(head -c 200 "$work/utf8/windows.lf")"
[[ -f "$work/utf8/windows/malha_açaí_ñ_€.vts" ]] || problem "no malha_açaí_ñ_€.vts"
conclude "malha-report: the same report, JSON and exports as on Linux, a case name in UTF-8 too"

# Names a shell or cmd.exe treats specially, all valid Windows file names:
# each reaches notepad from malha.exe, and gnuplot from malha-report.exe,
# through cmd.exe (COMSPEC unset), as one argument. The stand-ins sit in the
# working folder, where cmd.exe looks first; they log the arguments as a
# program reads them, separated by 0x1F. malha refuses a name with "%":
# that case is the files of gs4x2 renamed.
sep=$'\x1f'
stem=$(head -n 1 tests/golden/gs4x2/entradas.txt | awk '{print $1}')
export RECORD_COMMAND_ARGV=1
for name in "it's" 'a;b&c' '$(x)' '`x`' 'bang!!' '-x' 'a^b(1)' 'my  mesh' '100%PATH%'; do
  new_case hostile
  h=$work/hostile/windows
  for exe in notepad wgnuplot gnuplot; do cp "$bin/record_command.exe" "$h/$exe.exe"; done
  if [[ $name == *%* ]]; then
    for f in "$work/gs4x2/windows/$stem"*.txt; do cp "$f" "$h/$name${f#"$work/gs4x2/windows/$stem"}"; done
  else
    printf "'%s'\n4\n2\n1\n1\n" "${name//\'/\'\'}" >"$h/entradas.txt"
    run_windows "$h" ""
    expect_status "$h" 0 "$name"
    mapfile -t lines <"$h.commands"
    ((${#lines[@]} == 8)) || problem "$name: ${#lines[@]} commands"
    [[ ${lines[1]-} == "$name.txt" ]] || problem "$name: notepad got '$(tr "$sep" '|' <<<"${lines[1]-}")'"
    for line in "${lines[@]}"; do
      [[ $line != *"$sep"* ]] || problem "$name: more than one argument: $(tr "$sep" '|' <<<"$line")"
    done
  fi
  : >"$h.log"
  RECORD_COMMAND_LOG=$(winpath "$h.log") win_report "$h" "$h.out" --map equiangle_skew -- "$name"
  expect_status "$h.out" 0 "$name ($(head -c 200 "$h.out.err"))"
  if [[ $name == *%* ]]; then
    [[ ! -s $h.log ]] || problem "$name: gnuplot was started: $(cat "$h.log")"
    grep -q "(SVG; a name holds a character the command interpreter would change)" "$h.out" ||
      problem "$name: $(head -c 300 "$h.out")"
    continue
  fi
  IFS=$sep read -r -a got <"$h.log"
  # -c SCRIPT DATA PICTURE TITLE LABEL LOW HIGH SCALE
  ((${#got[@]} == 9)) && [[ ${got[0]} == -c && ${got[5]} == "equiangle skew" ]] ||
    problem "$name: gnuplot got $(tr "$sep" '|' <"$h.log")"
  [[ ${got[4]-} == "$name: equiangle skew" ]] || problem "$name: title '${got[4]-}'"
done
unset RECORD_COMMAND_ARGV
conclude "names with shell and cmd.exe characters reach notepad and gnuplot as one argument each"

# ---------------------------------------------------------------------------
# Input files.

# A FIFO in place of the case file (what wine shows of it): the run ends at
# once with an OPEN report and writes nothing.
new_case fifo
mkfifo "$work/fifo/windows/entradas.txt"
run_windows "$work/fifo/windows"
expect_status "$work/fifo/windows" 1
want=$'\r\nrun-time error F6401: OPEN(entradas.txt)\r\n- '
[[ $(head -c ${#want} "$work/fifo/windows.stderr") == "$want" ]] ||
  problem "report $(od -An -c "$work/fifo/windows.stderr" | head -2 | tr -s ' ')"
[[ $(cd "$work/fifo/windows" && ls -A) == entradas.txt ]] || problem "files written"
conclude "a FIFO as the case file: refused at once"

# ---------------------------------------------------------------------------
# Two runs in one folder: while the first waits in its editor, a second is
# refused with one line and status 1, and starts nothing; the first then
# completes, and its lock file is gone with it.
new_case lock
printf 'lock\n4\n2\n1\n2\n' >"$work/lock/windows/entradas.txt"
(
  cd "$work/lock/windows" || exit 125
  RECORD_COMMAND_WAIT=$(winpath "$work/lock/go") COMSPEC=$recorder_win \
    RECORD_COMMAND_LOG=$(winpath "$work/lock/first.log") timeout -k 5 "$limit" wine "$win_exe" \
    </dev/null >/dev/null 2>"$work/lock/first.stderr"
  echo $? >"$work/lock/first.status"
) &
first=$!
for _ in $(seq 300); do [[ -e $work/lock/go.ready ]] && break || sleep 0.05; done
[[ -e $work/lock/go.ready ]] || problem "the first run never reached its editor"
run_windows "$work/lock/windows"
touch "$work/lock/go"
wait "$first"
expect_status "$work/lock/windows" 1 "second run"
[[ $(cat "$work/lock/windows.stderr") == "malha: another run of malha is working in this folder; "* ]] ||
  problem "second run: standard error '$(head -c 200 "$work/lock/windows.stderr")'"
[[ ! -s $work/lock/windows.commands ]] || problem "second run started $(tr '\n' '|' <"$work/lock/windows.commands")"
[[ $(cat "$work/lock/first.status") == 0 && ! -s $work/lock/first.stderr ]] ||
  problem "first run: status $(cat "$work/lock/first.status"), '$(head -c 200 "$work/lock/first.stderr")'"
[[ -f $work/lock/windows/lock_nest_area.txt && ! -e $work/lock/windows/malha.lock ]] ||
  problem "files after the first run: $(cd "$work/lock/windows" && ls -A | tr '\n' ' ')"
conclude "two runs in one folder: the second refused while the first works"

# ---------------------------------------------------------------------------
# The command line: the same answers and statuses as on Linux, and nothing
# read, written or started.

for args in "--help" "--version" "--verbose" "--help now" "--converge=0"; do
  new_case args
  read -ra argv <<<"$args"
  (cd "$work/args/linux" && "$linux_exe" "${argv[@]}" </dev/null >../linux.out 2>../linux.err)
  echo $? >"$work/args/linux.status"
  (cd "$work/args/windows" && COMSPEC=$recorder_win RECORD_COMMAND_LOG=$(winpath "$work/args/log") \
    timeout -k 5 "$limit" wine "$win_exe" "${argv[@]}" </dev/null >../windows.out 2>../windows.err)
  echo $? >"$work/args/windows.status"
  expect_status "$work/args/windows" "$(cat "$work/args/linux.status")" "$args"
  cmp -s "$work/args/linux.err" "$work/args/windows.err" || problem "$args: standard error differs"
  # The usage text tells each platform's own commands; the rest is the same, in CR LF.
  [[ $args == --help ]] || tr -d '\r' <"$work/args/windows.out" | cmp -s "$work/args/linux.out" - ||
    problem "$args: standard output '$(head -c 200 "$work/args/windows.out")'"
  [[ $args != --help ]] || grep -q '^Usage: malha' "$work/args/windows.out" || problem "no usage text"
  [[ -z $(ls -A "$work/args/windows") && ! -e $work/args/log ]] || problem "$args: files or commands"
done
conclude "command line: --help, --version and refused arguments as on Linux"

# malha-report.exe is built without the CGNS library: --cgns says so in one
# line and exit status 2, before it looks for a case.
mkdir -p "$work/cgns"
win_report "$work/cgns" "$work/cgns.out" --cgns
expect_status "$work/cgns.out" 2 --cgns
[[ $(tr -d '\r' <"$work/cgns.out.err") == "malha-report: --cgns: this build has no CGNS support (it was built without the CGNS library)" ]] ||
  problem "--cgns: '$(head -c 300 "$work/cgns.out.err")'"
conclude "malha-report without the CGNS library: --cgns said in one line"

# ---------------------------------------------------------------------------
# The platform layer, driven by platform_probe.exe.

# probe NAME ARGS...: runs the probe in $work/probe, with the environment
# changes in probe_env (arguments of env); NAME.out, NAME.err, NAME.status.
mkdir -p "$work/probe"
probe_env=()
probe() {
  local name=$1
  shift
  (cd "$work/probe" && env "${probe_env[@]}" timeout -k 5 "$limit" wine "$probe_exe" "$@" \
    </dev/null >"$work/$name.out" 2>"$work/$name.err")
  echo $? >"$work/$name.status"
  note_status "$work/$name.status"
  tr -d '\r' <"$work/$name.out" >"$work/$name.txt"
}
expect_probe() {  # NAME STATUS OUTPUT
  [[ $(cat "$work/$1.status") == "$2" && $(cat "$work/$1.txt") == "$3" ]] ||
    problem "$1: status $(cat "$work/$1.status"), output '$(cat "$work/$1.txt")', standard error '$(head -c 200 "$work/$1.err")'"
}

report() { printf '\r\nrun-time error M%s: MATH\r\n- floating-point error: %s\r\n' "$1" "$2"; }
for trap_case in "invalid 6101 invalid" "divide 6103 divide by zero" "overflow 6104 overflow"; do
  read -r what number kind <<<"$trap_case"
  for road in "$what" "multiple-$what"; do
    probe "fp-$road" fp "$road"
    expect_probe "fp-$road" 1 ""
    cmp -s <(report "$number" "$kind") "$work/fp-$road.err" ||
      problem "$road: report $(od -An -c "$work/fp-$road.err" | head -3 | tr -s ' ')"
  done
done
probe fp-quiet fp quiet
expect_probe fp-quiet 0 "quiet ok"
conclude "floating-point traps: reports and status (also as multiple traps), silent underflow, held traps"

probe files files
expect_probe files 0 "files ok"
conclude "files: exclusive creation, truncation, sharing, read-only and write-only fallbacks"

probe irregular irregular
expect_probe irregular 1 "irregular ok"
cmp -s <(printf '\r\nrun-time error F6401: OPEN(NUL)\r\n- cannot read the file: it is a device, not a regular file\r\n') "$work/irregular.err" ||
  problem "NUL as an input file: $(od -An -c "$work/irregular.err" | head -3 | tr -s ' ')"
conclude "files no input may be: the null device and a pipe, told apart and refused at once"

# The launcher. Command texts are two blanks, N - 2 "x" and three blanks.
log=$work/probe.log
launch() {  # NAME N COMSPEC [VAR=VALUE...]; COMSPEC "" for none
  local name=$1 n=$2 comspec=$3
  shift 3
  : >"$log"
  probe_env=(-u COMSPEC "RECORD_COMMAND_LOG=$(winpath "$log")" "$@")
  [[ -z $comspec ]] || probe_env+=("COMSPEC=$comspec")
  probe "$name" run "$n"
  probe_env=()
}
xs() { printf "%$1s" "" | tr ' ' x; }

launch run-1024 1024 "$recorder_win"
expect_probe run-1024 0 "0 0"
[[ $(cat "$log") == "$recorder_win /c   $(xs 1022)" ]] ||
  problem "1024 characters: the interpreter got '$(head -c 80 "$log")...' ($(wc -c <"$log") bytes)"
launch run-1025 1025 "$recorder_win"
expect_probe run-1025 0 "-1 7"
[[ ! -s $log ]] || problem "1025 characters: something was started"
launch run-status 10 "$recorder_win" RECORD_COMMAND_STATUS=7
expect_probe run-status 0 "7 0"
conclude "launcher: 1024 characters run (leading blanks kept, trailing dropped), 1025 refused, exit code returned"

# COMSPEC of 260 and 261 characters naming the same program: the path padded
# with "\." steps (and one doubled "\" for an odd length).
padded() {
  local path fill
  path=$(winpath "$bin")
  fill=$(($1 - ${#path} - 19)) # 19: "\record_command.exe"
  if ((fill % 2)); then
    path="$path\\"
    fill=$((fill - 1))
  fi
  while ((fill > 0)); do
    path="$path\\."
    fill=$((fill - 2))
  done
  printf '%s\\record_command.exe' "$path"
}
comspec260=$(padded 260)
comspec261=$(padded 261)
((${#comspec260} == 260 && ${#comspec261} == 261)) || problem "padded paths of ${#comspec260} and ${#comspec261} characters"
launch comspec-260 5 "$comspec260"
expect_probe comspec-260 0 "0 0"
[[ $(cat "$log") == "$comspec260 /c   xxx" ]] || problem "260: the interpreter got '$(cat "$log")'"
launch comspec-261 5 "$comspec261"
expect_probe comspec-261 0 "-1 2"
[[ ! -s $log ]] || problem "261: something was started"
launch comspec-missing 5 'Z:\no\such\interpreter.exe'
expect_probe comspec-missing 0 "-1 2"
echo "not a program" >"$work/probe/text.exe"
launch comspec-text 5 "$(winpath "$work/probe/text.exe")"
expect_probe comspec-text 0 "-1 8"
cp "$bin/record_command.exe" "$work/probe/xxx.exe"
launch comspec-unset 5 "" RECORD_COMMAND_STATUS=9
expect_probe comspec-unset 0 "9 0"
[[ $(cat "$log") == "xxx" ]] || problem "COMSPEC unset: cmd.exe did not run the command: '$(cat "$log")'"
conclude "launcher: COMSPEC of 260 characters used, 261 refused (2), missing (2), not a program (8), unset (cmd.exe)"

echo "wine: Windows stage took $((SECONDS - started)) s"
echo "wine: $passed passed, $failed failed"
((failed == 0))
