#!/bin/sh
# Runs the given commands one after another on a virtual X server of their own, under a window
# manager (windows are activated as on a desktop), with the toolkit's X11 platform.
# Usage: with-x11.sh COMMAND [COMMAND...]   (each a single program path)
# Exit status: that of the first command that fails, 0 when all pass.
set -u
if [ -z "${WITH_X11_INNER:-}" ]; then
    WITH_X11_INNER=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
openbox >/dev/null 2>&1 &
wm=$!
# The manager is up once it has named itself on the root window.
tries=0
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; do
    tries=$((tries + 1))
    if [ "$tries" -gt 200 ] || ! kill -0 "$wm" 2>/dev/null; then
        echo "with-x11: the window manager did not start" >&2
        kill "$wm" 2>/dev/null
        exit 1
    fi
    sleep 0.05
done
status=0
for program in "$@"; do
    QT_QPA_PLATFORM=xcb "$program" || { status=$?; break; }
done
kill "$wm" 2>/dev/null
wait "$wm" 2>/dev/null
exit "$status"
