#!/usr/bin/env bash
# Installs the build with `cmake --install` into an empty prefix and runs
# the programs from there, with nothing of the build tree on the PATH:
# exactly the deliverables are installed, aggsim grows the same aggregate as
# the build tree's, the manual pages are found by name and open by file
# name from anywhere, aggbench finds its X11 helper in lib/aggregation, and
# the uninstall target takes it all away again.
#   install_test.sh BUILD_DIR BUILD_AGGSIM
set -uo pipefail
build=$1 build_aggsim=$2
work=$(mktemp -d)
prefix=$work/prefix
# The build's record of a real installation is put back afterwards, so that
# its uninstall target still undoes that one.
manifest=$build/install_manifest.txt
[ -f "$manifest" ] && cp -p "$manifest" "$work/manifest.saved"
cleanup() {
  if [ -f "$work/manifest.saved" ]; then cp -p "$work/manifest.saved" "$manifest"; else rm -f "$manifest"; fi
  rm -rf "$work"
}
trap cleanup EXIT
failed=0
fail() {
  echo "FAILED: $*"
  failed=1
}

cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || {
  cat "$work/install.log"
  echo "FAILED: cmake --install"
  exit 1
}

# Exactly the programs, their manual pages, the README, the licence and the
# changelog: no test, no test data, no library or header.
expected="bin/aggbench
bin/aggorder
bin/aggradial
bin/aggsim
bin/aggwhite
share/doc/aggregation/CHANGELOG.md
share/doc/aggregation/LICENSE
share/doc/aggregation/README.md
share/man/man1/aggbench.1.gz
share/man/man1/aggorder.1.gz
share/man/man1/aggradial.1.gz
share/man/man1/aggsim.1.gz
share/man/man1/aggwhite.1.gz"
# The README's guides, film and screenshot beside it, as the source tree has them.
source_docs=$(dirname "$0")/../../docs
guides=$(cd "$source_docs" && ls ./*.md film.gif window.png | sed 's|^\./||; s|^|share/doc/aggregation/docs/|')
expected=$(printf '%s\n%s' "$expected" "$guides" | sort)
[ -e "$build/bench/aggbench_x11" ] && expected=$(printf '%s\nlib/aggregation/aggbench_x11' "$expected" | sort)
actual=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
[ "$actual" = "$expected" ] || fail "installed files differ from the deliverables:
$(diff <(echo "$expected") <(echo "$actual"))"
for p in aggwhite aggradial aggorder aggsim aggbench; do
  [ -x "$prefix/bin/$p" ] || fail "bin/$p is not executable"
done

# Programs found on the PATH alone, started from an unrelated directory.
run() {
  (cd "$work" && env -i HOME="$work" PATH="$prefix/bin:/usr/bin:/bin" "$@")
}
args=(--seed 12345 --rule radial --particles 3000)
"$build_aggsim" "${args[@]}" --trace "$work/build.csv" >/dev/null || fail "the build tree's aggsim failed"
run aggsim "${args[@]}" --trace installed.csv >/dev/null || fail "the installed aggsim failed"
if [ -s "$work/build.csv" ] && cmp -s "$work/build.csv" "$work/installed.csv"; then
  echo "installed aggsim: the same $(wc -l <"$work/installed.csv") particles as the build tree's"
else
  fail "the installed aggsim's trace differs from the build tree's"
fi

# Every program has its page; the three desktop programs share one, the
# other two names being links to it.  Each opens by name, and by its file's
# name from the root folder (no include that needs a particular folder).
for p in aggradial aggorder; do
  [ "$(readlink "$prefix/share/man/man1/$p.1.gz")" = aggwhite.1.gz ] || fail "$p.1.gz is not a link to aggwhite.1.gz"
done
if command -v man >/dev/null; then
  for p in aggwhite aggradial aggorder aggsim aggbench; do
    text=$(run env MANPATH="$prefix/share/man" MANWIDTH=100 man -P cat "$p" 2>&1)
    grep -q "^NAME" <<<"$text" && grep -q "$p" <<<"$text" || fail "man $p: $text"
    text=$(cd / && env MANWIDTH=100 man -P cat -l "$prefix/share/man/man1/$p.1.gz" 2>&1)
    grep -q "^NAME" <<<"$text" && grep -q "$p" <<<"$text" || fail "man -l .../$p.1.gz from /: $text"
  done
else
  echo "man pages not read: man is not installed"
fi

# aggbench's fourth figure comes from aggbench_x11, which it finds in
# lib/aggregation beside its own bin folder, however it was started: through
# the PATH and through an absolute name.
if [ ! -e "$prefix/lib/aggregation/aggbench_x11" ]; then
  echo "aggbench's live window not tried: no desktop build"
elif ! command -v xvfb-run >/dev/null; then
  echo "aggbench's live window not tried: xvfb-run is not installed"
else
  for bench in aggbench "$prefix/bin/aggbench"; do
    out=$(run xvfb-run -a -s "-screen 0 1024x768x24" "$bench" --particles 100 --rounds 1 2>&1)
    if grep -qE '4 shipped, X11 +[0-9]+ steps/s' <<<"$out"; then
      echo "installed $bench: the live window measured by its aggbench_x11"
    else
      fail "$bench measured no live window: $out"
    fi
  done
fi

# The uninstall target removes every installed file and the package's own
# folders, and leaves the shared ones.
if cmake --build "$build" --target uninstall >"$work/uninstall.log" 2>&1; then
  left=$(cd "$prefix" && find . ! -type d | sed 's|^\./||')
  [ -z "$left" ] || fail "the uninstall target left files behind: $left"
  for own in lib/aggregation share/doc/aggregation; do
    [ ! -e "$prefix/$own" ] || fail "the uninstall target left the folder $own"
  done
  [ -d "$prefix/bin" ] || fail "the uninstall target removed the shared folder bin"
  [ -z "$left" ] && echo "uninstalled: $(grep -c . "$manifest") files removed, the package's folders with them"
else
  cat "$work/uninstall.log"
  fail "the uninstall target failed"
fi
exit $failed
