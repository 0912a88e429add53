#!/usr/bin/env bash
# Builds the project in build/ and makes its Debian package there with
# CPack: the five programs in /usr/bin, aggbench's helper in
# /usr/lib/aggregation, the manual pages, the README, the copyright file and
# the changelogs, with the package's dependencies computed by
# dpkg-shlibdeps from the libraries the programs link.  Prints the package's
# path.  With a processor's name (arm64), the cross build in build-arm64/ is
# packaged for that processor instead.
#   bash scripts/package.sh [arm64]
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
case "${1:-}" in
  "") bash scripts/build.sh >&2 ;;
  arm64)
    build=build-$1
    bash scripts/build-cross.sh "$1" >&2
    ;;
  *) echo "usage: bash scripts/package.sh [arm64]" >&2; exit 2 ;;
esac
bash scripts/deps.sh dpkg-dev file >&2
# CPack installs into a staging folder through the build's install rules,
# which rewrites install_manifest.txt with the package's paths; the
# record of a `cmake --install` made before is put back, so that the
# uninstall target still undoes that one.
saved=
if [ -f "$build/install_manifest.txt" ]; then
  saved=$(mktemp)
  cp -p "$build/install_manifest.txt" "$saved"
fi
# An older package (another version) would be taken for this one.
rm -f "$build"/aggregation_*.deb
status=0
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || status=$?
if [ -n "$saved" ]; then mv "$saved" "$build/install_manifest.txt"; else rm -f "$build/install_manifest.txt"; fi
[ "$status" -eq 0 ] || { cat "$build/cpack.log" >&2; exit 1; }
deb=$(ls -t "$build"/aggregation_*.deb | head -1)
echo "$PWD/$deb"
