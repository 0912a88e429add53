#!/usr/bin/env bash
# How the cost of one run grows with its size: aggsim grows white
# aggregates of 1000, 2000, 4000, 8000 and 16000 particles from one seed on
# the default screen, and prints the processor seconds of each run (user
# and system time of the process, which waiting for a shared processor
# does not inflate), the particles launched and the final launch radius,
# and the exponent k of the least-squares fit seconds = c * particles^k.
#
#   bash scripts/cost-curve.sh [seed] [aggsim]
#
# Needs build/ (scripts/build.sh).  AGG_LANES=sse2 or none measures the
# narrower lanes or none.
set -euo pipefail
cd "$(dirname "$0")/.."
seed=${1:-7}
aggsim=${2:-build/apps/aggsim/aggsim}
sizes=(1000 2000 4000 8000 16000)
out=$(mktemp)
trap 'rm -f "$out"' EXIT
printf '%10s %10s %10s %8s\n' particles seconds launched R
fits=""
TIMEFORMAT='%U %S'
for n in "${sizes[@]}"; do
  # The time keyword reports the run's user and system seconds.
  cpu=$({ time "$aggsim" --rule white --seed "$seed" --particles "$n" --stats >"$out" 2>&1; } 2>&1)
  secs=$(awk '{ printf "%.2f", $1 + $2 }' <<<"$cpu")
  launched=$(grep -o 'launched [0-9]*' "$out" | head -1 | cut -d' ' -f2)
  radius=$(grep -o ', R [0-9.]*' "$out" | head -1 | cut -d' ' -f3)
  printf '%10s %10s %10s %8s\n' "$n" "$secs" "${launched:-?}" "${radius:-?}"
  fits+="$n $secs"$'\n'
done
awk 'NF == 2 && $2 > 0 { x = log($1); y = log($2); n++; sx += x; sy += y; sxx += x * x; sxy += x * y }
     END { if (n > 1) printf "fitted exponent: seconds ~ particles^%.2f\n", (n * sxy - sx * sy) / (n * sxx - sx * sx) }' <<<"$fits"
