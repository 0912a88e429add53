#!/usr/bin/env bash
# Builds everything and runs the whole test suite, then again under the
# sanitizers, and the fuzzers.  The window tests start X servers of their own
# (Xvfb) and a window manager (openbox).
#
#   bash scripts/test.sh            everything, as CI runs it
#   bash scripts/test.sh --quick    the plain suite less the slow labels (the
#                                   X servers, the timed run, the installed
#                                   tree): a minute or two on a built tree
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
case "${1:-}" in
  --quick) quick=1 ;;
  "") ;;
  *) echo "usage: bash scripts/test.sh [--quick]" >&2; exit 2 ;;
esac
bash scripts/build.sh
if [ $quick -eq 1 ]; then
  bash scripts/deps.sh tmux imagemagick python3-pil
  exec ctest --preset quick -j"$(nproc)"
fi
bash scripts/deps.sh xvfb openbox man-db tmux imagemagick python3-pil gnuplot-nox
ctest --test-dir build --output-on-failure -j"$(nproc)" -LE timing
# The run held to the time it foretold runs alone, once the rest is done:
# beside the statistical tests it would be judged on their load.
ctest --test-dir build --output-on-failure -L timing
# The software extended type forced in place of the x87: the runtime's and
# the programs' suites and the kept traces again (a few minutes).
bash scripts/soft.sh
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
# Cross-built for arm64 and big-endian s390x and run under qemu, with every
# output's bytes held to this machine's; AGG_SKIP_CROSS=1 leaves them out.
if [ "${AGG_SKIP_CROSS:-0}" != 1 ]; then
  bash scripts/test-cross.sh arm64
  bash scripts/test-cross.sh s390x
fi
# The Windows build under Wine, when Wine can be had, then its zip;
# AGG_SKIP_WINDOWS=1 leaves them out.
if [ "${AGG_SKIP_WINDOWS:-0}" != 1 ]; then
  bash scripts/test-windows.sh
  bash scripts/test-package-windows.sh
fi
