#!/usr/bin/env bash
# A short visit under valgrind's memcheck: the real program with its real plugins on the first
# VALGRIND_SECONDS (default 40) of the demo visit, on a private X server, the notice confirmed
# and a few keys pressed, then Escape. Prints the errors and definite leaks that have a frame
# of Quorv's own code on their stack (the graphics driver, GTK and the decoders report plenty of
# their own, which are not ours), and keeps the full log in out/valgrind/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
seconds=${VALGRIND_SECONDS:-40}
out="$top/out/valgrind"
rm -rf "$out"
mkdir -p "$out"
read -r display xvfb < <(bash "$top/scripts/private-x.sh" -l "$out/xvfb.log" --start)
[ -n "${display:-}" ] || { echo "valgrind-visit: no private X server (see $out/xvfb.log)" >&2; exit 1; }
export DISPLAY="$display"
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
cd "$top/exhibit"
QUORV_VIDEO="$top/exhibit/demo/demo-feed.avi" OSG_WINDOW="0 0 640 480" SDL_AUDIODRIVER=dummy \
  valgrind --leak-check=full --show-leak-kinds=definite --num-callers=40 --error-limit=no \
  --log-file="$out/memcheck.%p.log" "$build/quorv" >"$out/quorv.out" 2>"$out/quorv.err" &
quorv=$!
for _ in $(seq 1 600); do
  notice=$(xdotool search --onlyvisible --name "Cargando Quorv" 2>/dev/null | head -n 1 || true)
  [ -n "$notice" ] && break
  sleep 0.5
done
[ -n "${notice:-}" ] || { echo "valgrind-visit: no notice"; exit 1; }
sleep 2  # under valgrind the notice takes a while to become ready for input
xdotool windowfocus --sync "$notice" key Return
sleep "$seconds"
xdotool key i i j k l
sleep 5
xdotool key Escape
status=0
wait "$quorv" || status=$?
echo "valgrind-visit: quorv ended with status $status"
python3 - "$out" <<'PY'
# A report is ours when the first frame below the allocator or the system call is in Quorv's own
# sources; reports where Quorv only called into a library that then erred are the library's.
import glob, re, sys
ours = re.compile(r"\((?:[A-Za-z]+)\.(?:cpp|h):\d+\)")
skip = re.compile(r"vgpreload|libc\.so|libstdc\+\+|operator new|malloc|calloc|realloc|"
                  r"writev|write|syscall|\?\?\?|"
                  r"\((?:std_|stl_|new_allocator|alloc_traits|basic_string|unique_ptr)\w*\.h:")
total_errors = total_ours = 0
logs = sorted(glob.glob(sys.argv[1] + "/memcheck.*.log"))
pids = {re.search(r"memcheck\.(\d+)\.log", l).group(1) for l in logs}
for log in logs:
    text = open(log, errors="replace").read()
    # A copy forked by a library (GLib spawning a helper) inherits the program's memory but not
    # its threads; what it "leaks" is the program's live data at the fork.
    parent = re.search(r"Parent PID: (\d+)", text)
    if parent and parent.group(1) in pids:
        print(f"valgrind-visit: {log} is a forked copy, left out")
        continue
    summary = re.findall(r"ERROR SUMMARY: (\d+) errors", text)
    total_errors += int(summary[-1]) if summary else 0
    for block in re.split(r"\n==\d+== \n", text):
        lines = [l for l in block.strip().splitlines() if re.match(r"==\d+==", l)]
        if not lines:
            continue
        head = lines[0]
        if not any(k in head for k in ("Invalid", "uninitialised", "definitely lost",
                                        "Mismatched", "Syscall param", "Conditional")):
            continue
        frames = [l for l in lines[1:] if re.search(r"(at|by) 0x", l)]
        first = next((f for f in frames if not skip.search(f)), "")
        if ours.search(first) and "/usr/" not in first:
            total_ours += 1
            print("\n".join(lines[:25]))
            print("-----")
print(f"valgrind-visit: {total_errors} reports in all; {total_ours} arising in Quorv's own code")
sys.exit(1 if total_ours else 0)
PY
