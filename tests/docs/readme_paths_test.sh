#!/usr/bin/env bash
# Every path that a README command names must be there for a newcomer who
# ran the set-up: build/... in the build tree, scripts/ and docs/ in the
# source tree.  Commands are the README's indented code lines and its
# inline code.
#   readme_paths_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1 build=$2
readme=$src/README.md
[ -f "$readme" ] || { echo "FAILED: no README at $readme"; exit 1; }

# The indented lines outside tables, and every `span`.
code=$( { grep -E '^    ' "$readme"; grep -oE '`[^`]+`' "$readme"; } )
paths=$(grep -oE '(^|[^A-Za-z0-9_.~/-])(\./)?(build|scripts|docs|tests)/[A-Za-z0-9_./-]*' <<<"$code" |
  sed -E 's/^[^A-Za-z.]//; s|^\./||; s/[.]$//' | sort -u)
[ -n "$paths" ] || { echo "FAILED: no path found in the README's commands"; exit 1; }

failed=0 checked=0
while read -r path; do
  checked=$((checked + 1))
  case $path in
    build/*) where=$build/${path#build/} ;;
    *) where=$src/$path ;;
  esac
  if [ ! -e "$where" ]; then
    echo "FAILED: the README names $path, which is not there ($where)"
    failed=1
  fi
done <<<"$paths"
[ $failed -eq 0 ] && echo "the README's $checked paths are there: $(tr '\n' ' ' <<<"$paths")"
exit $failed
