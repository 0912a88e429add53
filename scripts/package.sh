#!/usr/bin/env bash
# Builds the project in build/ and makes its Debian package there with
# CPack: the five programs in /usr/bin, aggbench's helper in
# /usr/lib/aggregation, the manual pages, the README, the copyright file and
# the changelogs, with the package's dependencies computed by
# dpkg-shlibdeps from the libraries the programs link.  Prints the package's
# path.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >&2
bash scripts/deps.sh dpkg-dev file >&2
# CPack installs into a staging folder through the build's install rules,
# which rewrites build/install_manifest.txt with the package's paths; the
# record of a `cmake --install` made before is put back, so that the
# uninstall target still undoes that one.
saved=
if [ -f build/install_manifest.txt ]; then
  saved=$(mktemp)
  cp -p build/install_manifest.txt "$saved"
fi
# An older package (another version) would be taken for this one.
rm -f build/aggregation_*.deb
status=0
(cd build && cpack -G DEB >cpack.log 2>&1) || status=$?
if [ -n "$saved" ]; then mv "$saved" build/install_manifest.txt; else rm -f build/install_manifest.txt; fi
[ "$status" -eq 0 ] || { cat build/cpack.log >&2; exit 1; }
deb=$(ls -t build/aggregation_*.deb | head -1)
echo "$PWD/$deb"
