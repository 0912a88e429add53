#!/usr/bin/env bash
# The README's quick start, run as a newcomer would run it:
# - every "$ " command, from a fresh folder, prints each line shown under it
#   (the seconds and the steps per second aside, which depend on the
#   machine) and writes the files it names;
# - the watch command opens its window and keeps the terminal silent until
#   its input ends (when Xvfb is there to give it a display);
# - scripts/run.sh, its build stubbed, writes into the folder it was started
#   from and says so, passing its arguments on; the scripts' apt-get waits
#   for another apt's lock;
# - the runner's guide's gnuplot line draws its PNG (when gnuplot is there).
#   quick_start_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1 build=$2
readme=$src/README.md
scratch=$(mktemp -d)
xvfb=
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT

failed=0
fail() {
  echo "FAILED: $*"
  failed=1
}

# Figures that depend on the machine's speed.
mask() { sed -E 's/[0-9.]+ s, [0-9]+ steps\/s/T s, S steps\/s/; s/[0-9.]+ s, [0-9]+ particles\/s/T s, P particles\/s/'; }

# The quick start is the README's part from its heading to the next one.
quick=$(sed -n '/^## Quick start/,/^## /p' "$readme")
[ -n "$quick" ] || { echo "FAILED: the README has no quick start"; exit 1; }

