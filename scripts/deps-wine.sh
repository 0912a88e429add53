#!/usr/bin/env bash
# Installs what runs the Windows build here: 32-bit Wine (with the i386
# architecture it needs), Xvfb for its windows, and the MinGW-w64 cross
# compiler.  Exits non-zero, with the reason, when any cannot be had.
set -uo pipefail
cd "$(dirname "$0")/.."
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
if ! command -v wine >/dev/null || ! dpkg -s wine32:i386 >/dev/null 2>&1 || ! command -v xvfb-run >/dev/null; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386 || { echo "the i386 architecture cannot be added"; exit 1; }
  fi
  $SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq || { echo "apt-get update failed"; exit 1; }
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq wine32:i386 wine xvfb xauth >/dev/null \
    || { echo "Wine (wine32, wine) or Xvfb could not be installed"; exit 1; }
fi
command -v i686-w64-mingw32-g++-posix >/dev/null || bash scripts/deps.sh g++-mingw-w64-i686-posix \
  || { echo "the MinGW-w64 cross compiler could not be installed"; exit 1; }
bash scripts/deps.sh unzip binutils-mingw-w64-i686 >/dev/null || { echo "unzip could not be installed"; exit 1; }
