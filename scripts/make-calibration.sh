#!/usr/bin/env bash
# Writes exhibit/camera_para.dat: a typical 640x480 webcam (about 60 degrees across), principal
# point at the image centre, a slight barrel distortion. Run after building (build/quorv-mkcalib).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
"$build/quorv-mkcalib" write "$top/exhibit/camera_para.dat" 640 480 \
    560.0 560.0 319.5 239.5   319.5 239.5 4.0 1.0
