#!/usr/bin/env bash
# Every kind of file aggsim writes, by the native build and by a cross build
# (run under qemu through binfmt_misc), compared byte for byte:
#
#   bash scripts/cross-outputs.sh build-s390x [build]
#
# A fixed set of small runs covers both models (the programs' three rules,
# standard DLA off the lattice and on both lattices) and every output: the
# picture, the film, the trace, the profile, the growth file, the summary
# and --stats, an ensemble's table, profile, growth and per-run files, and
# --merge.  The cross build also merges the parts the native build wrote,
# so that it reads what another byte order wrote.  With Xvfb installed and
# the cross build's x11_window_tests built, the cross client's window is
# checked on screens of every depth of the native (little-endian) server.
#
# One line per kind of output; exit status 1 when any file differs or a run
# fails, 2 when a build lacks aggsim.  Seconds natively, about a minute
# under qemu.  KEEP_WORK=1 keeps the files (in TMPDIR) for a closer look.
set -euo pipefail
cd "$(dirname "$0")/.."
cross=${1:-}
native=${2:-build}
if [ -z "$cross" ]; then
  echo "usage: bash scripts/cross-outputs.sh CROSS_BUILD_DIR [NATIVE_BUILD_DIR]" >&2
  exit 2
fi
for dir in "$native" "$cross"; do
  if [ ! -x "$dir/apps/aggsim/aggsim" ]; then
    echo "$dir/apps/aggsim/aggsim is not built (cmake --build $dir --target aggsim)" >&2
    exit 2
  fi
done
native_aggsim=$(realpath "$native/apps/aggsim/aggsim")
cross_aggsim=$(realpath "$cross/apps/aggsim/aggsim")
work=$(mktemp -d "${TMPDIR:-/tmp}/cross-outputs.XXXXXX")
[ -n "${KEEP_WORK:-}" ] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work/native" "$work/cross" "$work/parts"

# Each output is named KIND.CASE.EXT, so that it is counted under its kind;
# an ensemble's per-run files (--out-dir, and the runs' own profiles and
# growth files) keep their kind's name before the seed.  The summary's elapsed time and rate are the only figures that may
# differ, and are masked.
run() {
  local side=$1 case=$2
  shift 2
  local aggsim=$native_aggsim
  [ "$side" = cross ] && aggsim=$cross_aggsim
  local rc=0
  (cd "$work/$side" && "$aggsim" "$@" >"summary.$case.out" 2>"summary.$case.err") || rc=$?
  echo "$rc" >"$work/$side/status.$case.txt"
  sed -E -i 's/[0-9.]+ s, [0-9.e+]+ (steps|particles)\/s/(time) s, (rate) \1\/s/' "$work/$side/summary.$case.out"
}

cases() {
  local side=$1
  # The programs' model: every single-run output, and an ensemble with its
  # runs' files.
  run "$side" radial --rule radial --seed 7 --particles 400 --png png.radial.png --gif gif.radial.gif \
    --frame-every 7 --trace trace.radial.csv --profile profile.radial.csv --growth growth.radial.csv --stats
  run "$side" white --rule white --seed 3 --particles 300 --screen 640x480 --start-radius 40 \
    --png png.white.png --trace trace.white.csv --stats
  mkdir -p "$work/$side/runs"
  run "$side" order-runs --rule order --seed 11 --particles 120 --runs 3 --jobs 2 --csv table.order.csv \
    --profile profile.order-runs.csv --growth growth.order-runs.csv --out-dir runs \
    --png png.order-run.png --trace trace.order-run.csv --gif gif.order-run.gif
  # Standard DLA off the lattice and on both lattices (sticking at every
  # contact and at half of them), every single-run output.
  local lattice
  for lattice in off square4 square8; do
    local stick=1
    [ "$lattice" = square8 ] && stick=0.5
    run "$side" "dla-$lattice" --model dla --lattice "$lattice" --stick "$stick" --seed 3 --particles 1500 \
      --image-size 256 --png "png.dla-$lattice.png" --gif "gif.dla-$lattice.gif" --frame-every 50 \
      --trace "trace.dla-$lattice.csv" --profile "profile.dla-$lattice.csv" --growth "growth.dla-$lattice.csv" --stats
  done
  run "$side" dla-white --model dla --seed 9 --particles 600 --image-size 128 --colour white --png png.dla-white.png
  # A DLA ensemble with its runs' files.
  run "$side" dla-runs --model dla --seed 40 --particles 300 --image-size 128 --runs 4 --jobs 2 \
    --csv table.dla.csv --profile profile.dla-runs.csv --growth growth.dla-runs.csv --out-dir runs \
    --png png.dla-run.png --trace trace.dla-run.csv
  # Parts that the native build wrote, merged by each build.
  local parts=$work/parts
  run "$side" merge-dla --merge "$parts/dla-a.csv" "$parts/dla-b.csv" "$parts/dla-a-profile.csv" \
    "$parts/dla-b-profile.csv" --csv merge-table.dla.csv --profile merge-profile.dla.csv --growth merge-growth.dla.csv
  run "$side" merge-programs --merge "$parts/prog-a.csv" "$parts/prog-b.csv" "$parts/prog-a-profile.csv" \
    "$parts/prog-b-profile.csv" --csv merge-table.programs.csv --profile merge-profile.programs.csv \
    --growth merge-growth.programs.csv
}

