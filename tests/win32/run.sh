#!/usr/bin/env bash
# Builds the Windows entry and shell with their resources (mingw-w64) into shell_test.exe, then
# runs it under wine (wine64) on a private X server; the exit status is the program's.
# Usage: tests/win32/run.sh OUT_DIR     (the program and a wine prefix of its own go there)
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 OUT_DIR" >&2; exit 2; }
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$(mkdir -p "$1" && cd "$1" && pwd)

if [ "${QUORV_WIN32_IN_X:-}" != 1 ]; then
  cd "$root/app"
  x86_64-w64-mingw32-windres Quorv.rc -O coff -o "$out/Quorv.res.o"
  # Static runtime libraries, so that wine needs no DLL of the compiler's.
  x86_64-w64-mingw32-g++ -std=c++17 -municode -mwindows -O1 -Wall -Wextra -Werror -I. \
    -o "$out/shell_test.exe" ../tests/win32/shell_test.cpp WinMain.cpp WinShell.cpp \
    "$out/Quorv.res.o" -static -static-libgcc -static-libstdc++
  QUORV_WIN32_IN_X=1 exec ../scripts/private-x.sh "$root/tests/win32/run.sh" "$out"
fi

# No Mono or Gecko: the program needs neither, and their installers would ask.
export WINEPREFIX=$out/wineprefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
trap 'wineserver -k 2>/dev/null || true' EXIT
if ! [ -f "$WINEPREFIX/system.reg" ]; then  # the first run creates the prefix, which takes a while
  timeout 300 wine wineboot -i >"$out/wineboot.log" 2>&1 ||
    { echo "win32 test: wine could not create its prefix (see $out/wineboot.log)" >&2; exit 1; }
  # Without a window manager, wine waits up to two seconds for every managed window it hides.
  timeout 300 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
fi
cd "$out" && timeout 300 wine shell_test.exe
