#!/bin/sh
# The wgnuplot stand-in, with a stand-in gnuplot that records how it is run:
# a window with a display, a PNG file without one, the message and status 0
# without gnuplot, and names with blanks and quotes. (wgnuplot_png.sh renders
# with the real gnuplot.)
#   wgnuplot.sh STAND-IN-FOLDER
# Names with quotes in them are meant literally here.
# shellcheck disable=SC2089,SC2090
set -u
tools=$(cd "$1" && pwd)
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"

# A gnuplot that knows the terminals in $FAKE_TERMINALS, records its arguments
# and, when asked to write a file, writes a PNG signature to it.
mkdir "$scratch/bin"
log="$scratch/gnuplot.log"
cat >"$scratch/bin/gnuplot" <<'FAKE'
#!/bin/sh
if [ "$1" = -e ] && [ "$2" = "print GPVAL_TERMINALS" ]; then
  echo "$FAKE_TERMINALS" >&2
  exit 0
fi
{ echo "$#"; for arg in "$@"; do printf '[%s]\n' "$arg"; done; } >>"$FAKE_LOG"
case "$*" in
  *"set output"*) printf '\211PNG\r\n\032\n' >"$FAKE_OUTPUT" ;;
esac
FAKE
chmod +x "$scratch/bin/gnuplot"
export FAKE_LOG="$log"

folder="$scratch/plots in 'here'"
mkdir "$folder"
cd "$folder" || exit 1
plain_path=$PATH
export PATH="$scratch/bin:$plain_path"
unset WAYLAND_DISPLAY

# --- A display and a gnuplot with windows: the script in a window that stays.
export DISPLAY=:7 FAKE_TERMINALS="dumb png pngcairo qt x11"
out=$("$tools/wgnuplot" malha.gnu 2>&1)
check "with a display the status is 0" [ $? -eq 0 ]
check "with a display gnuplot shows the script in a window" \
  [ "$(cat "$log")" = "$(printf '2\n[-persist]\n[malha.gnu]')" ]
check "with a display nothing is printed" [ -z "$out" ]

# --- A display but no window terminal: a PNG file all the same.
rm -f "$log"
export FAKE_TERMINALS="dumb png pngcairo" FAKE_OUTPUT="$folder/malha.png"
out=$("$tools/wgnuplot" malha.gnu 2>&1)
check "without window terminals a PNG file is written" is_png "$folder/malha.png"
check "its path is printed" contains "$out" "$folder/malha.png"

# --- No display: a PNG file beside the data, a quote in its name doubled for
# gnuplot, the script name unchanged.
rm -f "$log" "$folder/malha.png"
unset DISPLAY
export FAKE_TERMINALS="dumb png pngcairo qt" FAKE_OUTPUT="$folder/my plot.png"
out=$("$tools/wgnuplot" "my plot.gnu" 2>&1)
check "without a display the status is 0" [ $? -eq 0 ]
gnuplot_folder=$(printf '%s' "$folder" | sed "s/'/''/g")
check "without a display gnuplot writes to the PNG terminal" \
  contains "$(cat "$log")" "[set terminal pngcairo size 900,900 font 'sans,11'; set output '$gnuplot_folder/my plot.png']"
check "the script reaches gnuplot as one argument" contains "$(cat "$log")" "[my plot.gnu]"
check "the PNG path is printed" contains "$out" "$folder/my plot.png"

# --- Wayland alone: qt and wxt open windows there, x11 does not.
rm -f "$log"
export WAYLAND_DISPLAY=wayland-0 FAKE_TERMINALS="png wxt"
"$tools/wgnuplot" malha.gnu >/dev/null 2>&1
check "on Wayland wxt shows the window" [ "$(cat "$log")" = "$(printf '2\n[-persist]\n[malha.gnu]')" ]
rm -f "$log"
export FAKE_TERMINALS="png x11"
"$tools/wgnuplot" "my plot.gnu" >/dev/null 2>&1
check "on Wayland without DISPLAY x11 is not tried" contains "$(cat "$log")" "set output"
unset WAYLAND_DISPLAY

# --- Only the plain png terminal.
rm -f "$log"
export FAKE_TERMINALS="dumb png"
"$tools/wgnuplot" "my plot.gnu" >/dev/null 2>&1
check "without pngcairo the png terminal is used" contains "$(cat "$log")" "[set terminal png size 900,900; "

# --- gnuplot not installed: one line, status 0. Only shell built-ins are
# needed for that, so the search path can be empty.
out=$(PATH="$scratch/none" /bin/sh "$tools/wgnuplot" malha.gnu 2>&1)
status=$?
check "without gnuplot the status is 0" [ "$status" -eq 0 ]
check "without gnuplot it says so" contains "$out" "gnuplot is not installed"
check "without gnuplot the message is one line" [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ]

finish