# The parts to merge: one ensemble of four runs in two halves, of each model.
(
  cd "$work/parts"
  "$native_aggsim" --model dla --seed 60 --runs 2 --part-of 60:4 --particles 300 --image-size 128 \
    --csv dla-a.csv --profile dla-a-profile.csv >/dev/null
  "$native_aggsim" --model dla --seed 62 --runs 2 --part-of 60:4 --particles 300 --image-size 128 \
    --csv dla-b.csv --profile dla-b-profile.csv >/dev/null
  "$native_aggsim" --seed 70 --runs 1 --part-of 70:3 --particles 100 --csv prog-a.csv --profile prog-a-profile.csv >/dev/null
  "$native_aggsim" --seed 71 --runs 2 --part-of 70:3 --particles 100 --csv prog-b.csv --profile prog-b-profile.csv >/dev/null
)

started=$SECONDS
cases native
native_seconds=$((SECONDS - started))
started=$SECONDS
cases cross
cross_seconds=$((SECONDS - started))

# Every file either side wrote, by kind.
failed=0
declare -A count differ
kinds=()
while IFS= read -r rel; do
  name=${rel##*/}
  kind=${name%%.*}
  if [ -z "${count[$kind]+set}" ]; then
    kinds+=("$kind")
    count[$kind]=0
    differ[$kind]=""
  fi
  count[$kind]=$((count[$kind] + 1))
  if [ ! -f "$work/native/$rel" ] || [ ! -f "$work/cross/$rel" ] || ! cmp -s "$work/native/$rel" "$work/cross/$rel"; then
    differ[$kind]+=" $rel"
  fi
done < <(cd "$work" && { find native cross -type f ! -name 'status.*' | sed -E 's#^(native|cross)/##'; } | sort -u)
for kind in "${kinds[@]}"; do
  if [ -z "${differ[$kind]}" ]; then
    printf '%-18s same        %2d files\n' "$kind" "${count[$kind]}"
  else
    printf '%-18s DIFFERENT   %2d files:%s\n' "$kind" "${count[$kind]}" "${differ[$kind]}"
    failed=1
  fi
done
# A run that failed on both sides would compare equal: every run must succeed.
for status in "$work"/native/status.*.txt "$work"/cross/status.*.txt; do
  if [ "$(cat "$status")" != 0 ]; then
    side=${status#"$work"/}
    echo "run ${side%%/*} ${status##*/status.} ended with status $(cat "$status")" | sed 's/\.txt / /'
    failed=1
  fi
done

# The window from a client of the cross build's byte order on the native
# server: every colour on screens of every depth, by shared memory and by
# plain images, and the programs' walk shown.
x11=$cross/tests/graph/x11/x11_window_tests
if [ ! -x "$x11" ]; then
  echo "x11                skipped     ($x11 is not built)"
elif ! command -v Xvfb >/dev/null; then
  echo "x11                skipped     (Xvfb is not installed)"
else
  started=$SECONDS
  if "$x11" --gtest_filter='Depths/X11Depth.*' --gtest_brief=1 >"$work/x11.log" 2>&1; then
    echo "x11                right       on 15-, 16-, 24- and 30-bit screens ($((SECONDS - started)) s)"
  else
    echo "x11                WRONG       (the window tests' output follows)"
    cat "$work/x11.log"
    failed=1
  fi
fi
echo "runs: native ${native_seconds} s, $cross ${cross_seconds} s"
exit $failed
