#!/usr/bin/env bash
# Renders the program's icon (packaging/icons/*.svg) into the PNG sizes that are installed and
# built into the window. Run it after changing the SVG and commit the PNGs with it.
# Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
icons="$(cd "$(dirname "$0")/.." && pwd)/packaging/icons"
command -v rsvg-convert >/dev/null || { echo "render-icons.sh: rsvg-convert is missing (apt-get install librsvg2-bin)" >&2; exit 1; }
for svg in "$icons"/*.svg; do
  name="$(basename "$svg" .svg)"
  for size in 48 128 256; do
    rsvg-convert -w "$size" -h "$size" "$svg" -o "$icons/$name-$size.png"
  done
done
