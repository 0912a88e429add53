#!/usr/bin/env bash
# Builds the project and grows an aggregate: aggsim writes aggregate.png.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
./build/tools/aggsim --rule radial --seed 12345 --particles 3000 --png aggregate.png "$@"
echo "picture written to $(pwd)/aggregate.png"
