#!/usr/bin/env bash
# Configures and builds Quorv into a build folder (default: build/). Extra arguments go to
# CMake's configure step, e.g. -DQUORV_SANITIZE=address,undefined.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "$@" >/dev/null
cmake --build "$build" -j"${JOBS:-$(nproc)}"
