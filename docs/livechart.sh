#!/usr/bin/env bash
# Takes the README's picture of a transfer drawn as its blocks arrive: `ferrun` on the board
# program paced at 921600 bit/s behind a USB bridge that holds each packet's tail for 16 ms
# (a full transfer then takes about 21 s), on a virtual X display under openbox. F5 starts a
# measurement of the first-run settings; the window is grabbed four times during its transfer
# and once complete. Writes docs/livechart.png (the four moments, two by two) and
# docs/livechart-done.png. Needs Xvfb, openbox, xdotool and ImageMagick.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
program="$root/build/bin/ferrun"
board_program="$root/build/bin/ferrun-board"
[[ -x "$program" && -x "$board_program" ]] || { echo "build first: make build" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

display=:$((100 + $$ % 400))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display LC_ALL=C.UTF-8 XDG_DATA_HOME=$work/data
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 0.5

# The recording itself at twenty times its speed: the picture is about the transfer.
"$board_program" --seed 3 --speed 20 --wire-rate 921600 --bridge-latency 16 --quiet \
    >"$work/device" &
pids+=($!)
for _ in $(seq 50); do [[ -s "$work/device" ]] && break; sleep 0.1; done
cp "$program" "$work/ferrun"
cd "$work"
./ferrun --device "$(head -1 "$work/device")" >/dev/null 2>&1 &
pids+=($!)
window=$(xdotool search --sync --name "термопар" | head -1)
xdotool windowactivate --sync "$window"
sleep 1

grab() { import -window "$window" "$work/$1.png"; }
xdotool key F5
# The recording lasts 5 s at this speed; the transfer begins then and lasts about 21 s.
sleep 7
for moment in 1 2 3 4; do
    grab "moment$moment"
    sleep 4.5
done
sleep 6
grab done

montage "$work"/moment{1,2,3,4}.png -tile 2x2 -geometry +4+4 -background '#c0c0c0' \
    "$work/series.png"
for name in series done; do
    target=$([[ $name == series ]] && echo livechart || echo livechart-done)
    convert "$work/$name.png" -dither None -colors 64 -define png:compression-level=9 -strip \
        "PNG8:$root/docs/$target.png"
done
echo "docs/livechart.png and docs/livechart-done.png written"
