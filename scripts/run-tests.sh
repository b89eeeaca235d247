#!/usr/bin/env bash
# Installs what Quorv needs, builds it and runs every test.
#   scripts/run-tests.sh                      the normal build, in build/
#   QUORV_SANITIZE=address,undefined scripts/run-tests.sh   a sanitizer build, in build-asan/
#   QUORV_SANITIZE=thread scripts/run-tests.sh               in build-tsan/
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/install-deps.sh
extra=()
if [ -n "${QUORV_SANITIZE:-}" ]; then
  case "$QUORV_SANITIZE" in
    thread) export BUILD_DIR=${BUILD_DIR:-$top/build-tsan} ;;
    *) export BUILD_DIR=${BUILD_DIR:-$top/build-asan} ;;
  esac
  extra=(-DQUORV_SANITIZE="$QUORV_SANITIZE")
  # OpenSceneGraph, GTK and Mesa keep global state until exit: leaks there are not ours.
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
  export TSAN_OPTIONS=${TSAN_OPTIONS:-suppressions=$top/tests/sanitizers/tsan.supp}
  # Undefined behaviour stops the program, so a report fails its test instead of only being
  # printed into a log nobody reads.
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
fi
bash scripts/build.sh "${extra[@]}"
cd "${BUILD_DIR:-$top/build}"
# Tests run one at a time: many drive the real program on a private X server and compare its
# picture and sound with what they expect, which is more dependable without a neighbour.
ctest --output-on-failure -j"${TEST_JOBS:-1}" --timeout 900
# Then each parser's fuzzer for 20 s over its seed files, where clang is installed.
if command -v clang++ >/dev/null; then bash "$top/scripts/fuzz.sh" 20; fi
