#!/usr/bin/env bash
# Cross-builds for another Linux processor (scripts/build-cross.sh) and runs
# the suites there under qemu's user-mode emulation:
#
#   bash scripts/test-cross.sh arm64|s390x
#
# The kernel hands the foreign executables to qemu (binfmt_misc), so tests
# that start processes of their own run as on the build machine.  Where it
# cannot (no root, no binfmt_misc), only the in-process suites run, through
# CMake's emulator, and one line says what was left out.  Emulation is some
# 50 (arm64) to 140 (s390x) times slower than the machine, so by default a
# part runs (below: it says which); AGG_CROSS_FULL=1 runs every suite but the
# X servers', whose window tests run from the foreign client against this
# machine's X server in cross-outputs.sh.
# With CI=true, what cannot run fails instead of being skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-}
case "$arch" in
  arm64) qemu=aarch64 ;;
  s390x) qemu=s390x ;;
  *) echo "usage: bash scripts/test-cross.sh arm64|s390x" >&2; exit 2 ;;
esac
start=$SECONDS
build=build-$arch

skip() {
  echo "$arch tests under qemu skipped: $*"
  [ "${CI:-}" = true ] && { echo "CI=true: failing instead of skipping"; exit 1; }
  exit 0
}

mkdir -p "$build"
AGG_JOBS=${AGG_JOBS:-$(nproc)} bash scripts/build-cross.sh "$arch" >"$build/cross-build.log" 2>&1 ||
  { tail -30 "$build/cross-build.log"; echo "FAILED: the $arch cross build (all of it in $build/cross-build.log)"; exit 1; }
command -v "qemu-$qemu-static" >/dev/null || command -v "qemu-$qemu" >/dev/null || skip "no qemu-$qemu"

# binfmt_misc: mounted and qemu's entry enabled, where this user may.
entry=/proc/sys/fs/binfmt_misc/qemu-$qemu
if [ "$(id -u)" -eq 0 ]; then
  mountpoint -q /proc/sys/fs/binfmt_misc || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || true
  if [ -d /proc/sys/fs/binfmt_misc ] && ! grep -qx enabled "$entry" 2>/dev/null; then
    update-binfmts --enable "qemu-$qemu" >/dev/null 2>&1 || true
  fi
fi
# What a test that starts a process does: run the executable itself.
if "$build/apps/aggsim/aggsim" --help >/dev/null 2>&1; then
  labels='unit|process'
else
  why="the kernel does not hand $arch executables to qemu (binfmt_misc: $(cat "$entry" 2>/dev/null | head -1 || echo 'no entry'))"
  [ "${CI:-}" = true ] && { echo "$arch tests under qemu: $why"; echo "CI=true: failing instead of skipping"; exit 1; }
  echo "$arch: the tests that start processes are not run: $why"
  labels=unit
fi

# What is left out by default, for the time it takes there: the standard
# model's statistical tests (its outputs are compared byte for byte below)
# and the suites of whole processes but the reports' (the kept traces), and
# on s390x, some three times slower again, the reports' too (the programs'
# suite holds the kept traces in process).
processes='dla_tests|terminal_tests|runner_tests|aggsim_tests|aggsim_ensemble_tests|docs'
case "$arch" in
  arm64) skipped=$processes ;;
  s390x) skipped="$processes|report_tests" ;;
esac
if [ "${AGG_CROSS_FULL:-0}" = 1 ]; then
  skipped='^$'
  # What the whole suite's films, panes and pictures are read back with.
  bash scripts/deps.sh tmux imagemagick python3-pil gnuplot-nox >&2
fi
left=$(ctest --test-dir "$build" -N -L "$labels" | sed -n 's/^ *Test *#[0-9]*: \([^.]*\)\..*/\1/p' | sort -u |
  grep -Ex "$skipped" | tr '\n' ' ' || true)
[ -z "$left" ] || echo "$arch: left out under emulation, for the time they take there (AGG_CROSS_FULL=1 runs them): $left"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" -L "$labels" -E "^($skipped)\\." --timeout 1500
# The same files, byte for byte, as the build machine writes.
bash scripts/cross-outputs.sh "$build"
if [ "$arch" = arm64 ]; then
  # The package for the processor, held to what a distribution checks, and
  # its aggsim unpacked grows the build machine's aggregate.
  deb=$(bash scripts/package.sh "$arch" 2>"$build/package.log" | tail -1)
  [ -f "$deb" ] || { tail -20 "$build/package.log"; echo "FAILED: no $arch package made"; exit 1; }
  [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || { echo "FAILED: $deb is not for $arch"; exit 1; }
  command -v lintian >/dev/null || bash scripts/deps.sh lintian >&2
  if ! lintian --fail-on error,warning "$deb" >"$build/lintian.log" 2>&1; then
    grep -v "running with root privileges" "$build/lintian.log"
    echo "FAILED: lintian on $(basename "$deb")"
    exit 1
  fi
  echo "  lintian on $(basename "$deb"): no error, no warning"
  unpacked=$(mktemp -d)
  trap 'rm -rf "$unpacked"' EXIT
  dpkg-deb -x "$deb" "$unpacked"
  args=(--seed 12345 --rule radial --particles 1000)
  build/apps/aggsim/aggsim "${args[@]}" --trace "$unpacked/native.csv" >/dev/null
  "$unpacked/usr/bin/aggsim" "${args[@]}" --trace "$unpacked/packaged.csv" >/dev/null
  cmp -s "$unpacked/native.csv" "$unpacked/packaged.csv" ||
    { echo "FAILED: the packaged $arch aggsim grew another aggregate than the build machine's"; exit 1; }
  echo "  the packaged $arch aggsim grew the build machine's $(wc -l <"$unpacked/native.csv") particles"
fi
echo "$arch tests under qemu took $((SECONDS - start)) s"
