#!/usr/bin/env bash
# Makes the exhibit's demo feed, played when no camera is present: the three exhibit markers
# coming into view, moving, tilting, leaving and coming back, rendered by quorv-synth from
# exhibit/demo/demo-feed.txt through the shipped calibration exhibit/camera_para.dat:
#   exhibit/demo/demo-feed.avi          30 s, 640x480, 30 fps, Motion JPEG
#   exhibit/demo/demo-feed.truth.jsonl  per-frame ground truth (tools/synth/README.md)
#
# Usage: scripts/make-demo-feed.sh [BUILD_DIR]   (default: $BUILD_DIR or build; quorv-synth is
# built if missing). Running it again gives the same pictures.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${BUILD_DIR:-$root/build}}
synth=$build/quorv-synth
if [ ! -x "$synth" ]; then
  cmake -S "$root" -B "$build" >/dev/null
  cmake --build "$build" -j2 --target quorv-synth
fi

demo=$root/exhibit/demo
for name in tovex camara roundplay; do
  if [ ! -f "$root/exhibit/data_Tovarin/$name-marker.png" ]; then
    echo "make-demo-feed: exhibit/data_Tovarin/$name-marker.png missing; run scripts/make-markers.sh" >&2
    exit 1
  fi
done
"$synth" "$demo/demo-feed.txt" -o "$demo/demo-feed.avi" --truth "$demo/demo-feed.truth.jsonl"
ls -l "$demo/demo-feed.avi" | awk '{ printf "make-demo-feed: %s, %.1f MB\n", $NF, $5 / 1e6 }'
