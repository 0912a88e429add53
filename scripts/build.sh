#!/usr/bin/env bash
# Configures and builds the project in build/ (Release with debug info); the
# programs get the X11 window and the terminal console.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh g++ cmake make libgtest-dev libpng-dev libgif-dev libx11-dev libxext-dev
cmake --preset dev >/dev/null
cmake --build build -j"$(nproc)"
