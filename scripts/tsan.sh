#!/usr/bin/env bash
# Builds the graphics tests (the drawing lock among them), the window tests
# and aggwhite with the thread sanitizer in
# build-tsan/ and runs them; any report fails the run.  libX11's own unlock
# on the way back from a lost connection's handler is suppressed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh g++ cmake make libgtest-dev libpng-dev libgif-dev libx11-dev libxext-dev xvfb openbox
cmake --preset tsan >/dev/null
cmake --build build-tsan -j"$(nproc)" --target graph_tests x11_window_tests x11_program_tests aggwhite
export TSAN_OPTIONS="suppressions=$(pwd)/tests/graph/x11/tsan.supp halt_on_error=1"
./build-tsan/tests/graph/graph_tests
./build-tsan/tests/graph/x11/x11_window_tests
./build-tsan/tests/aggregation/x11/x11_program_tests
