#!/usr/bin/env bash
# The test suite on a busy machine: two busy loops (`yes > /dev/null`) run
# beside it for the whole run, so that a test that depends on how fast the
# machine is shows itself.  Arguments go to scripts/test.sh (--quick, say).
#
#   bash scripts/test-busy.sh [--quick]
set -euo pipefail
cd "$(dirname "$0")/.."
busy=()
stop() {
  [ ${#busy[@]} -eq 0 ] || kill "${busy[@]}" 2>/dev/null || true
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
for _ in 1 2; do
  yes >/dev/null &
  busy+=($!)
done
echo "two busy loops beside the suite: ${busy[*]}"
start=$SECONDS
rc=0
bash scripts/test.sh "$@" || rc=$?
echo "the suite beside two busy loops: exit $rc after $((SECONDS - start)) s"
exit $rc
