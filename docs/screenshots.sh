#!/usr/bin/env bash
# Takes the README's pictures from the real program: `ferrun --simulator` on a virtual X
# display, driven with xdotool as a user would (three measurements saved with comments, the
# first reopened, the comment catalogue searched), grabbed with ImageMagick's import.
# Then a "500 байт" read, the least window size and a full screen. Writes docs/recording.png,
# docs/catalogue.png, docs/shortread.png, docs/minimum.png and docs/fullscreen.png. Needs Xvfb,
# xdotool, xclip and ImageMagick.
#
# The clicks go to fixed places of the window in its first-run size (no settings file) at the
# top left corner of a screen without a window manager.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
program="$root/build/bin/ferrun"
[[ -x "$program" ]] || { echo "build first: make build" >&2; exit 1; }

work=$(mktemp -d)
xvfb_pid= ferrun_pid=
cleanup() {
    [[ -n "$ferrun_pid" ]] && kill "$ferrun_pid" 2>/dev/null && wait "$ferrun_pid" 2>/dev/null
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

display=:$((100 + $$ % 400))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=$display LC_ALL=C.UTF-8
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# A copy of the program keeps its settings file and the "Mersklad" folder in the work folder.
cp "$program" "$work/ferrun"
cd "$work"
./ferrun --simulator >/dev/null 2>&1 &
ferrun_pid=$!
xdotool search --sync --name "термопар" >/dev/null
sleep 1

at() { xdotool mousemove "$1" "$2" click 1; }
grab() { import -window root -crop 794x515+0+0 +repage "$work/$1.png"; }
# Frequency typed into the frequency/time panel; Enter starts the measurement.
measure() {
    at 278 37 && sleep 0.5                      # "Выбор F/T"
    at 240 102 && xdotool key ctrl+a type "$1"  # "Fвыборки, Гц"
    xdotool key Return
    sleep "$2"
}
# Russian text is pasted: typed through xdotool's remapped keys, letters now and then go missing.
type_text() { printf '%s' "$1" | xclip -selection clipboard -i 2>/dev/null && sleep 0.2 && xdotool key ctrl+v; }
comment() { at 300 88 && xdotool key ctrl+a && type_text "$1"; }
save() { at 13 37 && sleep 1 && xdotool type "$1" && xdotool key Return && sleep 1; }

measure 100000 4.5
comment "Нагрев образца №1: феррит, печь на 60 °C"
save run-a.kdx
grab recording

measure 240000 3
comment "Остывание образца №2 на воздухе"
save run-b.kdx
measure 160000 3
comment "Повторный нагрев образца №1"
xdotool key Return && type_text "термопары T1-T3 у края, T4-T7 в центре"
save run-c.kdx

# The open dialog; the name typed leaves the dialog's completion list up as it closes, and
# the toolkit takes the next click to close that list: a click into the comment box.
at 36 37 && sleep 1 && xdotool type run-a.kdx && xdotool key Return && sleep 1.5
at 300 88
at 86 37 && sleep 1                                  # the comment catalogue
at 143 438 && type_text "нагрев"                     # "ИСКАТЬ"
at 325 438 && sleep 0.3 && at 325 438 && sleep 0.5   # "Поиск" twice: the second line found
grab catalogue

at 549 438 && sleep 0.5                              # "Отменить": the catalogue closes
at 516 37 && sleep 1.5                               # "500 байт": a new, unsaved read
grab shortread

# The least size (every control still reached; without a window manager nothing holds the
# window to it, so it is asked for), and the whole screen.
window=$(xdotool search --name "термопар" | head -1)
xdotool windowsize "$window" 712 470 && sleep 1
size=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: //p')
import -window root -crop "$size+0+0" +repage "$work/minimum.png"
xdotool windowsize "$window" 1280 1024 && sleep 1
import -window root -resize 50% "$work/fullscreen.png"

for name in recording catalogue shortread minimum fullscreen; do
    convert "$work/$name.png" -dither None -colors 48 -define png:compression-level=9 -strip \
        "PNG8:$root/docs/$name.png"
done
echo "docs/{recording,catalogue,shortread,minimum,fullscreen}.png written"
