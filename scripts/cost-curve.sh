#!/usr/bin/env bash
# How the cost of one run grows with its size: aggsim grows white
# aggregates of 1000, 2000, 4000, 8000 and 16000 particles from one seed on
# the default screen, and prints the processor seconds of each run (user
# and system time of the process, which waiting for a shared processor
# does not inflate), the walk steps it took, and the exponent k of the
# least-squares fit seconds = c * particles^k.
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
printf '%10s %12s %14s\n' particles seconds steps
fits=""
for n in "${sizes[@]}"; do
  # Processor time of the child from /proc-free bash accounting: the
  # difference of `times` before and after.
  read -r u0 s0 < <(times | tail -1 | awk '{print $1, $2}')
  "$aggsim" --rule white --seed "$seed" --particles "$n" --stats >"$out" 2>&1
  read -r u1 s1 < <(times | tail -1 | awk '{print $1, $2}')
  secs=$(awk -v a="$u0" -v b="$s0" -v c="$u1" -v d="$s1" '
    function s(t,  m, x) { m = t; sub(/m.*/, "", m); x = t; sub(/^[0-9]+m/, "", x); sub(/s$/, "", x); return m * 60 + x }
    BEGIN { printf "%.2f", s(c) + s(d) - s(a) - s(b) }')
  steps=$(grep -o '[0-9]* steps' "$out" | head -1 | cut -d' ' -f1 || true)
  printf '%10s %12s %14s\n' "$n" "$secs" "${steps:-?}"
  fits+="$n $secs"$'\n'
done
awk 'NF == 2 && $2 > 0 { x = log($1); y = log($2); n++; sx += x; sy += y; sxx += x * x; sxy += x * y }
     END { if (n > 1) printf "fitted exponent: seconds ~ particles^%.2f\n", (n * sxy - sx * sy) / (n * sxx - sx * sx) }' <<<"$fits"
