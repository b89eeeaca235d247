#!/usr/bin/env bash
# Installs what Quorv needs, builds it and runs the exhibit in exhibit/.
#
# The picture comes from QUORV_VIDEO when it is set (a device such as /dev/video1, or a video
# file), else from the first camera when there is one, else from the bundled demo feed.
# With a display, the exhibit runs until its window is closed or Escape is pressed. Without
# one, it runs on a private X server for QUORV_DEMO_SECONDS (default 62: the demo feed's whole
# visit of a minute), confirms the loading notice by itself, and saves screenshots (and a
# recording of the screen) in out/demo/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/install-deps.sh
bash scripts/build.sh
build=${BUILD_DIR:-$top/build}

if [ -z "${QUORV_VIDEO:-}" ]; then
  if [ -e /dev/video0 ]; then
    echo "run-exhibit: using the camera /dev/video0"
  else
    feed="$top/exhibit/demo/demo-feed.avi"
    [ -f "$feed" ] || bash scripts/make-demo-feed.sh
    export QUORV_VIDEO="$feed"
    echo "run-exhibit: no camera found; playing the demo feed $feed"
  fi
fi

cd "$top/exhibit"
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec "$build/quorv"
fi

# No display: a private X server, the notice confirmed by a key press, screenshots on the way.
out="$top/out/demo"
rm -rf "$out"
mkdir -p "$out"
seconds=${QUORV_DEMO_SECONDS:-62}
read -r display xvfb < <(bash "$top/scripts/private-x.sh" -l "$out/xvfb.log" --start)
[ -n "${display:-}" ] || { echo "run-exhibit: no private X server (see $out/xvfb.log)" >&2; exit 1; }
export DISPLAY="$display"
cleanup() {
  [ -n "${recorder:-}" ] && kill "$recorder" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT

echo "run-exhibit: no display; running on the private X server $DISPLAY for ${seconds}s"
# Without a sound card the phrase is written to a file instead, at a real device's pace.
if [ -z "${SDL_AUDIODRIVER:-}" ] && [ ! -e /dev/snd ]; then
  export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$out/sound.raw" SDL_DISKAUDIODELAY=186
fi
"$build/quorv" >"$out/quorv.out" 2>"$out/quorv.err" &
quorv=$!
for _ in $(seq 1 100); do
  notice=$(xdotool search --name "Cargando Quorv" 2>/dev/null | head -n 1 || true)
  [ -n "$notice" ] && break
  sleep 0.2
done
if [ -z "${notice:-}" ]; then
  echo "run-exhibit: the loading notice did not appear; see $out/quorv.err" >&2
  cat "$out/quorv.err" >&2
  exit 1
fi
import -window root "$out/00-notice.png"
xdotool windowfocus --sync "$notice" key Return
if command -v ffmpeg >/dev/null; then
  ffmpeg -loglevel error -f x11grab -framerate 15 -video_size 1280x960 -i "$DISPLAY" \
    -t "$seconds" -c:v libx264 -preset ultrafast -pix_fmt yuv420p "$out/screen.mp4" &
  recorder=$!
fi
shots=8
for i in $(seq 1 $shots); do
  sleep $(( (seconds + shots - 1) / shots ))
  kill -0 "$quorv" 2>/dev/null || break
  import -window root "$out/$(printf '%02d' "$i")-exhibit.png"
done
xdotool key Escape
status=0
wait "$quorv" || status=$?
[ -n "${recorder:-}" ] && wait "$recorder" 2>/dev/null || true
recorder=""
if [ -s "$out/sound.raw" ] && command -v sox >/dev/null; then
  sox -t raw -r 22050 -e signed-integer -b 16 -c 2 "$out/sound.raw" "$out/sound.wav" && rm -f "$out/sound.raw"
fi
echo "run-exhibit: quorv ended with status $status"
echo "run-exhibit: screenshots, screen recording, sound (sound.wav) and program output are in $out"
ls "$out"
exit "$status"
