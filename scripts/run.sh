#!/usr/bin/env bash
# Builds the project and grows an aggregate: aggradial in a window when a
# display answers and no argument is given, else aggsim writing
# aggregate.png into the folder run.sh was started from.  Arguments are
# aggsim's and go to it as they are.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh"
if [ $# -eq 0 ] && [ -n "${DISPLAY:-}" ]; then
  bash "$root/scripts/deps.sh" x11-utils
  if xdpyinfo >/dev/null 2>&1; then
    echo "aggradial grows in its window: press a key here, then Enter, to stop it."
    exec "$root/build/aggregation/aggradial"
  fi
fi
if [ $# -gt 0 ]; then
  echo "run.sh passes its arguments to aggsim: $*"
else
  echo "No display answers (DISPLAY is ${DISPLAY:-unset}): aggsim grows the aggregate instead."
fi
echo "aggsim writes $PWD/aggregate.png"
"$root/build/apps/aggsim/aggsim" --rule radial --seed 12345 --particles 3000 --png aggregate.png "$@"
echo "picture written to $PWD/aggregate.png"
