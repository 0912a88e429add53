#!/usr/bin/env bash
# scripts/cluster/submit.sh on a real Slurm: a private single-node cluster
# (its own munged, slurmctld and slurmd, from Debian's packages, on ports
# of its own) in a temporary folder.  An ensemble run as a job array must
# give the table, profile and lines of the same ensemble run locally, byte
# for byte; a task cancelled mid-run is then resubmitted by --resume, with
# the same result.  Needs root (the daemons run as root); skips otherwise.
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
local_ensemble() { # SEED RUNS DIR: the same ensemble on this machine
  mkdir -p "$3"
  "$aggsim" --rule radial --seed "$1" --particles 300 --runs "$2" --jobs 2 --csv "$3/ensemble.csv" \
    --profile "$3/profile.csv" >"$3/summary.txt"
}
same() { # DIR DIR
  for f in ensemble.csv profile.csv summary.txt; do
    cmp -s "$1/$f" "$2/$f" || { diff "$1/$f" "$2/$f" | head -20; fail "$1/$f differs from the local ensemble's"; }
  done
}

# 1. Ten runs in four tasks of at most three.
bash "$submit" --runs 10 --per-task 3 --out "$tmp/array" --wait --partition test --time 10 --aggsim "$aggsim" -- \
  --rule radial --seed 100 --particles 300 >"$tmp/submit.out" || fail "submit.sh --wait: $(cat "$tmp/submit.out")"
[ "$(find "$tmp/array/parts" -name 'task-*-profile.csv' | wc -l)" -eq 4 ] || fail "not four tasks: $(ls "$tmp/array/parts")"
local_ensemble 100 10 "$tmp/local"
same "$tmp/array" "$tmp/local"
echo "slurm_test: a 4-task array gave the local ensemble's table, profile and lines"

# 2. A task cancelled mid-run: its second run waits on a FIFO (its picture)
# until scancel, the other tasks end (the node offers four CPUs whatever
# the machine has, so they run beside it).
mkdir -p "$tmp/pics"
mkfifo "$tmp/pics/dla-203.png"
bash "$submit" --runs 8 --per-task 2 --out "$tmp/cancel" --aggsim "$aggsim" -- \
  --rule radial --seed 200 --particles 300 --out-dir "$tmp/pics" --png dla.png >"$tmp/submit2.out" ||
  fail "submit.sh: $(cat "$tmp/submit2.out")"
array=$(sed -n 's/^submitted the array \([0-9]*\):.*/\1/p' "$tmp/submit2.out")
[ -n "$array" ] || fail "no array id in: $(cat "$tmp/submit2.out")"
others_done() { [ -f "$tmp/cancel/parts/task-0.csv" ] && [ -f "$tmp/cancel/parts/task-2.csv" ] && [ -f "$tmp/cancel/parts/task-3.csv" ]; }
await "tasks 0, 2 and 3" others_done
squeue -h -t R -j "${array}_1" | grep -q . || fail "task 1 is not running: $(squeue)"
# Resuming while the array runs would submit its tasks twice.
if bash "$submit" --runs 8 --per-task 2 --out "$tmp/cancel" --resume --aggsim "$aggsim" -- \
  --rule radial --seed 200 --particles 300 --out-dir "$tmp/pics" --png dla.png >"$tmp/early.out" 2>&1; then
  fail "--resume went ahead while the array ran: $(cat "$tmp/early.out")"
fi
grep -q "is still queued or running" "$tmp/early.out" || fail "--resume while the array ran: $(cat "$tmp/early.out")"
scancel "${array}_1"
await "the cancel and the merge" drained
# The cancelled task kept the run that had ended (seed 202), and the merge
# named the seed it lacks.
[ "$(tail -n +4 "$tmp/cancel/parts/task-1.csv" | cut -d, -f1)" = 202 ] ||
  fail "the cancelled task's table: $(cat "$tmp/cancel/parts/task-1.csv" 2>&1)"
grep -q "seeds missing from 200..207: 203" "$tmp/cancel/logs/merge.err" || fail "merge.err: $(cat "$tmp/cancel/logs/merge.err")"
rm "$tmp/pics/dla-203.png"
bash "$submit" --runs 8 --per-task 2 --out "$tmp/cancel" --resume --wait --aggsim "$aggsim" -- \
  --rule radial --seed 200 --particles 300 --out-dir "$tmp/pics" --png dla.png >"$tmp/submit3.out" ||
  fail "submit.sh --resume: $(cat "$tmp/submit3.out")"
grep -q "1 of 4 tasks" "$tmp/submit3.out" || fail "--resume did not submit the one task: $(cat "$tmp/submit3.out")"
local_ensemble 200 8 "$tmp/local2"
same "$tmp/cancel" "$tmp/local2"
echo "slurm_test: a cancelled task, resumed, gave the local ensemble's table, profile and lines"
echo "slurm_test: passed"
