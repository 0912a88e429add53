#!/usr/bin/env bash
# The documents and the programs name the same options: every option that
# aggsim --help and aggbench --help show is in the program's guide and its
# manual page, and every option the guide or the page names exists.
#   options_test.sh SOURCE_DIR AGGSIM AGGBENCH
set -uo pipefail
src=$1 aggsim=$2 aggbench=$3
command -v groff >/dev/null || { echo "skipped: groff is not installed (apt-get install groff-base)"; exit 77; }

failed=0
fail() {
  echo "FAILED: $*"
  failed=1
}

# Long options are words of two dashes and a letter.
options_of() { grep -oE -- '--[a-z][a-z0-9-]*' | sort -u; }
# The page as a reader sees it: no hyphenation, long lines.
rendered() { groff -man -Tascii -rHY=0 -rLL=250n -P-cbou "$1" 2>/dev/null; }

# compare NAME WHAT SHOWN NAMED: each of SHOWN in NAMED and back.
compare() {
  local name=$1 what=$2 shown=$3 named=$4
  [ -n "$named" ] || { fail "$what names no option at all"; return; }
  for o in $(comm -23 <(echo "$shown") <(echo "$named")); do fail "$name --help shows $o, which $what does not name"; done
  for o in $(comm -13 <(echo "$shown") <(echo "$named")); do fail "$what names $o, which $name --help does not show"; done
}

check() {
  local name=$1 program=$2 page=$3
  shift 3
  local help shown
  help=$("$program" --help) || { fail "$name --help failed"; return; }
  shown=$(options_of <<<"$help")
  [ -n "$shown" ] || { fail "$name --help shows no option"; return; }
  compare "$name" "$(basename "$page")" "$shown" "$(rendered "$page" | options_of)"
  # Help is asked for the same three ways in the help and the page.
  for form in "--help|-h|/?" "--help, -h, /?"; do
    grep -qF -- "$form" <<<"$help" || fail "$name --help does not show $form"
    rendered "$page" | grep -qF -- "$form" || fail "$(basename "$page") does not show $form"
  done
  # The guide may be more than one file (a model's options in its own).
  local guides=() f
  for f in "$@"; do [ -f "$f" ] && guides+=("$f"); done
  [ ${#guides[@]} -gt 0 ] || { fail "$name has no guide: $*"; return; }
  compare "$name" "$(basename -a "${guides[@]}" | paste -sd " ")" "$shown" "$(cat "${guides[@]}" | options_of)"
  echo "$name: $(wc -l <<<"$shown") options in its help, its page and its guide"
}

check aggsim "$aggsim" "$src/docs/man/aggsim.1" "$src/docs/runner.md" "$src/docs/standard-dla.md"
# The benchmark's guide is the part of the performance page about it.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
bench_guide=$scratch/performance.md
sed -n '/^## aggbench/,/^## /p' "$src/docs/performance.md" >"$bench_guide"
check aggbench "$aggbench" "$src/docs/man/aggbench.1" "$bench_guide"
exit $failed
