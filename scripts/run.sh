#!/usr/bin/env bash
# Builds the project and grows an aggregate: aggradial in a window when a
# display answers, else aggsim writing aggregate.png (arguments go to aggsim).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
if [ -n "${DISPLAY:-}" ]; then
  bash scripts/deps.sh x11-utils
  if xdpyinfo >/dev/null 2>&1; then
    echo "aggradial grows in its window: press a key here, then Enter, to stop it."
    exec ./build/aggregation/aggradial
  fi
fi
echo "No display answers (DISPLAY is ${DISPLAY:-unset}): aggsim grows the aggregate into aggregate.png instead."
./build/apps/aggsim/aggsim --rule radial --seed 12345 --particles 3000 --png aggregate.png "$@"
echo "picture written to $(pwd)/aggregate.png"
