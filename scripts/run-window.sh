#!/usr/bin/env bash
# Starts the window on the board simulator; under xvfb-run when there is no display.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/bin/ferrun
args=(--simulator "$@")
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "No display: starting under xvfb-run (virtual screen)."
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$bin" "${args[@]}"
fi
exec "$bin" "${args[@]}"
