#!/usr/bin/env bash
# Builds everything with the address and undefined-behaviour sanitizers in
# build-asan/ and runs the whole Linux suite there, the window and terminal
# tests included; the first report of either ends its process with an error,
# so any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh g++ cmake make libgtest-dev libpng-dev libgif-dev libx11-dev libxext-dev xvfb openbox man-db tmux imagemagick python3-pil
cmake --preset asan >/dev/null
cmake --build build-asan -j"$(nproc)"
# The runtime turns processor faults into its numbered errors, and leaves
# some to the system on purpose: its own signal handlers, not the
# sanitizer's.  Memory that a lost X connection keeps is no leak of ours.
# A failed allocation is the runtime's to report, as without the sanitizer.
export ASAN_OPTIONS="handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_abort=0:allocator_may_return_null=1"
export LSAN_OPTIONS="suppressions=$(pwd)/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1"
# Left out: the tests that cap the address space (the sanitizer's shadow
# memory cannot be had under the cap) and the whole run held to the time
# it foretold (the sanitizer slows the run unevenly).
ctest --test-dir build-asan --output-on-failure -j"$(nproc)" -LE timing \
  -E 'MemoryRunningOutIsHeapOverflowAfterTheWindowHasClosed|Report\.MemoryRunningOutEndsInAnOrderlyWay|AScreenTooLargeForTheMemoryIsNamed|Merge\.PartsGiveTheWhole'

