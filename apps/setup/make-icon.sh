#!/bin/sh
# Draws the program's icon (a disc over the backdrop's blue gradient, with a down arrow) into the .ico
# file named by $1, at 48, 32 and 16 pixels. Needs ImageMagick.
set -eu
out=$1
convert=/usr/bin/convert
[ -x "$convert" ] || convert=convert
"$convert" -size 256x256 gradient:'#2040ff-#000080' \
  \( -size 256x256 xc:none -fill '#e8eef8' -stroke '#8090b0' -strokewidth 6 -draw 'circle 128,128 128,20' \
     -fill '#000080' -stroke none -draw 'circle 128,128 128,104' \) -composite \
  -fill '#ffa020' -stroke '#803000' -strokewidth 6 \
  -draw 'polygon 100,40 156,40 156,150 196,150 128,226 60,150 100,150' \
  -define icon:auto-resize=48,32,16 "$out"
