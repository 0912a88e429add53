#!/usr/bin/env bash
# Cross-builds the programs for 32-bit Windows in build-win/ with the
# MinGW-w64 i686 compiler: aggwhite.exe, aggradial.exe, aggorder.exe, the
# headless runner aggsim.exe and the test executables.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh g++-mingw-w64-i686-posix cmake make googletest file groff-base
cmake --preset win32 >/dev/null
cmake --build build-win -j"${AGG_JOBS:-2}"
for exe in aggregation/aggwhite.exe aggregation/aggradial.exe aggregation/aggorder.exe apps/aggsim/aggsim.exe; do
  desc=$(file -b "build-win/$exe")
  case "$desc" in
    PE32\ *console*Intel\ 80386*) ;;
    *) echo "build-win/$exe is not a 32-bit Windows console program: $desc" >&2; exit 1 ;;
  esac
done
echo "Windows programs in $(pwd)/build-win/aggregation, build-win/apps/aggsim and build-win/bench"
