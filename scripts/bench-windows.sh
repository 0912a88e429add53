#!/usr/bin/env bash
# The walk's benchmark for the Windows build, under Wine, beside the Linux
# build's in one sitting: aggbench.exe's figures 1 to 3 and ratios, then
# aggsim.exe against the Linux aggsim on the same run (same seed, same
# particles), each timed by processor time less that of a one-particle run,
# which is the start-up.  Builds build-win/ and build/ and installs Wine
# where they are missing.
#
#   bash scripts/bench-windows.sh [rounds] [particles]
#
# The benchmark runs 5000 particles (not its 2000) on both builds: Wine
# counts a thread's time in coarse steps, which longer rounds make small.
#
# AGG_WIN_TOOLS and AGG_LINUX_TOOLS name other build trees,
# to set another build's figures beside these.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-3}
particles=${2:-6000}
win=${AGG_WIN_TOOLS:-build-win}
lin=${AGG_LINUX_TOOLS:-build}
why=$(bash scripts/deps-wine.sh 2>&1) || { echo "bench-windows: $(tail -1 <<<"$why")" >&2; exit 1; }
bash scripts/deps.sh bc time
[ -n "${AGG_WIN_TOOLS:-}" ] || bash scripts/build-windows.sh >/dev/null
[ -n "${AGG_LINUX_TOOLS:-}" ] || bash scripts/build.sh >/dev/null
prefix=$(mktemp -d)
trap 'WINEPREFIX=$prefix wineserver -k 2>/dev/null || true; rm -rf "$prefix"' EXIT
export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
timeout 300 wineboot -i >/dev/null 2>&1
timeout 60 wineserver -w

echo "Windows build, under Wine:"
wine "$win/bench/aggbench.exe" --rounds "$rounds" --particles 5000 | tr -d '\r'
echo "Linux build:"
"$lin/bench/aggbench" --rounds "$rounds" --particles 5000

# Seconds of processor time (user and system) the command takes.
cpu() { /usr/bin/time -f "%U %S" "$@" 2>&1 >/dev/null | tail -1 | awk '{ print $1 + $2 }'; }
run=(--seed 12345 --rule radial --particles "$particles")
one=(--seed 12345 --rule radial --particles 1)
linux=$(echo "$(cpu "$lin/apps/aggsim/aggsim" "${run[@]}") - $(cpu "$lin/apps/aggsim/aggsim" "${one[@]}")" | bc -l)
windows=$(echo "$(cpu wine "$win/apps/aggsim/aggsim.exe" "${run[@]}") - $(cpu wine "$win/apps/aggsim/aggsim.exe" "${one[@]}")" | bc -l)
printf 'aggsim, %s particles: Linux %.2f s, Windows under Wine %.2f s of processor time; Windows speed / Linux speed %.3f\n' \
  "$particles" "$linux" "$windows" "$(echo "$linux / $windows" | bc -l)"
