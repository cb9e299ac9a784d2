#!/usr/bin/env bash
# Renders the menu icons (hicolor PNGs) from velmarrow.svg. Run after changing the SVG and
# commit the PNGs: the build only installs them. Needs rsvg-convert (Debian: librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" velmarrow.svg --output "velmarrow-$size.png"
  echo "velmarrow-$size.png"
done
