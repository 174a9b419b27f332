#!/bin/sh
# The notepad stand-in: returns at once without a terminal, hands the file
# name to the editor as one argument, picks VISUAL, then EDITOR, then an
# installed editor, passes over a VISUAL or EDITOR that names a missing
# program with one line saying so, shows only the input files on request, and
# says so when there is no editor.
#   notepad.sh STAND-IN-FOLDER
set -u
tools=$(cd "$1" && pwd)
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"

log="$scratch/args.log"
make_recorder "$scratch/editor" "$log"
name="my mesh 'quoted' \"twice\".txt"
cd "$scratch" || exit 1

# --- No terminal: nothing is started, nothing is created, status 0 at once.
unset EDITOR
export VISUAL="$scratch/editor"
"$tools/notepad" "$name" </dev/null
check "without a terminal the status is 0" [ $? -eq 0 ]
check "without a terminal no editor is started" [ ! -e "$log" ]
check "without a terminal a missing file is not created" [ ! -e "$name" ]
VISUAL="sleep 60" timeout 20 "$tools/notepad" "$name" </dev/null
check "without a terminal it does not wait for the editor" [ $? -eq 0 ]

if ! have_pty; then
  echo "no pseudo-terminal here: the checks that need one are skipped"
  finish
fi

# The editor runs on a terminal from here on. The command texts are what the
# program hands to /bin/sh: the name single-quoted, a quote inside as '\''.
quoted_name=$(printf '%s' "$name" | sed "s/'/'\\\\''/g")
export PATH="$tools:$PATH"

# --- VISUAL: the name, blanks and quotes included, is one argument.
rm -f "$log"
on_pty "notepad '$quoted_name'" >/dev/null
check "VISUAL gets the name as one argument" \
  [ "$(cat "$log")" = "$(printf '1\n[%s]' "$name")" ]

# --- A name that begins with "-" is a file, not an option.
rm -f "$log"
on_pty "notepad '-x.txt'" >/dev/null
check "a name beginning with - reaches the editor as ./NAME" \
  [ "$(cat "$log")" = "$(printf '1\n[./-x.txt]')" ]

# --- VISUAL with options of its own.
rm -f "$log"
# The shell reads VISUAL, quotes included.
# shellcheck disable=SC2089
export VISUAL="'$scratch/editor' --wait -n"
on_pty "notepad '$quoted_name'" >/dev/null
check "VISUAL's own options come before the name" \
  [ "$(cat "$log")" = "$(printf '3\n[--wait]\n[-n]\n[%s]' "$name")" ]

# --- EDITOR when VISUAL is not set or empty.
rm -f "$log"
# shellcheck disable=SC2090
export VISUAL='' EDITOR="$scratch/editor"
on_pty "notepad plain.txt" >/dev/null
check "EDITOR is used when VISUAL is empty" [ "$(cat "$log")" = "$(printf '1\n[plain.txt]')" ]

# --- Neither: the first editor found on PATH.
mkdir "$scratch/bin"
make_recorder "$scratch/bin/nano" "$log"
rm -f "$log"
unset VISUAL EDITOR
on_pty "PATH='$scratch/bin' /bin/sh '$tools/notepad' 'a b.txt'" >/dev/null
check "without VISUAL and EDITOR an installed editor is used" \
  [ "$(cat "$log" 2>/dev/null)" = "$(printf '1\n[a b.txt]')" ]

# --- VISUAL, then EDITOR, naming missing programs: one line, then the next choice.
rm -f "$log"
out=$(VISUAL='no-such-editor --wait' EDITOR=/no/such/editor on_pty "PATH='$scratch/bin' /bin/sh '$tools/notepad' m.txt")
check "one line names both missing programs" [ "$(printf '%s\n' "$out" | grep -c \
  "^notepad: VISUAL names 'no-such-editor --wait' and EDITOR names '/no/such/editor', which are not installed; using nano")" -eq 1 ]
check "the next choice shows the file" [ "$(tail -n 1 "$log")" = "[m.txt]" ]

# --- Only the input files, on request.
rm -f "$log"
for name in entradas.txt exemplo.txt entrada_eq_elipticas.txt malha.txt; do
  VISUAL="$scratch/editor" MALHA_EDIT_INPUTS_ONLY=1 on_pty "notepad $name" >/dev/null
done
check "MALHA_EDIT_INPUTS_ONLY=1 shows the two input files alone" \
  [ "$(grep -v '^1$' "$log" | tr '\n' ' ')" = "[entradas.txt] [entrada_eq_elipticas.txt] " ]

# --- No editor at all: a message, status 0.
out=$(on_pty "PATH='$scratch/none' /bin/sh '$tools/notepad' x.txt; echo status=\$?")
check "without any editor it says so" contains "$out" "notepad: no text editor found to show x.txt"
check "without any editor the status is 0" contains "$out" "status=0"

finish
