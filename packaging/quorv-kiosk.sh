#!/usr/bin/env bash
# quorv-kiosk: runs the Quorv exhibit unattended on the current display (installed as
# bin/quorv-kiosk; the user unit quorv.service starts it in the graphical session).
#
# The exhibit folder is QUORV_EXHIBIT, read from /etc/default/quorv (or the file named by
# QUORV_DEFAULTS), by default the installed share/quorv/exhibit. While Quorv runs, screen blanking
# and power saving are off and the mouse pointer is hidden (unclutter-xfixes); both are put back
# when it ends. The loading notice is confirmed by sending it Return (xdotool) once it has been
# shown for QUORV_CONFIRM_AFTER seconds (default 3); QUORV_CONFIRM_AFTER=no leaves it for someone
# at the keyboard.
#
# The exit status is Quorv's: 0 after Escape, 255 after a fatal start-up error (bad calibration,
# missing plugin), 128+N when signal N ended it. quorv.service restarts it on any failure but 255,
# which would only fail again.
set -uo pipefail

say() { echo "quorv-kiosk: $*" >&2; }

here=$(dirname "$(readlink -f "$0")")
defaults=${QUORV_DEFAULTS:-/etc/default/quorv}
if [ -r "$defaults" ]; then  # its settings are exported: QUORV_VIDEO is for Quorv itself
    set -a
    # shellcheck disable=SC1090
    . "$defaults"
    set +a
fi
exhibit=${QUORV_EXHIBIT:-$here/../share/quorv/exhibit}
confirm_after=${QUORV_CONFIRM_AFTER:-3}

[ -n "${DISPLAY:-}" ] || { say "no DISPLAY: start it in the graphical session"; exit 255; }
cd "$exhibit" 2>/dev/null || { say "no exhibit folder at $exhibit (QUORV_EXHIBIT in $defaults)"; exit 255; }
[ -x "$here/quorv" ] || { say "no program at $here/quorv"; exit 255; }

helpers=()
restore=()
finish() {
    [ "${#helpers[@]}" -gt 0 ] && kill "${helpers[@]}" 2>/dev/null
    for command in "${restore[@]}"; do $command >/dev/null 2>&1; done
}
trap finish EXIT

# Screen saver and DPMS: note how they are, then turn them off.
if command -v xset >/dev/null && settings=$(xset q 2>/dev/null); then
    timeout=$(awk '/timeout:/ { print $2 }' <<<"$settings")
    cycle=$(awk '/cycle:/ { print $4 }' <<<"$settings")
    blanking=$(awk '/prefer blanking:/ { print $3 }' <<<"$settings")
    restore+=("xset s ${timeout:-600} ${cycle:-600}")
    [ "$blanking" = no ] && restore+=("xset s noblank") || restore+=("xset s blank")
    grep -q "DPMS is Enabled" <<<"$settings" && restore+=("xset +dpms")
    xset s off s noblank
    xset -dpms 2>/dev/null || true  # a server without DPMS has no power saving to stop
else
    say "xset not found (package x11-xserver-utils): the screen may blank during the exhibit"
fi

if command -v unclutter-xfixes >/dev/null; then
    unclutter-xfixes --timeout 1 --start-hidden &
    helpers+=($!)
else
    say "unclutter-xfixes not found: the mouse pointer stays visible"
fi

# Stopping the kiosk (systemctl stop, Ctrl-C) stops Quorv first.
trap '[ -n "${quorv:-}" ] && kill -TERM "$quorv" 2>/dev/null' TERM INT HUP
"$here/quorv" &
quorv=$!

if [ "$confirm_after" != no ]; then
    if command -v xdotool >/dev/null; then
        xdotool search --sync --onlyvisible --limit 1 --name '^Cargando Quorv$' \
            sleep "$confirm_after" windowfocus --sync %1 key Return >/dev/null &
        helpers+=($!)
    else
        say "xdotool not found (package xdotool): the loading notice waits for a key or a click"
    fi
fi

# A trapped signal interrupts wait; wait again until Quorv has really ended.
wait "$quorv"
status=$?
while kill -0 "$quorv" 2>/dev/null; do
    wait "$quorv"
    status=$?
done
[ "$status" -eq 255 ] && say "Quorv could not start (status 255; its message is above)"
[ "$status" -gt 128 ] && [ "$status" -ne 255 ] && say "Quorv was ended by signal $((status - 128))"
exit "$status"
