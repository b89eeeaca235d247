#!/usr/bin/env bash
# A private X server (Xvfb, with GLX) on a display number of its own, for every script and test
# that needs a screen where there is none.
#   scripts/private-x.sh [-s WxH] [-l LOG] COMMAND [ARG...]
#       runs COMMAND with DISPLAY set to a new server and stops the server afterwards; the exit
#       status is COMMAND's
#   scripts/private-x.sh [-s WxH] [-l LOG] --start
#       starts a server that outlives this script and prints ":N PID" on one line; the caller
#       stops it with kill PID
# The screen is 1280x960x24 unless -s says otherwise; the server's own messages go to LOG
# (default: nowhere).
set -euo pipefail
size=1280x960
log=/dev/null
while [ $# -gt 0 ]; do
  case "$1" in
    -s) size=$2; shift 2 ;;
    -l) log=$2; shift 2 ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: private-x.sh [-s WxH] [-l LOG] (COMMAND [ARG...] | --start)" >&2; exit 2; }
command -v Xvfb >/dev/null || { echo "private-x: Xvfb is not installed (package xvfb)" >&2; exit 2; }

# Xvfb picks a free display itself and writes its number to descriptor 3 once it accepts clients.
number_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 "${size}x24" +extension GLX -nolisten tcp -noreset \
  3>"$number_file" </dev/null >"$log" 2>&1 &
pid=$!
for _ in $(seq 200); do
  [ -s "$number_file" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
read -r number <"$number_file" || true
rm -f "$number_file"
if [ -z "${number:-}" ]; then
  kill "$pid" 2>/dev/null || true
  echo "private-x: Xvfb did not start (see $log)" >&2
  exit 1
fi

if [ "$1" = --start ]; then
  echo ":$number $pid"
  exit 0
fi

trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true' EXIT
status=0
DISPLAY=":$number" "$@" || status=$?
exit "$status"
