#!/usr/bin/env bash
# The Windows runner's files and failures under Wine, run from build-win/:
#   aggsim_checks.sh SCRATCH [LINUX_AGGSIM PNG_SAME]
# With the Linux build's runner and picture comparer it also checks that
# both builds draw the same picture for a seed, pixel for pixel.
set -u
scratch=$1
linux_aggsim=${2:-}
png_same=${3:-}
aggsim=apps/aggsim/aggsim.exe
failed=0
fail() {
  echo "FAILED: $*"
  failed=1
}
win() { echo "Z:$1" | tr / '\\'; }

if [ -n "$linux_aggsim" ] && [ -x "$png_same" ]; then
  "$linux_aggsim" --seed 12345 --rule radial --particles 3000 --png "$scratch/linux.png" >/dev/null
  wine $aggsim --seed 12345 --rule radial --particles 3000 --png "$(win "$scratch/windows.png")" >/dev/null ||
    fail "aggsim.exe --png"
  "$png_same" "$scratch/linux.png" "$scratch/windows.png" || fail "the PNG differs from the Linux build's"
else
  echo "skipped the picture against Linux's: no Linux build in build/"
fi

# A screen the 32-bit process cannot hold is named in one line.
err=$(wine $aggsim --screen 12000x12000 --particles 5 2>&1 >/dev/null)
rc=$?
[ $rc -eq 1 ] && [[ $err == "aggsim: not enough memory for a 12000 x 12000 screen"* ]] && [ "$(echo "$err" | wc -l)" -eq 1 ] ||
  fail "memory: exit $rc, $err"

# So is a film of more frames than the process could hold (25 bytes each
# at the least, a billion of them).
err=$(wine $aggsim --gif "$(win "$scratch/long.gif")" --particles 1000000000 --frame-every 1 2>&1 >/dev/null)
rc=$?
[ $rc -eq 1 ] && [[ $err == "aggsim: not enough memory for a film of 1000000002 frames"* ]] &&
  [ "$(echo "$err" | wc -l)" -eq 1 ] && [ ! -e "$scratch/long.gif" ] || fail "film memory: exit $rc, $err"

# Outputs that cannot be written fail before a run that would take hours.
mkdir -p "$scratch/out"
for bad in "--png $(win "$scratch/missing/x.png")" "--trace $(win "$scratch/out")"; do
  start=$(date +%s%N)
  # shellcheck disable=SC2086
  err=$(wine $aggsim --seed 1 --particles 10000000 $bad 2>&1 >/dev/null)
  rc=$?
  ms=$((($(date +%s%N) - start) / 1000000))
  # The bound only tells "before the run" from "after hours"; Wine's start
  # on a busy machine alone can take seconds.
  [ $rc -eq 1 ] && [ $ms -lt 60000 ] && [[ $err == "aggsim: cannot write "* ]] || fail "fail fast ($bad): exit $rc after $ms ms: $err"
done

# The same file twice, as Windows sees names.
err=$(wine $aggsim --png "$(win "$scratch/out/a.png")" --trace "$(win "$scratch/OUT/A.PNG")" 2>&1 >/dev/null)
rc=$?
[ $rc -eq 2 ] && [[ $err == "aggsim: --png and --trace name the same file"* ]] || fail "same file: exit $rc, $err"
err=$(wine $aggsim --seed 1 --bogus 2>&1 >/dev/null)
[[ $err == "aggsim: unknown option --bogus"* ]] || fail "unknown option: $err"

# An existing file is replaced, and nothing
# is left beside it; standard output by "-".
echo old >"$scratch/out/t.csv"
wine $aggsim --seed 1 --particles 40 --trace "$(win "$scratch/out/t.csv")" >/dev/null || fail "--trace over a file"
[ "$(wc -l <"$scratch/out/t.csv")" -eq 40 ] || fail "the trace was not replaced"
wine $aggsim --seed 1 --particles 40 --png "$(win "$scratch/out/missing/p.png")" --trace "$(win "$scratch/out/t.csv")" \
  >/dev/null 2>&1 && fail "an unwritable PNG was taken"
