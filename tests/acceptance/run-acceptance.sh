#!/usr/bin/env bash
# Runs the acceptance test on a virtual X display of its own. Exits with 77 (reported as
# skipped) when a program the test needs is not installed; scripts/install-deps.sh installs
# them all.
set -u
test_binary=$1
shift
export PATH="$PATH:/usr/sbin:/sbin"

missing=()
for program in xvfb-run Xvfb xauth xclip xprop cupsd lpadmin lpstat pdftoppm; do
    command -v "$program" >/dev/null 2>&1 || missing+=("$program")
done
[[ -e /usr/lib/cups/backend/cups-pdf ]] || missing+=("cups-pdf (printer-driver-cups-pdf)")
if [[ ${#missing[@]} -gt 0 ]]; then
    echo "SKIPPED: the acceptance test needs ${missing[*]}; run scripts/install-deps.sh"
    exit 77
fi

# Settings, dialogs and the clipboard work on the X display, not on the offscreen platform.
export QT_QPA_PLATFORM=xcb
# A window manager frames the windows as on a desktop (the geometry test needs one; it is
# skipped without).
if command -v openbox >/dev/null 2>&1; then
    export FERRUN_WINDOW_MANAGER=openbox
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash -c '
    if [[ -n ${FERRUN_WINDOW_MANAGER:-} ]]; then
        openbox --sm-disable >/dev/null 2>&1 &
        manager=$!
        # The manager owns the screen once it has set its check window.
        for _ in $(seq 100); do
            xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
            sleep 0.05
        done
    fi
    "$@"
    status=$?
    [[ -n ${manager:-} ]] && kill "$manager" 2>/dev/null
    exit $status
' run-acceptance "$test_binary" "$@"
