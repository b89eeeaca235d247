#!/usr/bin/env bash
# Holds the exhibit up for a long run: the whole exhibit (real plugins, movie, sound on SDL's
# dummy driver) on the looped demo visit, on a private X server, for SOAK_SECONDS (default
# 1320, 22 minutes). Every 10 s it records resident and private memory and frame-loop pass times in
# out/soak/soak.log; at the end it prints the memory growth after the first minute, the median
# and 99th-percentile pass time, the longest pass (a stall shows there), and whether the run
# ended normally. Not part of the tests: run it by hand after building.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
seconds=${SOAK_SECONDS:-1320}
feed=${QUORV_VIDEO:-$top/exhibit/demo/demo-feed.avi}
out="$top/out/soak"
mkdir -p "$out"
read -r display xvfb < <(bash "$top/scripts/private-x.sh" -l "$out/xvfb.log" --start)
[ -n "${display:-}" ] || { echo "soak: no private X server (see $out/xvfb.log)" >&2; exit 1; }
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
echo "soak: ${seconds}s on $feed, display $display; log in $out/soak.log"
status=0
DISPLAY="$display" "$build/quorv-bench-video" soak "$top/exhibit" "$feed" "$seconds" \
  >"$out/soak.log" 2>"$out/soak.err" || status=$?
tail -n 3 "$out/soak.log"
# Lines of figures start with the elapsed seconds; the program's own lines are left out.
awk '/^[0-9]/ { if ($6 + 0 > worst) worst = $6 + 0 } END { printf "soak: longest pass in any 10 s window: %.1f ms\n", worst }' "$out/soak.log"
# The program hands free pages back once a minute, so single samples of private memory rise
# and fall within each minute; whole minutes are compared instead: the mean of the second
# minute against the mean of the last.
awk '/^[0-9]/ && NF >= 8 { m = int(($1 - 1) / 60); sum[m] += $8; n[m]++; if (m > last) last = m }
  END { if (last >= 2) printf "soak: private dirty memory, mean of a minute: %.1f MB in the second, %.1f MB in the last, growth %+.1f MB\n", sum[1] / n[1] / 1024, sum[last] / n[last] / 1024, (sum[last] / n[last] - sum[1] / n[1]) / 1024 }' "$out/soak.log"
if [ "$status" -eq 0 ]; then echo "soak: ended normally"; else echo "soak: FAILED with status $status (see $out/soak.err)"; fi
exit "$status"
