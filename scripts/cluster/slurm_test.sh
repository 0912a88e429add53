#!/usr/bin/env bash
# scripts/cluster/submit.sh on a real Slurm: a private single-node cluster
# (its own munged, slurmctld and slurmd, from Debian's packages, on ports
# of its own) in a temporary folder.  An ensemble run as a job array must
# give the table, profile and lines of the same ensemble run locally, byte
# for byte, whatever its seeds (a leading zero, a range that wraps past
# 2^32 - 1) and names (a % in DIR); the first and last tasks cancelled
# mid-run are named by the merge and fail --wait, and --resume, running only
# the seeds they lack, then gives the same result; the standard model's
# array gives its local ensemble too; everything that can be refused is
# refused before anything is submitted or removed.  Needs root (the daemons run as root);
# skips otherwise.
# Usage: slurm_test.sh [AGGSIM]   (default: build/apps/aggsim/aggsim)
set -euo pipefail
cd "$(dirname "$0")/../.."
# Everything, daemons included, within a bound that only a hang reaches.
if [ -z "${AGG_SLURM_TEST_BOUND:-}" ]; then
  AGG_SLURM_TEST_BOUND=1 exec timeout -k 15 900 bash "$0" "$@"
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "slurm_test: skipped: the private cluster's daemons need root"
  exit 0
fi
for c in munged slurmctld slurmd sbatch squeue scancel sinfo; do
  command -v "$c" >/dev/null || { echo "slurm_test: $c is missing (Debian's munge, slurmctld, slurmd, slurm-client)"; exit 1; }
done
aggsim=$(realpath "${1:-build/apps/aggsim/aggsim}")
submit=$(realpath scripts/cluster/submit.sh)

