#!/usr/bin/env bash
# Draws the program icon (resources/app-icon.png): a dark rounded square with
# the accent gradient and a row of level bars. Needs ImageMagick.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$here/resources/app-icon.png}
size=256
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Rounded dark tile.
convert -size ${size}x${size} xc:none -fill '#141414' \
    -draw "roundrectangle 8,8 247,247 48,48" "$tmp/tile.png"

# Level bars, symmetric around the middle line, heights of a decaying wave.
bars=""
heights=(40 76 118 150 104 170 128 82 120 58 30)
x=30
for h in "${heights[@]}"; do
    top=$((128 - h / 2)); bottom=$((128 + h / 2))
    bars+="roundrectangle $x,$top $((x + 12)),$bottom 6,6 "
    x=$((x + 18))
done
convert -size ${size}x${size} xc:none -fill white -draw "$bars" "$tmp/mask.png"
convert -size ${size}x${size} gradient:'#00f2ff'-'#2a82da' "$tmp/gradient.png"
convert "$tmp/gradient.png" "$tmp/mask.png" -alpha off -compose CopyOpacity -composite "$tmp/bars.png"

# Accent line along the bottom edge of the tile, as on the splash screen.
convert -size ${size}x${size} xc:none -fill '#2a82da' \
    -draw "roundrectangle 40,226 215,231 2,2" "$tmp/accent.png"

convert "$tmp/tile.png" "$tmp/bars.png" -composite "$tmp/accent.png" -composite \
    -strip -define png:exclude-chunks=date,time "$out"
echo "make-app-icon: wrote $out"
