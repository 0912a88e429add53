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
S+i*K to S+i*K+K-1 (S is the --seed among AGGSIM_OPTIONS, a decimal number,
or the clock's; past 4294967295 the seeds wrap round to 0, as a local
"aggsim --runs N" does) as "aggsim --runs K --jobs 1", writing
DIR/parts/task-I.csv and its profile DIR/parts/task-I-profile.csv. A merge
job, started when every task has ended (however it ended), writes
DIR/ensemble.csv, DIR/profile.csv (the mean N(r)) and DIR/summary.txt (a line
a run and the closing line, as "aggsim --runs N" prints them). When seeds are
missing, DIR/logs/merge.err says how many of the N runs the merge holds and
names every seed it lacks, and --wait exits 1 with that line.
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
--runs, --jobs, --csv, --profile, --merge, --part-of and --check are the
script's to give.

Everything is checked before anything is submitted or removed: the options,
AGGSIM_OPTIONS (by aggsim itself, running nothing) and the array (by sbatch
--test-only). Errors (exit code 2 for usage, 1 otherwise): a missing or bad
option, no sbatch in the PATH, no aggsim, a DIR that already holds an
ensemble without --resume, or one of other settings or with jobs still
queued with it (or a squeue that cannot tell), sbatch's own refusals, shown
as it gave them, and with --wait an ensemble with seeds missing.
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
    --runs | --jobs | --csv | --profile | --merge | --part-of | --check) bad "${given[i]} is given by the script, not among AGGSIM_OPTIONS" ;;
    --seed)
      seed=${given[i + 1]:-}
      # Decimal, as aggsim reads it: a leading zero is no octal mark here.
      [[ "$seed" =~ ^[0-9]+$ ]] || bad "bad value for --seed: $seed"
      digits=${seed#"${seed%%[1-9]*}"}
      { [ ${#digits} -le 10 ] && [ "$((10#${digits:-0}))" -le 4294967295 ]; } || bad "bad value for --seed: $seed"
      seed=$((10#${digits:-0}))
      i=$((i + 1)) ;;
    *) options+=("${given[i]}") ;;
  esac
done
command -v sbatch >/dev/null || fail "sbatch not found: this needs a Slurm cluster's client commands (Debian's slurm-client)"
mkdir -p "$out" || fail "cannot make $out"
out=$(realpath "$out")
tasks=$(((runs + per - 1) / per))
[ "$tasks" -le 1000 ] || bad "$tasks tasks: a Slurm job array holds 1000 unless the cluster allows more; raise --per-task"

# The settings are kept beside the results, so that --resume runs the very
# same seeds, options and aggsim.
conf="$out/ensemble.conf"
if [ -e "$conf" ]; then
  [ "$resume" = 1 ] || fail "$out already holds an ensemble: --resume goes on with it, or choose another --out"
  kept_runs="" kept_per="" kept_seed="" kept_options=() kept_aggsim=""
  # shellcheck source=/dev/null
  source "$conf"
  if [ "$kept_runs" != "$runs" ] || [ "$kept_per" != "$per" ] || [ "${kept_options[*]-}" != "${options[*]-}" ] ||
    { [ -n "$seed" ] && [ "$seed" != "$kept_seed" ]; }; then
    fail "$out holds an ensemble of other settings (see $conf)"
  fi
  seed=$kept_seed
  [ -n "$aggsim" ] || aggsim=$kept_aggsim
else
  [ "$resume" = 0 ] || fail "$out holds no ensemble to resume"
  [ -n "$seed" ] || seed=$(($(date +%s) % 4294967296))
fi
if [ -z "$aggsim" ]; then
  aggsim=$(command -v aggsim) || fail "aggsim not found in the PATH; give --aggsim PATH"
fi
[ -x "$aggsim" ] || fail "$aggsim is not a program to run"
aggsim=$(realpath "$aggsim")
mkdir -p "$out/parts" "$out/logs"
# aggsim judges its own options, as every task will give them, running
# nothing.
"$aggsim" ${options[@]+"${options[@]}"} --seed "$seed" --runs "$runs" --part-of "$seed:$runs" --jobs 1 \
  --csv "$out/parts/task-0.csv" --profile "$out/parts/task-0-profile.csv" --check ||
  fail "aggsim refused AGGSIM_OPTIONS (its message is above); nothing was submitted"
# Tasks still queued or running would be submitted twice; a squeue that
# cannot answer leaves that unknown.
if [ -s "$out/jobs" ]; then
  queued=$(squeue -h -t PD,CF,R,S,CG -o '%F %A') ||
    fail "squeue failed: cannot tell whether the jobs of $out are still queued; nothing was submitted"
  while read -r id; do
    if grep -qw -- "$id" <<<"$queued"; then
      fail "job $id of $out is still queued or running: wait for it, or scancel it, then --resume"
    fi
  done <"$out/jobs"
fi

# The task and merge scripts, each argument quoted once here.  The seeds
# wrap round past 4294967295, as aggsim's own do.
quoted=""
for o in ${options[@]+"${options[@]}"}; do quoted+=" $(printf '%q' "$o")"; done
parts=$(printf '%q' "$out/parts")
cat >"$out/task.sh" <<TASK
#!/usr/bin/env bash
# One task of the array: its block of consecutive seeds, or, resumed, those
# of it from the place in task-I.from on, beside the runs it kept.
set -eu
i=\$SLURM_ARRAY_TASK_ID
from=0
[ ! -f $parts/task-\$i.from ] || from=\$(cat $parts/task-\$i.from)
first=\$((($seed + i * $per + from) % 4294967296))
count=\$(($runs - i * $per)); [ \$count -le $per ] || count=$per
count=\$((count - from))
name=task-\$i; [ "\$from" -eq 0 ] || name=task-\$i+\$from
exec $(printf '%q' "$aggsim")$quoted --seed "\$first" --runs "\$count" --part-of $seed:$runs --jobs 1 \\
  --csv $parts/\$name.csv --profile $parts/\$name-profile.csv
TASK
cat >"$out/merge.sh" <<MERGE
#!/usr/bin/env bash
# The merge after the array: the tables and profiles of every task there is,
# by name (other files in the folder are not the tasks').  aggsim names the
# seeds missing and ends with 3 when any is.
set -eu
cd $parts
files=()
for ((i = 0; i < $tasks; i++)); do
  for t in task-\$i.csv task-\$i+*.csv; do
    case \$t in *-profile.csv) continue ;; esac
    [ ! -f "\$t" ] || files+=("\$t")
    [ ! -f "\${t%.csv}-profile.csv" ] || files+=("\${t%.csv}-profile.csv")
  done
done
if [ \${#files[@]} -eq 0 ]; then
  echo "aggsim: the merge holds 0 of the ensemble's $runs runs: no task wrote a table" >&2
  exit 3
fi
exec $(printf '%q' "$aggsim") --merge "\${files[@]}" --csv ../ensemble.csv --profile ../profile.csv >../summary.txt
MERGE
chmod +x "$out/task.sh" "$out/merge.sh"

# What each task holds: its pieces (task-I.csv from its first seed, then
# task-I+P.csv from its place P on, written by a resumed task), each a
# table that aggsim merges with its profile and that holds the consecutive
# seeds from where the last ended.  A task that holds them all is done; one
# cut short (cancelled, out of time) runs again only from where it stopped.
# The pieces that do not fit are removed, once sbatch has taken the jobs.
held_piece() { # TABLE START: its rows, when it is a whole piece from seed START
  local table=$1 start=$2 status=0 rows
  [ -f "$table" ] && [ -f "${table%.csv}-profile.csv" ] || return 1
  "$aggsim" --merge "$table" "${table%.csv}-profile.csv" >/dev/null 2>&1 || status=$?
  [ $status -eq 0 ] || [ $status -eq 3 ] || return 1
  rows=$(($(wc -l <"$table") - 4))
  awk -F, -v s="$start" 'NR > 4 && $1 != (s + NR - 5) % 4294967296 { bad = 1 } END { exit bad }' "$table" || return 1
  echo "$rows"
}
todo=() drop=() froms=()
for ((i = 0; i < tasks; i++)); do
  count=$((runs - i * per)); [ $count -le "$per" ] || count=$per
  held=0
  places=(0)
  while read -r place; do
    [ -z "$place" ] || places+=("$place")
  done < <(cd "$out/parts" && for f in "task-$i+"*.csv; do
    [[ "$f" =~ ^task-$i\+([0-9]+)\.csv$ ]] && echo "${BASH_REMATCH[1]}"
  done | sort -n)
  for place in "${places[@]}"; do
    table="$out/parts/task-$i.csv"
    [ "$place" -eq 0 ] || table="$out/parts/task-$i+$place.csv"
    [ -f "$table" ] || continue
    rows=""
    [ "$place" -ne "$held" ] || rows=$(held_piece "$table" $(((seed + i * per + held) % 4294967296))) || rows=""
    if [ -n "$rows" ] && [ "$rows" -gt 0 ] && [ $((held + rows)) -le "$count" ]; then
      held=$((held + rows))
    else
      drop+=("$table" "${table%.csv}-profile.csv")
    fi
  done
  [ "$held" -lt "$count" ] || continue
  todo+=("$i")
  froms+=("$held")
done
# Slurm reads % in its log names as a pattern: %% is a plain one.
logs=${out//%/%%}/logs
array_options=(${slurm[@]+"${slurm[@]}"} --job-name=aggsim-ensemble --output="$logs/task-%a.out" --error="$logs/task-%a.err")
merge_options=(${slurm[@]+"${slurm[@]}"} --job-name=aggsim-merge --output="$logs/merge.out" --error="$logs/merge.err")
# sbatch judges the jobs before anything of the last submission is removed.
if [ ${#todo[@]} -gt 0 ]; then
  list=$(IFS=,; echo "${todo[*]}")
  sbatch --test-only "${array_options[@]}" --array="$list" "$out/task.sh" 2>"$out/logs/test-only.err" >/dev/null || {
    cat "$out/logs/test-only.err" >&2
    fail "sbatch refused the array (its message is above); nothing was submitted or removed"
  }
fi
sbatch --test-only "${merge_options[@]}" "$out/merge.sh" 2>"$out/logs/test-only.err" >/dev/null || {
  cat "$out/logs/test-only.err" >&2
  fail "sbatch refused the merge (its message is above); nothing was submitted or removed"
}
rm -f "$out/logs/test-only.err"
if [ ! -e "$conf" ]; then
  {
    printf 'kept_runs=%q\nkept_per=%q\nkept_seed=%q\nkept_aggsim=%q\n' "$runs" "$per" "$seed" "$aggsim"
    printf 'kept_options=('
    for o in ${options[@]+"${options[@]}"}; do printf ' %q' "$o"; done
    printf ' )\n'
  } >"$conf"
fi
rm -f ${drop[@]+"${drop[@]}"}
for ((k = 0; k < ${#todo[@]}; k++)); do
  from_file="$out/parts/task-${todo[k]}.from"
  if [ "${froms[k]}" -eq 0 ]; then rm -f "$from_file"; else echo "${froms[k]}" >"$from_file"; fi
done
rm -f "$out/summary.txt" "$out/ensemble.csv" "$out/profile.csv" "$out/logs/merge.err" "$out/logs/merge.out"

dependency=()
last=$(((seed + runs - 1) % 4294967296))
if [ ${#todo[@]} -gt 0 ]; then
  array=$(sbatch --parsable "${array_options[@]}" --array="$list" "$out/task.sh") ||
    fail "sbatch refused the array (its message is above)"
  array=${array%%;*}
  echo "$array" >"$out/jobs"
  echo "submitted the array $array: ${#todo[@]} of $tasks tasks, seeds $seed to $last"
  dependency=(--dependency="afterany:$array")
else
  : >"$out/jobs"
  echo "every task's table is complete: only the merge is submitted"
fi
waiting=()
[ "$wait" = 1 ] && waiting=(--wait)
status=0
merge=$(sbatch --parsable "${merge_options[@]}" ${dependency[@]+"${dependency[@]}"} ${waiting[@]+"${waiting[@]}"} \
  "$out/merge.sh") || status=$?
merge=${merge%%;*}
[ -z "$merge" ] || echo "$merge" >>"$out/jobs"
if [ "$wait" = 1 ]; then
  # An ensemble with seeds missing is not a result: the merge's line says
  # how many of how many runs it holds, and which seeds it lacks.
  if [ -f "$out/logs/merge.err" ] && grep -q '^aggsim: the merge holds ' "$out/logs/merge.err"; then
    [ ! -s "$out/summary.txt" ] || tail -n 1 "$out/summary.txt"
    grep '^aggsim: the merge holds ' "$out/logs/merge.err" >&2
    exit 1
  fi
  [ "$status" -eq 0 ] || fail "the merge job failed or was refused (see $out/logs/merge.err)"
  [ -s "$out/summary.txt" ] || fail "the merge wrote no summary (see $out/logs/merge.err)"
  tail -n 1 "$out/summary.txt"
  if [ -s "$out/logs/merge.err" ]; then cat "$out/logs/merge.err" >&2; fi
else
  [ "$status" -eq 0 ] || fail "sbatch refused the merge (its message is above)"
  echo "submitted the merge $merge: $out/summary.txt, ensemble.csv and profile.csv when it ends"
fi
