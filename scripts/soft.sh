#!/usr/bin/env bash
# The software extended type forced on x86 (preset soft, build-soft/): the
# suites whose arithmetic it carries (the runtime's, the programs' and the
# whole-process reports with the kept traces) must pass there as they do on
# the x87.  A few minutes on two cores, most of it the build.
#   bash scripts/soft.sh
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset soft >/dev/null
cmake --build build-soft --target runtime_tests aggregation_tests report_tests -j"$(nproc)"
ctest --test-dir build-soft --output-on-failure -j"$(nproc)" -R '^(runtime_tests|aggregation_tests|report_tests)\.'
