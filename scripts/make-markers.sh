#!/usr/bin/env bash
# Makes the exhibit's three markers from their artwork, which is drawn here:
#   assets/markers/<name>.png            the pattern artwork (inner area only, 400x400)
#   exhibit/data_Tovarin/<name>-marker.png the printable marker, 120 mm wide at 300 dpi
#   exhibit/data_Tovarin/patt.<name>     its pattern file, sampled from the printable marker
#   exhibit/sheets/<name>-sheet.png      an A4 page at 300 dpi: marker, caption, scale bar
# then checks that the three patterns and patt.hiro stay well apart in correlation.
#
# Usage: scripts/make-markers.sh [BUILD_DIR]   (default: $BUILD_DIR or build; quorv-mkpatt is
# built if missing)
# Needs ImageMagick (convert). Running it again gives the same files.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${BUILD_DIR:-$root/build}}
mkpatt=$build/quorv-mkpatt
if [ ! -x "$mkpatt" ]; then
  cmake -S "$root" -B "$build" >/dev/null
  cmake --build "$build" -j2 --target quorv-mkpatt
fi

art=$root/assets/markers
data=$root/exhibit/data_Tovarin
sheets=$root/exhibit/sheets
mkdir -p "$art" "$data" "$sheets"
width_mm=120
# Most correlation allowed between any two of the markers (and patt.hiro), in any orientation.
# The detector accepts a match from 0.5 on, so anything near that could be mistaken.
max_correlation=0.45

# Same bytes on every run: no time stamps in the PNG files ImageMagick writes.
stable=(-define png:exclude-chunk=date,time,tIME +set date:create +set date:modify)

# Artwork: black shapes on white, 400x400, kept clear of the border (a 25 px white rim) and with
# no rotational symmetry, so each marker's orientation is unambiguous.
draw() {
  local name=$1
  shift
  convert -size 400x400 xc:white -fill black "$@" -type Grayscale -strip "${stable[@]}" "$art/$name.png"
}

# A figure with a raised pointing arm and a ring at its feet: the guide character.
draw tovex \
  -draw "circle 110,90 110,45" \
  -draw "roundrectangle 65,150 155,290 20,20" \
  -draw "polygon 155,165 330,60 355,95 170,215" \
  -draw "rectangle 70,285 105,380" -draw "rectangle 115,285 150,350" \
  -draw "rectangle 115,320 190,350" \
  -draw "circle 300,310 300,250" -fill white -draw "circle 300,310 300,280"

# A film camera: two reels of different sizes, body with a lens, hood and a stand.
draw camara \
  -draw "circle 110,100 110,25" -fill white -draw "circle 110,100 110,70" -fill black \
  -draw "circle 250,120 250,70" -fill white -draw "circle 250,120 250,100" -fill black \
  -draw "roundrectangle 25,190 280,330 15,15" \
  -draw "polygon 280,235 380,185 380,335 280,285" \
  -fill white -draw "circle 150,260 150,300" -fill black -draw "circle 150,260 150,280" \
  -draw "rectangle 60,350 250,380"

# A round play button off centre, with a small square mark in the top-left corner.
draw roundplay \
  -draw "circle 230,220 230,60" -fill white -draw "circle 230,220 230,100" \
  -fill black -draw "polygon 190,150 190,290 310,220" \
  -draw "rectangle 25,25 85,85"

a4=(2480 3508)  # A4 at 300 dpi
for name in tovex camara roundplay; do
  marker=$data/$name-marker.png
  "$mkpatt" print "$art/$name.png" -o "$marker" --width-mm "$width_mm" --dpi 300
  "$mkpatt" patt "$marker" -o "$data/patt.$name"

  # Sizes below are pixels at 300 dpi; point sizes are real points because the density is set
  # before drawing.
  side=$(convert "$marker" -format %w info:)
  bottom=$((450 + side))
  bar=$(( (100 * 300 * 10 + 127) / 254 ))  # 100 mm
  left=$(( (a4[0] - bar) / 2 )) right=$(( (a4[0] + bar) / 2 )) y=$((bottom + 480))
  convert -units PixelsPerInch -density 300 -size "${a4[0]}x${a4[1]}" xc:white \
    "$marker" -gravity north -geometry +0+450 -composite \
    -font DejaVu-Sans-Bold -pointsize 26 -fill black -annotate +0+$((bottom + 110)) "patt.$name" \
    -font DejaVu-Sans -pointsize 10 \
    -annotate +0+$((bottom + 270)) "Quorv exhibit marker. Print at actual size (100 %%, no fitting to the page):" \
    -annotate +0+$((bottom + 320)) "the black square must measure ${width_mm} mm. Keep the white paper around it." \
    -stroke black -strokewidth 6 \
    -draw "line $left,$y $right,$y" -draw "line $left,$((y - 25)) $left,$((y + 25))" \
    -draw "line $right,$((y - 25)) $right,$((y + 25))" \
    -stroke none -annotate +0+$((y + 45)) "100 mm" \
    -type Grayscale -strip "${stable[@]}" "$sheets/$name-sheet.png"
done

hiro=$root/tests/data/patt.hiro
patterns=("$data/patt.tovex" "$data/patt.camara" "$data/patt.roundplay")
[ -f "$hiro" ] && patterns+=("$hiro")
report=$("$mkpatt" compare "${patterns[@]}")
echo "$report" | sed "s|$root/||g"
highest=$(echo "$report" | awk '/^highest/ { print $2 }')
if awk -v h="$highest" -v m="$max_correlation" 'BEGIN { exit !(h > m) }'; then
  echo "make-markers: markers too alike (highest correlation $highest > $max_correlation)" >&2
  exit 1
fi
echo "make-markers: done, highest correlation $highest"
