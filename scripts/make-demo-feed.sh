#!/usr/bin/env bash
# Makes the exhibit's demo feed, played when no camera is present: a whole visit of a minute,
# the three exhibit markers coming into view, moving, tilting, leaving and coming back (the
# timeline is in exhibit/demo/demo-feed.txt), rendered by quorv-synth through the shipped
# calibration exhibit/camera_para.dat:
#   exhibit/demo/demo-feed.avi          60 s, 640x480, 30 fps, H.264 in AVI
#   exhibit/demo/demo-feed.truth.jsonl  per-frame ground truth (tools/synth/README.md)
#
# Every frame carries its own number, so that a screenshot of the program tells which frame of
# the feed it shows: two rows of twelve 16x16 cells, one along the top edge from the left
# corner and one along the bottom edge ending at the right corner. Cell k (k = 0..10) is black
# when bit k of the frame number is set, white otherwise; cell 11 is black when an even number
# of the other cells are, so that a row all black or all white never reads as a number. The script keeps the markers away from both corners.
#
# Usage: scripts/make-demo-feed.sh [BUILD_DIR [OUTPUT_FOLDER]]   (default: $BUILD_DIR or build,
# and exhibit/demo; quorv-synth is built if missing). Running it again gives the same pictures.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${BUILD_DIR:-$root/build}}
out=${2:-$root/exhibit/demo}
synth=$build/quorv-synth
if [ ! -x "$synth" ]; then
  cmake -S "$root" -B "$build" >/dev/null
  cmake --build "$build" -j2 --target quorv-synth
fi
if ! command -v ffmpeg >/dev/null; then
  echo "make-demo-feed: ffmpeg is not installed (apt-get install ffmpeg)" >&2
  exit 1
fi
for name in tovex camara roundplay; do
  if [ ! -f "$root/exhibit/data_Tovarin/$name-marker.png" ]; then
    echo "make-demo-feed: exhibit/data_Tovarin/$name-marker.png missing; run scripts/make-markers.sh" >&2
    exit 1
  fi
done
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The visit at high quality first; the committed feed is encoded once, from it.
"$synth" "$root/exhibit/demo/demo-feed.txt" -o "$work/visit.avi" --quality 95 \
  --truth "$out/demo-feed.truth.jsonl"

# The frame number: white rows, then a black cell wherever its bit is set. n is the frame index.
cells=12
side=16
parity=""
for bit in $(seq 0 10); do parity="$parity+mod(floor(n/$((1 << bit))),2)"; done
parity="eq(mod(${parity#+},2),0)"
{
  for row in "0 0" "$((640 - cells * side)) $((480 - side))"; do
    read -r x0 y0 <<<"$row"
    echo "drawbox=x=$x0:y=$y0:w=$((cells * side)):h=$side:color=white:t=fill,"
    for bit in $(seq 0 10); do
      echo "drawbox=x=$((x0 + bit * side)):y=$y0:w=$side:h=$side:color=black:t=fill:enable='eq(mod(floor(n/$((1 << bit))),2),1)',"
    done
    echo "drawbox=x=$((x0 + 11 * side)):y=$y0:w=$side:h=$side:color=black:t=fill:enable='$parity',"
  done
  echo "format=yuv420p"
} >"$work/stamp.filter"

# H.264 without B-frames (AVI has no room for reordered timestamps); CRF 20 keeps the marker
# edges and the cells crisp at a few megabytes a minute.
ffmpeg -hide_banner -loglevel error -y -i "$work/visit.avi" -filter_script:v "$work/stamp.filter" \
  -c:v libx264 -preset slow -crf 20 -bf 0 -g 30 -threads 2 -fflags +bitexact -flags:v +bitexact \
  -an "$out/demo-feed.avi"
ls -l "$out/demo-feed.avi" | awk '{ printf "make-demo-feed: %s, %.1f MB\n", $NF, $5 / 1e6 }'
