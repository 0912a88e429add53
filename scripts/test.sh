#!/usr/bin/env bash
# Builds everything and runs the whole test suite, then again under the
# sanitizers, and the fuzzers.  The window tests start X servers of their own
# (Xvfb) and a window manager (openbox).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
bash scripts/deps.sh xvfb openbox man-db tmux
ctest --test-dir build --output-on-failure -j"$(nproc)"
# The same suite under the address and undefined-behaviour sanitizers, the
# window tests under the thread sanitizer, and each fuzzer for a while.
bash scripts/asan.sh
bash scripts/tsan.sh
bash scripts/fuzz.sh
# Ensembles on a private single-node Slurm cluster (root only; it skips
# with a message otherwise).
bash scripts/deps.sh munge slurmctld slurmd slurm-client
bash scripts/cluster/slurm_test.sh build/apps/aggsim/aggsim
# The Debian package in a clean root of its own; AGG_SKIP_PACKAGE=1 leaves it
# out.
if [ "${AGG_SKIP_PACKAGE:-0}" != 1 ]; then
  bash scripts/test-package.sh
fi
# The Windows build under Wine, when Wine can be had, then its zip;
# AGG_SKIP_WINDOWS=1 leaves them out.
if [ "${AGG_SKIP_WINDOWS:-0}" != 1 ]; then
  bash scripts/test-windows.sh
  bash scripts/test-package-windows.sh
fi
