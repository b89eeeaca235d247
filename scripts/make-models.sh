#!/usr/bin/env bash
# Makes the exhibit's models, exhibit/media_Tovarin/tarmeliaCentrado.osg and Play.3ds, with
# build/quorv-mkmodels (built if needed).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
[ -x "$build/quorv-mkmodels" ] || cmake --build "$build" --target quorv-mkmodels
mkdir -p "$top/exhibit/media_Tovarin"
"$build/quorv-mkmodels" "$top/exhibit/media_Tovarin/tarmeliaCentrado.osg" "$top/exhibit/media_Tovarin/Play.3ds"
ls -l "$top/exhibit/media_Tovarin"
