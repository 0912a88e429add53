#!/usr/bin/env bash
# Runs an aggsim ensemble on a Slurm cluster: one job array whose tasks each
# run a block of consecutive seeds, and a merge job after the whole array.
set -euo pipefail

usage() {
  cat <<'TEXT'
usage: submit.sh --runs N --per-task K --out DIR [--wait] [--resume]
                 [--partition P] [--time T] [--account A] [--aggsim PATH]
                 -- AGGSIM_OPTIONS

Submits one sbatch job array of ceil(N/K) tasks. Task i runs the seeds
S+i*K to S+i*K+K-1 (S is the --seed among AGGSIM_OPTIONS, or the clock's) as
"aggsim --runs K --jobs 1", writing DIR/parts/task-I.csv and its profile
DIR/parts/task-I-profile.csv. A merge job, started when every task has ended
(however it ended), writes DIR/ensemble.csv, DIR/profile.csv (the mean N(r))
and DIR/summary.txt (a line a run and the closing line, as "aggsim --runs N"
prints them); seeds missing from it are named in DIR/logs/merge.err.
DIR must be on a file system that the cluster's nodes share.

Options:
  --runs N          the ensemble's runs
  --per-task K      runs in each task of the array
  --out DIR         where the tables, logs and results go
  --wait            wait for the merge to end, then print the closing line
  --resume          in a DIR submitted before (same N, K and options), once
                    its jobs have left the queue: submit only the tasks whose
                    tables are missing or incomplete (cancelled, failed,
                    timed out), then the merge again
  --partition P     passed to sbatch (-p)
  --time T          passed to sbatch (-t): each task's time limit
  --account A       passed to sbatch (-A)
  --aggsim PATH     the aggsim to run (default: aggsim in the PATH); the
                    nodes must see it at the same path
  -h, --help        print this help

AGGSIM_OPTIONS are aggsim's own (--rule, --seed, --particles, --seconds,
--radius, --screen, --start-radius, --out-dir with --png and the like);
--runs, --jobs, --csv, --profile and --merge are the script's to give.

Errors (exit code 2 for usage, 1 otherwise): a missing or bad option, no
sbatch in the PATH, no aggsim, a DIR that already holds an ensemble without
--resume, or one of other settings or with jobs still queued with it, and
sbatch's own refusals, shown as it gave them.
TEXT
}

fail() {
  echo "submit.sh: $*" >&2
  exit 1
}
bad() {
  echo "submit.sh: $*" >&2
  echo "usage: submit.sh --runs N --per-task K --out DIR [--wait] [--resume] [--partition P] [--time T] [--account A] [--aggsim PATH] -- AGGSIM_OPTIONS (--help for more)" >&2
  exit 2
}
number() { [[ "$2" =~ ^[1-9][0-9]{0,6}$ ]] || bad "bad value for $1: $2"; }

runs="" per="" out="" wait=0 resume=0 aggsim="" slurm=()
while [ $# -gt 0 ]; do
  case "$1" in
    -h | --help) usage; exit 0 ;;
    --wait) wait=1 ;;
    --resume) resume=1 ;;
    --runs | --per-task | --out | --partition | --time | --account | --aggsim)
      [ $# -ge 2 ] || bad "missing value for $1"
      case "$1" in
        --runs) number "$1" "$2"; runs=$2 ;;
        --per-task) number "$1" "$2"; per=$2 ;;
        --out) out=$2 ;;
        --partition) slurm+=(--partition="$2") ;;
        --time) slurm+=(--time="$2") ;;
        --account) slurm+=(--account="$2") ;;
        --aggsim) aggsim=$2 ;;
      esac
      shift ;;
    --) shift; break ;;
    *) bad "unknown option $1" ;;
  esac
  shift
done
options=("$@")
[ -n "$runs" ] || bad "--runs is missing"
[ -n "$per" ] || bad "--per-task is missing"
[ -n "$out" ] || bad "--out is missing"
seed=""
given=(${options[@]+"${options[@]}"})
options=()
for ((i = 0; i < ${#given[@]}; i++)); do
  case "${given[i]}" in
    --runs | --jobs | --csv | --profile | --merge) bad "${given[i]} is given by the script, not among AGGSIM_OPTIONS" ;;
    --seed)
      seed=${given[i + 1]:-}
      [[ "$seed" =~ ^[0-9]+$ ]] || bad "bad value for --seed: $seed"
      i=$((i + 1)) ;;
    *) options+=("${given[i]}") ;;
  esac
done
command -v sbatch >/dev/null || fail "sbatch not found: this needs a Slurm cluster's client commands (Debian's slurm-client)"
if [ -z "$aggsim" ]; then
  aggsim=$(command -v aggsim) || fail "aggsim not found in the PATH; give --aggsim PATH"
fi
[ -x "$aggsim" ] || fail "$aggsim is not a program to run"
aggsim=$(realpath "$aggsim")
mkdir -p "$out" || fail "cannot make $out"
out=$(realpath "$out")
tasks=$(((runs + per - 1) / per))
[ "$tasks" -le 1000 ] || bad "$tasks tasks: a Slurm job array holds 1000 unless the cluster allows more; raise --per-task"

