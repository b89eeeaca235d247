#!/usr/bin/env bash
# Builds the libFuzzer harnesses of the file parsers with clang (in build-fuzz/) and runs each
# for a while over a scratch copy of its seed files (fuzz/corpus/<name>/), printing how many
# inputs each one executed. Fails when a harness crashes or finds a broken contract; the input
# that did it is kept in build-fuzz/fuzz-out/<name>/ and the harness's log beside it.
#   scripts/fuzz.sh [SECONDS] [HARNESS...]   default 60 s each, every harness
# Harnesses: pattern camera marker_config multi_marker wav model. Installs nothing: clang and
# libFuzzer come with scripts/install-deps.sh.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
build=${FUZZ_BUILD_DIR:-$top/build-fuzz}
harnesses=("$@")
[ "${#harnesses[@]}" -gt 0 ] || harnesses=(pattern camera marker_config multi_marker wav model)
if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ is not installed (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

CC=clang CXX=clang++ cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORV_FUZZ=ON >/dev/null
cmake --build "$build" -j"${FUZZ_JOBS:-2}" --target "${harnesses[@]/#/fuzz_}" >/dev/null

out=$build/fuzz-out
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$top/fuzz/lsan.supp}
status=0
for name in "${harnesses[@]}"; do
  # The corpus grows in a scratch copy; the harnesses' own scratch files go beside it.
  # In memory where possible: the harnesses that write files run ten times faster there.
  scratch=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
  mkdir "$scratch/corpus" "$scratch/tmp"
  cp -r "$top/fuzz/corpus/$name/." "$scratch/corpus/"
  rm -rf "${out:?}/$name" && mkdir -p "$out/$name"
  log=$out/$name.log
  options=()
  case "$name" in
    # A model needs no more than 64 bytes to nest past the harness's limits; longer inputs only
    # slow the depth count down.
    model) options=(-max_len=4096) ;;
  esac
  result=ok
  TMPDIR=$scratch/tmp "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$out/$name/" "${options[@]}" "$scratch/corpus" \
    >"$log" 2>&1 || result=FAILED
  rm -rf "$scratch"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  printf 'fuzz %-14s %-6s %12s executions in %s s (%s a second)\n' \
    "$name" "$result" "${runs:-?}" "$seconds" "${rate:-?}"
  if [ "$result" != ok ]; then
    status=1
    grep -E 'contract broken|ERROR|SUMMARY|^    #[0-9]' "$log" | head -n 20 >&2 || true
    echo "fuzz: $name failed; its input is in $out/$name/, its log in $log" >&2
  fi
done
exit "$status"
