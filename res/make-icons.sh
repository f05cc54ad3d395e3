#!/usr/bin/env bash
# Draws the program's icon (a speaker with two sound waves on a rounded tile) at 256 px and
# scales it to the other sizes. Needs ImageMagick. Output: icons/quavix-<size>.png, 32-bit RGBA.
set -euo pipefail
cd "$(dirname "$0")/icons"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Whole rings, cut down to a 100-degree wedge opening to the right.
convert -size 256x256 xc:none -fill none -stroke white -strokewidth 16 \
  -draw 'circle 128,128 174,128' -draw 'circle 128,128 212,128' "$work/rings.png"
convert -size 256x256 xc:none -fill white -draw 'polygon 128,128 256,-25 256,281' "$work/wedge.png"
convert "$work/rings.png" "$work/wedge.png" -compose DstIn -composite "$work/waves.png"
convert -size 256x256 xc:none \
  -fill '#1f5fa8' -draw 'roundrectangle 8,8 247,247 44,44' \
  -fill '#2f7fd8' -draw 'roundrectangle 8,8 247,160 44,44' \
  -fill '#1f5fa8' -draw 'rectangle 8,120 247,170' \
  -fill white -draw 'polygon 36,100 72,100 124,56 124,200 72,156 36,156' \
  "$work/waves.png" -compose Over -composite \
  PNG32:quavix-256.png
for size in 64 48 32 16; do
  convert quavix-256.png -filter Lanczos -resize "${size}x${size}" PNG32:"quavix-${size}.png"
done