# The settings are kept beside the results, so that --resume runs the very
# same seeds and options.
conf="$out/ensemble.conf"
if [ -e "$conf" ]; then
  [ "$resume" = 1 ] || fail "$out already holds an ensemble: --resume goes on with it, or choose another --out"
  kept_runs="" kept_per="" kept_seed="" kept_options=()
  # shellcheck source=/dev/null
  source "$conf"
  if [ "$kept_runs" != "$runs" ] || [ "$kept_per" != "$per" ] || [ "${kept_options[*]-}" != "${options[*]-}" ] ||
    { [ -n "$seed" ] && [ "$seed" != "$kept_seed" ]; }; then
    fail "$out holds an ensemble of other settings (see $conf)"
  fi
  seed=$kept_seed
else
  [ "$resume" = 0 ] || fail "$out holds no ensemble to resume"
  [ -n "$seed" ] || seed=$(($(date +%s) % 4294967296))
  {
    printf 'kept_runs=%q\nkept_per=%q\nkept_seed=%q\n' "$runs" "$per" "$seed"
    printf 'kept_options=('
    for o in ${options[@]+"${options[@]}"}; do printf ' %q' "$o"; done
    printf ' )\n'
  } >"$conf"
fi
mkdir -p "$out/parts" "$out/logs"
# Tasks still queued or running would be submitted twice.
if [ -s "$out/jobs" ]; then
  while read -r id; do
    if [ -n "$(squeue -h -t PD,CF,R,S,CG -j "$id" 2>/dev/null)" ]; then
      fail "job $id of $out is still queued or running: wait for it, or scancel it, then --resume"
    fi
  done <"$out/jobs"
fi

# The task and merge scripts, each argument quoted once here.
quoted=""
for o in ${options[@]+"${options[@]}"}; do quoted+=" $(printf '%q' "$o")"; done
cat >"$out/task.sh" <<TASK
#!/usr/bin/env bash
# One task of the array: its block of consecutive seeds.
set -eu
i=\$SLURM_ARRAY_TASK_ID
first=\$(($seed + i * $per))
count=\$(($runs - i * $per)); [ \$count -le $per ] || count=$per
exec $(printf '%q' "$aggsim")$quoted --seed "\$first" --runs "\$count" --jobs 1 \\
  --csv $(printf '%q' "$out/parts")/task-\$i.csv --profile $(printf '%q' "$out/parts")/task-\$i-profile.csv
TASK
cat >"$out/merge.sh" <<MERGE
#!/usr/bin/env bash
# The merge after the array: the tables and profiles of every task there is.
set -eu
cd $(printf '%q' "$out/parts")
exec $(printf '%q' "$aggsim") --merge task-*.csv --csv ../ensemble.csv --profile ../profile.csv >../summary.txt
MERGE
chmod +x "$out/task.sh" "$out/merge.sh"

# A task is done when its table holds all its rows (three heading lines,
# then a row a run) and its profile is there.
todo=()
for ((i = 0; i < tasks; i++)); do
  count=$((runs - i * per)); [ $count -le "$per" ] || count=$per
  table="$out/parts/task-$i.csv"
  if [ -f "$table" ] && [ -f "$out/parts/task-$i-profile.csv" ] && [ "$(wc -l <"$table")" -eq $((count + 3)) ]; then
    continue
  fi
  rm -f "$table" "$out/parts/task-$i-profile.csv"
  todo+=("$i")
done
rm -f "$out/summary.txt" "$out/ensemble.csv" "$out/profile.csv"

dependency=()
if [ ${#todo[@]} -gt 0 ]; then
  list=$(IFS=,; echo "${todo[*]}")
  array=$(sbatch --parsable ${slurm[@]+"${slurm[@]}"} --job-name=aggsim-ensemble --array="$list" \
    --output="$out/logs/task-%a.out" --error="$out/logs/task-%a.err" "$out/task.sh") ||
    fail "sbatch refused the array (its message is above)"
  array=${array%%;*}
  echo "$array" >"$out/jobs"
  echo "submitted the array $array: ${#todo[@]} of $tasks tasks, seeds $seed to $((seed + runs - 1))"
  dependency=(--dependency="afterany:$array")
else
  echo "every task's table is complete: only the merge is submitted"
fi
waiting=()
[ "$wait" = 1 ] && waiting=(--wait)
merge=$(sbatch --parsable ${slurm[@]+"${slurm[@]}"} ${dependency[@]+"${dependency[@]}"} ${waiting[@]+"${waiting[@]}"} \
  --job-name=aggsim-merge --output="$out/logs/merge.out" --error="$out/logs/merge.err" "$out/merge.sh") ||
  fail "the merge job failed or was refused (see $out/logs/merge.err)"
merge=${merge%%;*}
echo "$merge" >>"$out/jobs"
if [ "$wait" = 1 ]; then
  [ -s "$out/summary.txt" ] || fail "the merge wrote no summary (see $out/logs/merge.err)"
  tail -n 1 "$out/summary.txt"
  if [ -s "$out/logs/merge.err" ]; then cat "$out/logs/merge.err" >&2; fi
else
  echo "submitted the merge $merge: $out/summary.txt, ensemble.csv and profile.csv when it ends"
fi
