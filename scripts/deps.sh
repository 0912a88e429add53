#!/usr/bin/env bash
# Installs the Debian packages named on the command line that are missing.
set -euo pipefail
missing=()
for p in "$@"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  # Another apt-get (an unattended upgrade, a second script) holds the lock
  # for a while: wait for it rather than fail.
  lock_wait=(-o DPkg::Lock::Timeout=600)
  $SUDO apt-get "${lock_wait[@]}" update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get "${lock_wait[@]}" install -y -qq "${missing[@]}" >/dev/null
fi