[ "$(ls -A "$scratch/out")" = "t.csv" ] || fail "left in the folder: $(ls -A "$scratch/out")"
lines=$(wine $aggsim --seed 1 --particles 40 --trace - 2>"$scratch/err" | tr -d '\r' | wc -l)
[ "$lines" -eq 40 ] && grep -q "^stuck 40," "$scratch/err" || fail "--trace -: $lines lines; $(cat "$scratch/err")"

# A run-time error's report goes to standard error when an output is
# standard output, never into the output.
out=$(wine $aggsim --seed 1 --start-radius 50000 --trace - 2>"$scratch/err")
rc=$?
[ $rc -eq 201 ] && [ -z "$out" ] && grep -q "^Runtime error 201 at 0x" "$scratch/err" ||
  fail "report with --trace -: exit $rc, out '$out', err $(cat "$scratch/err")"

# Names outside the code page (Wine's is the Western one here), and with a
# space: Cyrillic, CJK, written, replaced, compared and named in messages
# as they are, and handed on to the runs of an ensemble.  This script's
# names are UTF-8, which Wine reads them as in a UTF-8 locale.
export LC_ALL=C.UTF-8
mkdir -p "$scratch/Тест Ж" "$scratch/测试 目录"
wine $aggsim --seed 1 --particles 40 --trace "$(win "$scratch/Тест Ж/след.csv")" \
  --png "$(win "$scratch/测试 目录/图像.png")" >/dev/null 2>"$scratch/err" || fail "unicode names: $(cat "$scratch/err")"
[ "$(wc -l <"$scratch/Тест Ж/след.csv" 2>/dev/null)" = 40 ] || fail "no trace under a Cyrillic name"
[ -s "$scratch/测试 目录/图像.png" ] || fail "no picture under a CJK name"
wine $aggsim --seed 2 --particles 30 --trace "$(win "$scratch/Тест Ж/след.csv")" >/dev/null || fail "replace"
[ "$(wc -l <"$scratch/Тест Ж/след.csv")" = 30 ] && [ "$(ls -A "$scratch/Тест Ж")" = "след.csv" ] ||
  fail "the Cyrillic name was not replaced cleanly: $(ls -A "$scratch/Тест Ж")"
err=$(wine $aggsim --trace "$(win "$scratch/Тест Ж/след.csv")" --png "$(win "$scratch/ТЕСТ Ж/СЛЕД.CSV")" 2>&1 >/dev/null)
rc=$?
[ $rc -eq 2 ] && [[ $err == "aggsim: --png and --trace name the same file"* ]] || fail "same file, Cyrillic: exit $rc, $err"
err=$(wine $aggsim --seed 1 --trace "$(win "$scratch/нет/файл.csv")" 2>&1 >/dev/null)
[[ $err == *"нет"*"файл.csv"* ]] || fail "the message does not name the file as it is: $err"
wine $aggsim --rule radial --seed 41 --particles 100 --runs 2 --jobs 2 --csv "$(win "$scratch/测试 目录/表.csv")" \
  --trace "$(win "$scratch/Тест Ж/последний.csv")" >/dev/null 2>"$scratch/err" || fail "ensemble: $(cat "$scratch/err")"
[ "$(wc -l <"$scratch/测试 目录/表.csv" 2>/dev/null)" -ge 3 ] && [ "$(wc -l <"$scratch/Тест Ж/последний.csv" 2>/dev/null)" = 100 ] ||
  fail "the ensemble's files under Unicode names"
wine $aggsim --merge "$(win "$scratch/测试 目录/表.csv")" >"$scratch/merged" 2>"$scratch/err" &&
  [ "$(grep -c '^run [12]: seed 4[12],' "$scratch/merged")" -eq 2 ] || fail "a merge of a table under a CJK name: $(cat "$scratch/err")"

exit $failed
