#!/usr/bin/env bash
# Runs the Windows build's tests, then the program end to end, under Wine, in a Wine prefix of
# their own that is removed afterwards (only this prefix's Wine server is stopped).
set -euo pipefail
build=$(realpath "${1:-build/windows-test}")
prefix=$(mktemp -d "${TMPDIR:-/tmp}/kap-wine.XXXXXX")
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT
echo "Preparing a Wine prefix in $prefix"
wineboot -i >/dev/null 2>&1 || true
here=$(cd "$(dirname "$0")" && pwd)
(cd "$build" && ctest --output-on-failure -j "$(nproc 2>/dev/null || echo 2)" --timeout 600)
"$here/windows-e2e.sh" "$build"
