#!/usr/bin/env bash
# Makes packaging/foliant.ico (16, 32, 48 and 256 pixels) from
# packaging/foliant.svg. The .ico is committed, so builds need neither tool:
# run this after changing the drawing (Debian: librsvg2-bin, icoutils).
set -euo pipefail
cd "$(dirname "$0")/.."
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for size in 16 32 48 256; do
  rsvg-convert --width "$size" --height "$size" packaging/foliant.svg --output "$scratch/$size.png"
done
# The small sizes as bitmaps, which every reader of icons takes; the large
# one as PNG, as Windows stores it.
icotool --create --output packaging/foliant.ico \
  "$scratch/16.png" "$scratch/32.png" "$scratch/48.png" --raw="$scratch/256.png"
