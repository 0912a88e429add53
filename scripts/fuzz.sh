#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, with the address and
# undefined-behaviour sanitizers) in build-fuzz/ and runs each for
# AGG_FUZZ_SECONDS seconds (30 unless told) from its seeds in
# tests/fuzz/corpus/; what it learns goes to build-fuzz/corpus/.  A crash,
# a failed check, a sanitizer report or an input that takes more than 5 s
# fails the run, its input kept in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh clang cmake make libgtest-dev libpng-dev libgif-dev libx11-dev libxext-dev
version=$(clang --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -1)
bash scripts/deps.sh "libclang-rt-$version-dev"
seconds=${AGG_FUZZ_SECONDS:-30}
cmake --preset fuzz >/dev/null
fuzzers=(keydecode lineedit textio aggsim_args gif ensemble_table)
cmake --build build-fuzz -j"$(nproc)" --target "${fuzzers[@]/#/fuzz_}"
mkdir -p build-fuzz/findings
failed=()
for f in "${fuzzers[@]}"; do
  mkdir -p "build-fuzz/corpus/$f"
  log=build-fuzz/fuzz_$f.log
  if "./build-fuzz/tests/fuzz/fuzz_$f" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$f-" \
      "build-fuzz/corpus/$f" "tests/fuzz/corpus/$f" >"$log" 2>&1; then
    echo "fuzz_$f: $(sed -n 's/^stat::number_of_executed_units: *//p' "$log") inputs in $seconds s, nothing found"
  else
    echo "fuzz_$f: FAILED"
    grep -v '^#\|^INFO' "$log" | tail -40
    failed+=("$f")
  fi
done
[ ${#failed[@]} -eq 0 ] || { echo "fuzzers failed: ${failed[*]}"; exit 1; }
