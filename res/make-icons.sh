#!/usr/bin/env bash
# Draws the program's icon (a speaker with two sound waves on a rounded tile) at 256 px and at
# 512 px, and scales them to the other sizes. Needs ImageMagick. Output: icons/quavix-<size>.png,
# 32-bit RGBA. The control page's manifest uses 192 and 512 (what a phone's home screen asks).
set -euo pipefail
cd "$(dirname "$0")/icons"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# draw SCALE OUTPUT: the 256 px drawing with every length times SCALE.
draw() {
  local k=$1 out=$2 s=$((256 * $1))
  # Whole rings, cut down to a 100-degree wedge opening to the right.
  convert -size "${s}x${s}" xc:none -fill none -stroke white -strokewidth $((16 * k)) \
    -draw "circle $((128 * k)),$((128 * k)) $((174 * k)),$((128 * k))" \
    -draw "circle $((128 * k)),$((128 * k)) $((212 * k)),$((128 * k))" "$work/rings.png"
  convert -size "${s}x${s}" xc:none -fill white \
    -draw "polygon $((128 * k)),$((128 * k)) $s,$((-25 * k)) $s,$((281 * k))" "$work/wedge.png"
  convert "$work/rings.png" "$work/wedge.png" -compose DstIn -composite "$work/waves.png"
  convert -size "${s}x${s}" xc:none \
    -fill '#1f5fa8' -draw "roundrectangle $((8 * k)),$((8 * k)) $((248 * k - 1)),$((248 * k - 1)) $((44 * k)),$((44 * k))" \
    -fill '#2f7fd8' -draw "roundrectangle $((8 * k)),$((8 * k)) $((248 * k - 1)),$((160 * k)) $((44 * k)),$((44 * k))" \
    -fill '#1f5fa8' -draw "rectangle $((8 * k)),$((120 * k)) $((248 * k - 1)),$((170 * k))" \
    -fill white -draw "polygon $((36 * k)),$((100 * k)) $((72 * k)),$((100 * k)) $((124 * k)),$((56 * k)) $((124 * k)),$((200 * k)) $((72 * k)),$((156 * k)) $((36 * k)),$((156 * k))" \
    "$work/waves.png" -compose Over -composite \
    PNG32:"$out"
}
draw 1 quavix-256.png
draw 2 quavix-512.png
for size in 64 48 32 16; do
  convert quavix-256.png -filter Lanczos -resize "${size}x${size}" PNG32:"quavix-${size}.png"
done
convert quavix-512.png -filter Lanczos -resize 192x192 PNG32:quavix-192.png
