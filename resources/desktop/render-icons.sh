#!/usr/bin/env bash
# Renders lv26.svg into the PNG sizes kept beside it (the icon theme's fixed sizes and the
# window icon). Run after changing the drawing and commit the PNGs with it.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 32 48 64 128 256; do
    rsvg-convert --width "$size" --height "$size" lv26.svg --output "lv26-$size.png"
done
