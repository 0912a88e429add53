#!/usr/bin/env bash
# Every option that a program's usage text names must be described in its
# manual page, so that a new option without documentation fails here; and
# every page must format without a warning.
#   man_test.sh MAN_DIR AGGSIM AGGBENCH
set -uo pipefail
man_dir=$1 aggsim=$2 aggbench=$3
command -v groff >/dev/null || { echo "skipped: groff is not installed (apt-get install groff-base)"; exit 77; }

failed=0
fail() {
  echo "FAILED: $*"
  failed=1
}

for page in "$man_dir"/*.1; do
  warnings=$(groff -man -Tascii -ww -z "$page" 2>&1)
  [ -z "$warnings" ] || fail "$(basename "$page") formats with warnings: $warnings"
done

# The page as a reader sees it, unhyphenated and on long lines, so that an
# option is never split across lines.
rendered() {
  groff -man -Tascii -rHY=0 -rLL=250n -P-cbou "$1" 2>/dev/null
}

# Options are the words of the usage text that start with a dash and a letter
# (less the bad one given to draw the usage out).
options_of() {
  grep -oE '(^|[][ |,(])--?[A-Za-z][A-Za-z0-9-]*' | sed -E 's/^[][ |,(]//' | grep -vx -- --no-such-option | sort -u
}

check() {
  local name=$1 usage=$2
  local page=$man_dir/$name.1
  local options text
  options=$(options_of <<<"$usage")
  [ -n "$options" ] || { fail "$name: no option found in its usage text: $usage"; return; }
  text=$(rendered "$page")
  while read -r option; do
    grep -qE -- "(^|[^A-Za-z0-9-])$option([^A-Za-z0-9-]|\$)" <<<"$text" \
      || fail "$name's usage names $option, which $name.1 does not describe"
  done <<<"$options"
  echo "$name's usage names $(wc -l <<<"$options") options: $(tr '\n' ' ' <<<"$options")"
}

# Both print their usage, then each option, on --help.
check aggsim "$("$aggsim" --help 2>&1)"
check aggbench "$("$aggbench" --help 2>&1)"
exit $failed
