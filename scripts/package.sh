#!/usr/bin/env bash
# Builds the project in build/ and makes its Debian package there with
# CPack: the five programs in /usr/bin, their manual pages and the README,
# with the package's dependencies computed by dpkg-shlibdeps from the
# libraries the programs link.  Prints the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >&2
bash scripts/deps.sh dpkg-dev file >&2
(cd build && cpack -G DEB >cpack.log 2>&1) || { cat build/cpack.log >&2; exit 1; }
deb=$(ls -t build/aggregation_*.deb | head -1)
echo "$PWD/$deb"
