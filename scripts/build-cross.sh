#!/usr/bin/env bash
# Cross-builds the project for another Linux processor with Debian's cross
# compiler and multiarch libraries, in build-ARCH/:
#
#   bash scripts/build-cross.sh arm64     64-bit Arm (build-arm64/)
#   bash scripts/build-cross.sh s390x     big-endian IBM Z (build-s390x/)
#
# The programs, aggsim and the test executables run under qemu's user-mode
# emulation (scripts/test-cross.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-}
case "$arch" in
  arm64) triplet=aarch64-linux-gnu ;;
  s390x) triplet=s390x-linux-gnu ;;
  *) echo "usage: bash scripts/build-cross.sh arm64|s390x" >&2; exit 2 ;;
esac
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
  $SUDO dpkg --add-architecture "$arch"
  $SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq
fi
libs=(libx11-dev libxext-dev libgif-dev libstdc++6)
bash scripts/deps.sh cmake make googletest "g++-$triplet" qemu-user-static binfmt-support file "${libs[@]/%/:$arch}"
root=""
if [ "$arch" = s390x ]; then
  # The security archive carries no s390x, so the s390x packages of libpng
  # and zlib cannot match the versions installed for the build machine and
  # apt refuses them beside those: their files are unpacked into a root of
  # the build's own, and the programs link them statically (the preset).
  root=build-s390x/root
  if [ ! -f "$root/usr/include/png.h" ] || [ ! -f "$root/usr/lib/$triplet/libz.a" ]; then
    rm -rf build-s390x/debs
    mkdir -p build-s390x/debs "$root"
    (cd build-s390x/debs && apt-get download -qq libpng-dev:s390x zlib1g-dev:s390x)
    for deb in build-s390x/debs/*.deb; do dpkg -x "$deb" "$root"; done
  fi
else
  bash scripts/deps.sh "libpng-dev:$arch" "zlib1g-dev:$arch"
fi
cmake --preset "$arch" >/dev/null
cmake --build "build-$arch" -j"${AGG_JOBS:-$(nproc)}"
for exe in aggregation/aggwhite aggregation/aggradial aggregation/aggorder apps/aggsim/aggsim; do
  desc=$(file -b "build-$arch/$exe")
  case "$arch:$desc" in
    arm64:ELF\ 64-bit\ LSB\ *ARM\ aarch64*) ;;
    s390x:ELF\ 64-bit\ MSB\ *IBM\ S/390*) ;;
    *) echo "build-$arch/$exe is not a $arch program: $desc" >&2; exit 1 ;;
  esac
done
echo "$arch programs in $(pwd)/build-$arch/aggregation, build-$arch/apps/aggsim and build-$arch/bench"