tmp=$(mktemp -d /tmp/agg-slurm.XXXXXX)
pids=()
cleanup() {
  local status=$?
  # Only the daemons (and jobs) this test started.
  if [ -n "${SLURM_CONF:-}" ] && [ -e "$tmp/slurm.conf" ]; then scancel --quiet --user=root 2>/dev/null || true; fi
  for p in ${pids[@]+"${pids[@]}"}; do kill "$p" 2>/dev/null || true; done
  for p in ${pids[@]+"${pids[@]}"}; do
    for _ in $(seq 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$p" 2>/dev/null || true
  done
  if [ $status -ne 0 ]; then
    for log in "$tmp"/*.log; do [ -f "$log" ] && { echo "--- $log"; tail -20 "$log"; }; done
  fi
  rm -rf "$tmp"
  exit $status
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

fail() {
  echo "slurm_test: FAILED: $*"
  exit 1
}
# Waits for a condition, a second at a time, up to a bound only a hang reaches.
await() {
  local what=$1
  shift
  for _ in $(seq 300); do
    if "$@"; then return 0; fi
    sleep 1
  done
  fail "timed out waiting for $what"
}

# munged with a key, socket and files of its own.
dd if=/dev/urandom of="$tmp/munge.key" bs=1024 count=1 status=none
chmod 400 "$tmp/munge.key"
munged --force --socket="$tmp/munge.sock" --key-file="$tmp/munge.key" --pid-file="$tmp/munged.pid" \
  --log-file="$tmp/munged.log" --seed-file="$tmp/munged.seed" -F >"$tmp/munged.out" 2>&1 &
pids+=($!)
await "munged" test -S "$tmp/munge.sock"

host=$(hostname)
base=$((20000 + RANDOM % 20000))
mkdir -p "$tmp/state" "$tmp/spool"
cat >"$tmp/slurm.conf" <<CONF
ClusterName=aggtest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$base
SlurmdPort=$((base + 1))
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$tmp/munge.sock
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$tmp/state
SlurmdSpoolDir=$tmp/spool
SlurmctldPidFile=$tmp/slurmctld.pid
SlurmdPidFile=$tmp/slurmd.pid
SlurmctldLogFile=$tmp/slurmctld.log
SlurmdLogFile=$tmp/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
JobCompType=jobcomp/none
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
SwitchType=switch/none
KillWait=5
SlurmdParameters=config_overrides
NodeName=$host NodeAddr=127.0.0.1 CPUs=4 State=UNKNOWN
PartitionName=test Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF=$tmp/slurm.conf
slurmctld -D -c -f "$SLURM_CONF" >"$tmp/slurmctld.out" 2>&1 &
pids+=($!)
slurmd -D -N "$host" -f "$SLURM_CONF" >"$tmp/slurmd.out" 2>&1 &
pids+=($!)
idle() { sinfo -h -o %T 2>/dev/null | grep -qx idle; }
await "the node to come up" idle
echo "slurm_test: a private cluster on $host is up"

# No job of ours left in the queue.
drained() { [ -z "$(squeue -h 2>/dev/null)" ]; }
local_ensemble() { # SEED RUNS DIR [AGGSIM_OPTIONS]: the same ensemble on this machine
  mkdir -p "$3"
  "$aggsim" --rule radial --seed "$1" --particles 300 --runs "$2" --jobs 2 --csv "$3/ensemble.csv" \
    --profile "$3/profile.csv" "${@:4}" >"$3/summary.txt"
}
same() { # DIR DIR
  for f in ensemble.csv profile.csv summary.txt; do
    cmp -s "$1/$f" "$2/$f" || { diff "$1/$f" "$2/$f" | head -20; fail "$1/$f differs from the local ensemble's"; }
  done
}
submit() { bash "$submit" "$@"; }

# 0. Refused before anything is submitted, and nothing is kept that would
# lock the DIR against corrected settings.
for bad in "--rule radail" "--seed 4294967296" "--seed 1x" "--particles 0"; do
  # shellcheck disable=SC2086
  if submit --runs 4 --per-task 2 --out "$tmp/array" --aggsim "$aggsim" -- $bad >"$tmp/bad.out" 2>&1; then
    fail "submit.sh took $bad: $(cat "$tmp/bad.out")"
  fi
  [ ! -e "$tmp/array/ensemble.conf" ] && [ ! -e "$tmp/array/jobs" ] || fail "submit.sh kept settings for $bad"
done
[ -z "$(squeue -h)" ] || fail "a refused submission reached the queue: $(squeue)"

# 1. Ten runs in four tasks of at most three, from a seed written with a
# leading zero (decimal, as aggsim reads it), with a trace that the
# ensemble's last seed alone writes.
submit --runs 10 --per-task 3 --out "$tmp/array" --wait --partition test --time 10 --aggsim "$aggsim" -- \
  --rule radial --seed 0100 --particles 300 --trace "$tmp/array-trace.csv" >"$tmp/submit.out" ||
  fail "submit.sh --wait: $(cat "$tmp/submit.out")"
[ "$(find "$tmp/array/parts" -name 'task-*-profile.csv' | wc -l)" -eq 4 ] || fail "not four tasks: $(ls "$tmp/array/parts")"
local_ensemble 100 10 "$tmp/local" --trace "$tmp/local-trace.csv"
same "$tmp/array" "$tmp/local"
cmp -s "$tmp/array-trace.csv" "$tmp/local-trace.csv" || fail "the array's trace is not the last seed's"
echo "slurm_test: a 4-task array from seed 0100 gave the local ensemble of seed 100, its trace included"

# A finished task whose profile was cut short is run again; a --resume that
# sbatch refuses removes nothing.
truncate -s -3 "$tmp/array/parts/task-1-profile.csv"
if submit --runs 10 --per-task 3 --out "$tmp/array" --resume --partition nosuch --aggsim "$aggsim" -- \
  --rule radial --seed 100 --particles 300 --trace "$tmp/array-trace.csv" >"$tmp/nosuch.out" 2>&1; then
  fail "--resume went ahead with --partition nosuch: $(cat "$tmp/nosuch.out")"
fi
same "$tmp/array" "$tmp/local"
# Without --aggsim (none in the PATH): the kept one.
submit --runs 10 --per-task 3 --out "$tmp/array" --resume --wait --partition test -- \
  --rule radial --seed 100 --particles 300 --trace "$tmp/array-trace.csv" >"$tmp/short.out" ||
  fail "submit.sh --resume of a short profile: $(cat "$tmp/short.out")"
grep -q "1 of 4 tasks" "$tmp/short.out" || fail "--resume did not rerun the task of the short profile: $(cat "$tmp/short.out")"
same "$tmp/array" "$tmp/local"
echo "slurm_test: a short profile was run again by --resume; a refused --resume kept the results"

# 2. The first and the last task cancelled mid-run: the first's first run
# and the last's second wait on FIFOs (their pictures) until scancel, the
# other tasks end (the node offers four CPUs whatever the machine has, so
# they run beside them).  --wait waits for the merge meanwhile.
mkdir -p "$tmp/pics"
mkfifo "$tmp/pics/dla-200.png" "$tmp/pics/dla-207.png"
cancel_args=(--runs 8 --per-task 2 --out "$tmp/cancel" --aggsim "$aggsim" -- \
  --rule radial --seed 200 --particles 300 --out-dir "$tmp/pics" --png dla.png)
submit --wait "${cancel_args[@]}" >"$tmp/submit2.out" 2>"$tmp/submit2.err" &
waiting=$!
submitted() { grep -q '^submitted the array' "$tmp/submit2.out"; }
await "the array" submitted
array=$(sed -n 's/^submitted the array \([0-9]*\):.*/\1/p' "$tmp/submit2.out")
# The last task's run of seed 207 has started only once its run of 206 has
# ended and been counted (one run at a time), which the picture of 206
# alone does not show; the pattern's backslash keeps grep from finding itself.
others_done() {
  [ -f "$tmp/cancel/parts/task-1.csv" ] && [ -f "$tmp/cancel/parts/task-2.csv" ] && [ -f "$tmp/pics/dla-206.png" ] &&
    grep -qs 'dla-207\.png' /proc/[0-9]*/cmdline
}
await "tasks 1 and 2" others_done
squeue -h -t R -j "${array}_0" | grep -q . || fail "task 0 is not running: $(squeue)"
# Resuming while the array runs would submit its tasks twice; so would a
# squeue that cannot answer, taken for an empty queue.
if submit --resume "${cancel_args[@]}" >"$tmp/early.out" 2>&1; then
  fail "--resume went ahead while the array ran: $(cat "$tmp/early.out")"
fi
grep -q "is still queued or running" "$tmp/early.out" || fail "--resume while the array ran: $(cat "$tmp/early.out")"
mkdir -p "$tmp/broken"
printf '#!/bin/sh\necho "squeue: error: Unable to contact slurm controller" >&2\nexit 1\n' >"$tmp/broken/squeue"
chmod +x "$tmp/broken/squeue"
if PATH="$tmp/broken:$PATH" submit --resume "${cancel_args[@]}" >"$tmp/blind.out" 2>&1; then
  fail "--resume went ahead with a failing squeue: $(cat "$tmp/blind.out")"
fi
grep -q "squeue failed" "$tmp/blind.out" || fail "--resume with a failing squeue: $(cat "$tmp/blind.out")"
scancel "${array}_0" "${array}_3"
if wait "$waiting"; then fail "--wait succeeded with seeds missing: $(cat "$tmp/submit2.out" "$tmp/submit2.err")"; fi
missing="aggsim: the merge holds 5 of the ensemble's 8 runs (seeds 200..207); missing seeds: 200-201,207"
grep -qx "$missing" "$tmp/cancel/logs/merge.err" || fail "merge.err: $(cat "$tmp/cancel/logs/merge.err")"
grep -qx "$missing" "$tmp/submit2.err" || fail "--wait did not give the missing seeds: $(cat "$tmp/submit2.err")"
await "the queue to drain" drained
# The last task kept the run that had ended (seed 206).
[ "$(tail -n +5 "$tmp/cancel/parts/task-3.csv" | cut -d, -f1)" = 206 ] ||
  fail "the cancelled task's table: $(cat "$tmp/cancel/parts/task-3.csv" 2>&1)"
rm "$tmp/pics/dla-200.png" "$tmp/pics/dla-207.png"
submit --resume --wait "${cancel_args[@]}" >"$tmp/submit3.out" || fail "submit.sh --resume: $(cat "$tmp/submit3.out")"
grep -q "2 of 4 tasks" "$tmp/submit3.out" || fail "--resume did not submit the two tasks: $(cat "$tmp/submit3.out")"
# The last task kept its ended run and ran only the seed it lacked.
[ "$(tail -n +5 "$tmp/cancel/parts/task-3.csv" | cut -d, -f1)" = 206 ] &&
  [ "$(tail -n +5 "$tmp/cancel/parts/task-3+1.csv" | cut -d, -f1)" = 207 ] ||
  fail "the resumed last task: $(ls "$tmp/cancel/parts")"
local_ensemble 200 8 "$tmp/local2"
same "$tmp/cancel" "$tmp/local2"
echo "slurm_test: the first and last tasks cancelled were named and failed --wait; resumed, the local ensemble"

# 3. Seeds that wrap round past 2^32 - 1, as a local ensemble's do, in a
# DIR whose name holds a %, with each run's trace in DIR/parts.
wrap="$tmp/wrap%j"
mkdir -p "$wrap/parts"
# A file of the user's there, named like the tasks', is not one of theirs.
echo "not a table" >"$wrap/parts/task-0-profile-4294967294.csv"
submit --runs 4 --per-task 2 --out "$wrap" --wait --aggsim "$aggsim" -- --rule radial --seed 4294967294 \
  --particles 300 --out-dir "$wrap/parts" --trace tr.csv >"$tmp/submit4.out" || fail "submit.sh: $(cat "$tmp/submit4.out")"
local_ensemble 4294967294 4 "$tmp/local3"
same "$wrap" "$tmp/local3"
[ -f "$wrap/parts/tr-1.csv" ] && [ -f "$wrap/logs/task-1.out" ] || fail "no trace or log of seed 1: $(ls "$wrap/parts" "$wrap/logs")"
echo "slurm_test: seeds past 4294967295 wrapped round as locally, in a DIR named with a % and traces in its parts"
# 4. The standard model through the same array: its tables carry each run's
# growth, and the merge gives the local ensemble's bytes, its closing lines
# on the growth included.
submit --runs 6 --per-task 2 --out "$tmp/dla" --wait --aggsim "$aggsim" -- --model dla --lattice square4 --seed 7 \
  --particles 500 >"$tmp/submit5.out" || fail "submit.sh --model dla: $(cat "$tmp/submit5.out")"
mkdir -p "$tmp/local4"
"$aggsim" --model dla --lattice square4 --seed 7 --particles 500 --runs 6 --jobs 2 --csv "$tmp/local4/ensemble.csv" \
  --profile "$tmp/local4/profile.csv" >"$tmp/local4/summary.txt"
same "$tmp/dla" "$tmp/local4"
grep -q "D of the mean Rg(N)" "$tmp/dla/summary.txt" || fail "the array's summary has no growth: $(cat "$tmp/dla/summary.txt")"
echo "slurm_test: the standard model's array gave the local ensemble, its growth included"
echo "slurm_test: passed"
