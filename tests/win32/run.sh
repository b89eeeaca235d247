#!/usr/bin/env bash
# Builds the Windows shell with its resources for Windows (mingw-w64) and checks it under wine:
#   shell_test.exe  the resources, the window class, the menu, the accelerators and the about box
#   entry_test.exe  the entry (app/WinMain.cpp) with a recording App in place of the real one
# Uses the X display in DISPLAY when it answers, or else starts Xvfb on a free display and stops
# it afterwards.
#
# Usage: tests/win32/run.sh BUILD_DIR     (the programs and a private wine prefix go there)
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
out=$1
mkdir -p "$out"
out=$(cd "$out" && pwd)

cxx=x86_64-w64-mingw32-g++
windres=x86_64-w64-mingw32-windres
# Debian's wine64 package puts the 64-bit loader outside PATH; the wine package adds a wrapper.
wine=$(command -v wine64 || true)
if [ -z "$wine" ] && [ -x /usr/lib/wine/wine64 ]; then
    wine=/usr/lib/wine/wine64
fi
[ -n "$wine" ] || wine=$(command -v wine || true)
wineserver=$(command -v wineserver || true)
if [ -z "$wineserver" ] && [ -x /usr/lib/wine/wineserver64 ]; then
    wineserver=/usr/lib/wine/wineserver64
fi

# The display in DISPLAY, if there is one that answers (xdpyinfo checks when it is installed).
display_answers() {
    [ -n "${DISPLAY:-}" ] || return 1
    ! command -v xdpyinfo >/dev/null || xdpyinfo >/dev/null 2>&1
}

missing=()
command -v "$cxx" >/dev/null || missing+=("$cxx (package mingw-w64)")
command -v "$windres" >/dev/null || missing+=("$windres (package mingw-w64)")
[ -n "$wine" ] || missing+=("wine64 (package wine64)")
[ -n "$wineserver" ] || missing+=("wineserver (package wine64)")
display_answers || command -v Xvfb >/dev/null || missing+=("Xvfb (package xvfb)")
if [ "${#missing[@]}" -gt 0 ]; then
    echo "win32 test: cannot run, missing: ${missing[*]}; scripts/install-deps.sh installs them" >&2
    exit 1
fi

# --- Build -------------------------------------------------------------------------------------
app=$source_dir/app
tests=$source_dir/tests/win32
flags=(-std=c++17 -municode -O1 -Wall -Wextra -Werror -I"$app")
# Static runtime libraries, so that wine needs no DLL of the compiler's.
link=(-static -static-libgcc -static-libstdc++)

echo "win32 test: building in $out"
"$windres" -I "$app" "$app/Quorv.rc" -O coff -o "$out/Quorv.res.o"
"$cxx" "${flags[@]}" -o "$out/shell_test.exe" "$tests/shell_test.cpp" "$app/WinShell.cpp" \
    "$out/Quorv.res.o" "${link[@]}" -lgdi32
"$cxx" "${flags[@]}" -mwindows -o "$out/entry_test.exe" "$tests/entry_test.cpp" \
    "$app/WinMain.cpp" "$app/WinShell.cpp" "$out/Quorv.res.o" "${link[@]}"

# --- Display and wine --------------------------------------------------------------------------
xvfb_pid=""
export WINEPREFIX=$out/wineprefix WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko: the tests need neither, and their installers would ask.
export WINEDLLOVERRIDES="mscoree=;mshtml="
# shellcheck disable=SC2317  # run by the EXIT trap
cleanup() {
    "$wineserver" -k 2>/dev/null || true
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT

if ! display_answers; then
    # Xvfb picks a free display itself and writes its number to the given descriptor.
    display_file=$out/xvfb-display
    : >"$display_file"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" 2>"$out/xvfb.log" &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$display_file" ] && break
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.1
    done
    if ! [ -s "$display_file" ]; then
        echo "win32 test: Xvfb did not start (see $out/xvfb.log)" >&2
        exit 1
    fi
    display=$(head -n 1 "$display_file")
    export DISPLAY=:$display
fi

# The first start creates the prefix, which takes a while.
if ! [ -f "$WINEPREFIX/system.reg" ]; then
    echo "win32 test: creating the wine prefix"
    if ! timeout 300 "$wine" wineboot -i >"$out/wineboot.log" 2>&1; then
        echo "win32 test: wine could not create its prefix (see $out/wineboot.log)" >&2
        exit 1
    fi
fi
# Without a window manager, wine waits up to two seconds for every managed window it hides;
# the tests' windows need no management.
timeout 300 "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null

status=0
for program in shell_test entry_test; do
    echo "win32 test: running $program.exe under wine on display $DISPLAY"
    code=0
    (cd "$out" && timeout 300 "$wine" "$program.exe") || code=$?
    if [ "$code" -ne 0 ]; then
        echo "win32 test: $program.exe failed with exit status $code" >&2
        status=1
    fi
done
exit "$status"
