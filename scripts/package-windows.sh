#!/usr/bin/env bash
# Cross-builds the Windows programs (scripts/build-windows.sh) and makes
# their zip in build-win/ with CPack: aggwhite.exe, aggradial.exe,
# aggorder.exe, aggsim.exe, aggbench.exe and README.txt on starting them,
# in one folder.  They are linked statically, so the zip runs on a Windows
# machine with nothing installed.  Prints the zip's path.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build-windows.sh >&2
(cd build-win && cpack -G ZIP >cpack.log 2>&1) || { cat build-win/cpack.log >&2; exit 1; }
zip=$(ls -t build-win/aggregation-*-win32.zip | head -1)
echo "$PWD/$zip"
