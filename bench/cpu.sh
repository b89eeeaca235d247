#!/usr/bin/env bash
# CPU per second of wall time of the whole exhibit, on the demo feed (30 fps) under a private X
# server (Mesa's software OpenGL): the program is started, its loading notice confirmed, and
# after WARMUP seconds its CPU time (all threads, user + system) is sampled over SECONDS.
# Prints the whole program's share of one core and each thread's.
#   bench/cpu.sh [SECONDS [WARMUP]]      (BUILD_DIR: the build folder, default build/)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
seconds=${1:-20}
warmup=${2:-5}
out=$(mktemp -d)
read -r display xvfb < <(bash "$top/scripts/private-x.sh" --start)
export DISPLAY="$display"
cleanup() {
  kill "${quorv:-}" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$out"
}
trap cleanup EXIT
cd "$top/exhibit"
QUORV_VIDEO="$top/exhibit/demo/demo-feed.avi" SDL_AUDIODRIVER=disk \
  SDL_DISKAUDIOFILE="$out/sound.raw" SDL_DISKAUDIODELAY=186 \
  "$build/quorv" >"$out/quorv.out" 2>&1 &
quorv=$!
for _ in $(seq 1 100); do
  notice=$(xdotool search --name "Cargando Quorv" 2>/dev/null | head -n 1 || true)
  [ -n "$notice" ] && break
  sleep 0.2
done
[ -n "${notice:-}" ] || { echo "cpu: no loading notice" >&2; cat "$out/quorv.out" >&2; exit 1; }
xdotool windowfocus --sync "$notice" key Return
sleep "$warmup"

# utime + stime (clock ticks) of the process and of each thread, by thread name.
ticks() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "$1"; }
snapshot() {
  echo "all $(ticks /proc/$quorv/stat)"
  for task in /proc/$quorv/task/*; do
    echo "$(tr ' ' '_' <"$task/comm")/${task##*/} $(ticks "$task/stat")"
  done
}
snapshot >"$out/before"
start=$(date +%s.%N)
sleep "$seconds"
snapshot >"$out/after"
end=$(date +%s.%N)
hz=$(getconf CLK_TCK)
awk -v wall="$(echo "$end - $start" | bc)" -v hz="$hz" '
  NR == FNR { before[$1] = $2; next }
  { used = ($2 - before[$1]) / hz / wall * 100
    if ($1 == "all") printf "whole program: %.1f %% of one core over %.1f s\n", used, wall
    else if (used >= 0.5) printf "  %-28s %5.1f %%\n", $1, used }' "$out/before" "$out/after"
xdotool key Escape || true
wait "$quorv" || true
