#!/bin/sh
# Lays out a fresh demo installation: scripts/make-demo.sh BUILD_DIR DEMO_DIR
# An earlier installation in DEMO_DIR is removed first.
set -eu
if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR DEMO_DIR" >&2
  exit 2
fi
build=$1
demo=$2
here=$(cd "$(dirname "$0")/.." && pwd)
kaptool="$build/tools/kaptool"
if [ ! -x "$kaptool" ]; then
  echo "$0: $kaptool is not built" >&2
  exit 1
fi
case "$demo" in
  ""|/) echo "$0: refusing to remove '$demo'" >&2; exit 1 ;;
esac
rm -rf "$demo"
"$kaptool" demo build "$here/demo" "$demo"
