#!/usr/bin/env bash
# Renders the program's icon (app/desktop/icons/orvane.svg) to the PNG sizes
# the window and the hicolor theme use. Run again after changing the drawing;
# needs rsvg-convert (Debian: librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../app/desktop/icons"
for size in 16 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" orvane.svg -o "orvane-$size.png"
done
