#!/bin/sh
# Makes the benchmark's fourth marker: a pattern image drawn with ImageMagick (a black
# triangle in the upper left, a bar down the right side and a disc at the lower left, so no
# quarter turn looks like another), its printable 120 mm marker and its pattern file, all
# beside this script.
# Usage: bench/make-fourth-marker.sh [BUILD_DIR]   (BUILD_DIR holds quorv-mkpatt; default build)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
convert -size 256x256 xc:white -fill black \
    -draw "polygon 20,20 140,20 20,140" -draw "rectangle 196,20 236,236" \
    -draw "circle 72,190 72,230" \
    -strip "$here/fourth-pattern.png"
"$build/quorv-mkpatt" print "$here/fourth-pattern.png" -o "$here/fourth-marker.png" \
    --width-mm 120 --dpi 100 --pixel-art
"$build/quorv-mkpatt" patt "$here/fourth-marker.png" -o "$here/patt.fourth"
