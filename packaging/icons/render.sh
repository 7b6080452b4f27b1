#!/usr/bin/env bash
# Renders the PNG sizes of the application icon from ferrun.svg (needs rsvg-convert, Debian
# package librsvg2-bin). The PNGs are kept in the repository, so building needs no renderer.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 24 32 48 64 128 256; do
    rsvg-convert --width "$size" --height "$size" --output "ferrun-$size.png" ferrun.svg
done