# Each "$ " command and the lines shown under it, up to a blank line.
commands=0
run_block() {
  local cmd=$1 expected=$2 dir out
  commands=$((commands + 1))
  dir=$scratch/cmd$commands
  mkdir -p "$dir"
  # Paths under build/ are the build tree's, as after the set-up.
  local line=${cmd//build\//$build/}
  out=$(cd "$dir" && bash -c "$line" 2>&1)
  local code=$?
  [ $code -eq 0 ] || { fail "'$cmd' exits $code: $out"; return; }
  local masked_out
  masked_out=$(mask <<<"$out")
  while IFS= read -r want; do
    [ -z "$want" ] || [ "$want" = "..." ] && continue
    grep -qxF -- "$(mask <<<"$want")" <<<"$masked_out" || fail "'$cmd' does not print: $want
it printed:
$out"
  done <<<"$expected"
  # The files it is said to write.
  for f in $(grep -oE -- '--(png|gif|csv|trace|profile) [^ ]+' <<<"$cmd" | cut -d' ' -f2); do
    [ -s "$dir/$f" ] || fail "'$cmd' wrote no $f"
  done
}

cmd= expected=
while IFS= read -r line; do
  if [[ $line == '    $ '* ]]; then
    [ -n "$cmd" ] && run_block "$cmd" "$expected"
    cmd=${line#    \$ } expected=
  elif [ -n "$cmd" ] && [[ $line == '    '* ]]; then
    expected+=${line#    }$'\n'
  elif [ -n "$cmd" ]; then
    run_block "$cmd" "$expected"
    cmd= expected=
  fi
done <<<"$quick"
[ -n "$cmd" ] && run_block "$cmd" "$expected"
[ $commands -ge 3 ] || fail "only $commands commands found in the quick start"

# The watch command: in a window, silent, ended by its input.
watch=$(grep -E '^    build/aggregation/agg[a-z]+$' <<<"$quick" | head -1 | sed 's/^ *//')
[ -n "$watch" ] || fail "the quick start has no command to watch a program grow"
if [ -n "$watch" ] && command -v Xvfb >/dev/null && command -v script >/dev/null; then
  # A display of its own, numbered by the server so that none is shared.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.1; done
  display=:$(head -1 "$scratch/display")
  # The end of the input is the key and the line that close the window.
  DISPLAY=$display timeout 60 script -qec "sleep 2 | ${watch//build\//$build/}" /dev/null >"$scratch/watch.out" 2>&1
  code=$?
  [ $code -eq 0 ] || fail "'$watch' exits $code: $(cat -v "$scratch/watch.out")"
  # Only the terminal's escape sequences, never a word.
  if grep -q '[A-Za-z]\{3,\}' <(sed -E 's/\x1b\[[0-9;?]*[A-Za-z]//g; s/\x1b[0-9A-Za-z]//g' "$scratch/watch.out"); then
    fail "'$watch' printed to the terminal: $(cat -v "$scratch/watch.out")"
  fi
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
  xvfb=
else
  echo "the watch command not run: no Xvfb or script here"
fi

# run.sh from another folder, on a tree whose build and apt are stubbed.
tree=$scratch/tree
mkdir -p "$tree/scripts" "$tree/build/apps/aggsim" "$scratch/elsewhere"
cp "$src/scripts/run.sh" "$tree/scripts/"
printf '#!/bin/sh\nexit 0\n' >"$tree/scripts/build.sh"
printf '#!/bin/sh\nexit 0\n' >"$tree/scripts/deps.sh"
ln -s "$build/apps/aggsim/aggsim" "$tree/build/apps/aggsim/aggsim"
said=$(cd "$scratch/elsewhere" && DISPLAY= bash "$tree/scripts/run.sh" --particles 50 2>&1)
code=$?
[ $code -eq 0 ] || fail "run.sh exits $code: $said"
[ -s "$scratch/elsewhere/aggregate.png" ] || fail "run.sh wrote no aggregate.png where it was started"
[ -e "$tree/aggregate.png" ] && fail "run.sh wrote aggregate.png into the source tree"
grep -qxF "run.sh passes its arguments to aggsim: --particles 50" <<<"$said" || fail "run.sh does not say where its arguments go: $said"
grep -qxF "picture written to $scratch/elsewhere/aggregate.png" <<<"$said" || fail "run.sh does not say where it wrote: $said"
grep -q "^stuck 50," <<<"$said" || fail "run.sh's arguments did not reach aggsim: $said"

# deps.sh with apt-get and dpkg stubbed: every apt-get waits for the lock.
stub=$scratch/stub
mkdir -p "$stub"
printf '#!/bin/sh\nexit 1\n' >"$stub/dpkg"
printf '#!/bin/sh\necho "$*" >>"%s/apt.log"\n' "$scratch" >"$stub/apt-get"
printf '#!/bin/sh\nexec "$@"\n' >"$stub/sudo"
chmod +x "$stub"/*
PATH=$stub:$PATH bash "$src/scripts/deps.sh" some-package >/dev/null 2>&1 || fail "deps.sh failed with apt-get stubbed"
[ "$(grep -c -- '-o DPkg::Lock::Timeout=' "$scratch/apt.log" 2>/dev/null)" = 2 ] ||
  fail "deps.sh's apt-get calls do not all wait for the lock: $(cat "$scratch/apt.log" 2>/dev/null)"

# The runner's guide's plot, drawn by gnuplot without a display.
plot=$(grep -E '^    gnuplot ' "$src/docs/runner.md" | head -1 | sed 's/^ *//')
profile=$(grep -E '^    aggsim .*--profile profile.csv' "$src/docs/runner.md" | head -1 | sed 's/^ *//')
[ -n "$plot" ] && [ -n "$profile" ] || fail "the runner's guide has no profile and gnuplot lines"
if [ -n "$plot" ] && command -v gnuplot >/dev/null; then
  mkdir -p "$scratch/plot"
  (cd "$scratch/plot" && "$build/apps/aggsim/aggsim" ${profile#aggsim } >/dev/null &&
    env -u DISPLAY bash -c "$plot") >"$scratch/plot.out" 2>&1 || fail "the gnuplot line failed: $(cat "$scratch/plot.out")"
  [ "$(head -c 4 "$scratch/plot/profile.png" 2>/dev/null | tail -c 3)" = PNG ] || fail "the gnuplot line drew no PNG"
else
  echo "the gnuplot line not run: no gnuplot here"
fi

[ $failed -eq 0 ] && echo "the quick start's $commands commands print what the README shows"
exit $failed
