#!/bin/sh
# Makes the Debian package's documents from the project's own: the
# changelog in Debian's format (changelog.Debian.gz), the project's changelog
# as it is (changelog.gz), and the licence in Debian's machine-readable
# copyright format (copyright).  Gzipped at the highest level and without a
# time stamp, so that the same sources give the same files.
#   debian-docs.sh CHANGELOG.md LICENSE OUT_DIR PACKAGE DEBIAN_REVISION MAINTAINER
set -eu
changelog=$1 license=$2 out=$3 package=$4 revision=$5 maintainer=$6
mkdir -p "$out"

# Each "## VERSION (YYYY-MM-DD)" heading becomes an entry, each "- " item a
# "  * " item with its continuation lines indented to match; the markdown's
# code quotes are dropped.  The entry's date is the release's.
awk -v package="$package" -v revision="$revision" -v maintainer="$maintainer" '
  function close_entry() {
    if (version != "") {
      cmd = "LC_ALL=C date -R -u -d " date
      cmd | getline stamp
      close(cmd)
      printf "\n -- %s  %s\n", maintainer, stamp
    }
  }
  /^## [0-9]/ {
    close_entry()
    version = $2
    date = $3
    gsub(/[()]/, "", date)
    if (date !~ /^[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]$/) {
      print "debian-docs.sh: no date (YYYY-MM-DD) in the heading: " $0 > "/dev/stderr"
      exit 1
    }
    printf "%s%s (%s-%s) unstable; urgency=medium\n\n", (entries++ ? "\n" : ""), package, version, revision
    next
  }
  version == "" { next }
  { gsub(/`/, "") }
  /^- / { print "  * " substr($0, 3); next }
  /^  [^ ]/ { print "    " substr($0, 3); next }
  END { close_entry() }
' "$changelog" >"$out/changelog.Debian"
[ -s "$out/changelog.Debian" ] || { echo "debian-docs.sh: no release in $changelog" >&2; exit 1; }
gzip -9nc "$out/changelog.Debian" >"$out/changelog.Debian.gz"
gzip -9nc "$changelog" >"$out/changelog.gz"

# The licence's terms, after its title and copyright lines, as the License
# paragraph: lines indented by one space, an empty line as " .".
holder=$(sed -n 's/^Copyright (c) //p' "$license" | head -1)
[ -n "$holder" ] || { echo "debian-docs.sh: no copyright line in $license" >&2; exit 1; }
{
  echo "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
  echo "Upstream-Name: $package"
  echo "Upstream-Contact: $maintainer"
  echo
  echo "Files: *"
  echo "Copyright: $holder"
  echo "License: Expat"
  sed -n '/^Permission is hereby granted/,$p' "$license" | sed 's/^$/./; s/^/ /'
} >"$out/copyright"
