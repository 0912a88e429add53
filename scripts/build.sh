#!/usr/bin/env bash
# Configures and builds the project in build/ (Release with debug info).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh g++ cmake make libgtest-dev libpng-dev
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
