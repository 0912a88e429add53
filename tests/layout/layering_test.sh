#!/usr/bin/env bash
# The tree's layers, kept: an include runs only from a module to the same or
# a lower layer (runtime, then graph, then the two models side by side
# (aggregation, dla), then io, then the
# runner and the benchmark on top, which do not include each other), and a
# portable file never includes a platform's header: only files under posix/,
# x11/ or win32/ do.
#   layering_test.sh SOURCE_DIR
set -uo pipefail
cd "$1" || exit 1

rank() {
  case $1 in
    runtime) echo 0 ;; graph) echo 1 ;; aggregation | dla) echo 2 ;; io) echo 3 ;;
    apps) echo 4 ;; bench) echo 4 ;; *) echo -1 ;;
  esac
}

failed=0
checked=0
while IFS= read -r -d '' file; do
  top=${file%%/*}
  mine=$(rank "$top")
  while IFS= read -r line; do
    included=${line#*\"}
    included=${included%%/*}
    theirs=$(rank "$included")
    [ "$theirs" -lt 0 ] && continue
    checked=$((checked + 1))
    if [ "$theirs" -gt "$mine" ] || { [ "$theirs" -eq "$mine" ] && [ "$included" != "$top" ]; }; then
      echo "FAILED: $file includes $included/, above or beside its own layer ($top/): $line"
      failed=1
    fi
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]+"' "$file")
  case /$file in
    */posix/* | */x11/* | */win32/*) ;;
    *)
      if hit=$(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<(windows\.h|winsock2?\.h|X11/[^>]*|termios\.h|unistd\.h|pthread\.h|fcntl\.h|dlfcn\.h|spawn\.h|poll\.h|pty\.h|sys/[^>]*)>' "$file"); then
        echo "FAILED: $file is portable but includes a platform header: $hit"
        failed=1
      fi
      ;;
  esac
done < <(find runtime graph aggregation dla io apps bench -type f \( -name '*.cpp' -o -name '*.h' \) -print0)

[ "$checked" -gt 50 ] || { echo "FAILED: only $checked includes were found; is $1 the source tree?"; exit 1; }
[ $failed -eq 0 ] && echo "layers kept: $checked includes between modules checked"
exit $failed
