#!/usr/bin/env bash
# Installs every Debian package Quorv needs to build, run and test. Safe to run again:
# apt-get skips what is already there, and the package list is refreshed only when stale.
set -euo pipefail

packages=(
  # build
  build-essential cmake pkg-config git
  # scene graph, vision, dialog
  libopenscenegraph-dev openscenegraph
  libopencv-imgproc-dev libopencv-imgcodecs-dev libopencv-videoio-dev libopencv-calib3d-dev
  libgtk-3-dev
  # sound
  libsdl1.2-dev libsdl-mixer1.2-dev
  # tests
  libgtest-dev googletest
  # headless display, keys, screenshots, software OpenGL
  xvfb xauth xdotool x11-utils imagemagick libgl1-mesa-dri mesa-utils
  # media and asset generation
  ffmpeg espeak-ng sox python3
  # the movie plugin's sound track
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  # reading the text the program shows, in whole-program tests
  tesseract-ocr tesseract-ocr-spa
  # the Debian package (cpack's shlibdeps, the package's check) and the kiosk launcher's helpers
  dpkg-dev lintian x11-xserver-utils unclutter-xfixes
  # Windows shell, cross-compiled and run under wine
  mingw-w64 wine64 wine
  clang libclang-rt-14-dev  # fuzzing (scripts/fuzz.sh): clang with libFuzzer and the sanitizers
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
# Refresh the package lists when they are missing or older than a day.
stamp=/var/lib/apt/periodic/update-success-stamp
lists=$(find /var/lib/apt/lists -maxdepth 1 -name '*Packages*' 2>/dev/null | head -n 1)
if [ -z "$lists" ] || [ -z "$(find /var/lib/apt/lists -maxdepth 1 -newermt '-1 day' -name '*Packages*' 2>/dev/null | head -n 1)" ]; then
  $SUDO apt-get update -q
fi
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
