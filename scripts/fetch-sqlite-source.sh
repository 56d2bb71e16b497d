#!/usr/bin/env bash
# Builds SQLite's amalgamation (sqlite3.c, sqlite3.h) for the Windows build from Debian's own
# source package of sqlite3, the version of the system library, into DEST (default
# build/sqlite). Nothing is fetched when DEST already holds it.
set -euo pipefail
dest=$(realpath -m "${1:-build/sqlite}")
[ -s "$dest/sqlite3.c" ] && [ -s "$dest/sqlite3.h" ] && exit 0

version=$(dpkg-query -W -f='${Version}' libsqlite3-0 2>/dev/null || true)
upstream=${version%%-*}
# The upstream tarball inside Debian's source package, by upstream version. apt checks the
# package against the archive's signed index; this pins the source itself.
declare -A orig_sha256=(
  [3.40.1]=aaa776260ab4dc976db34aa7891819484c8676b5b2783123ebc6301e2ca5d655
)
if [ -z "$version" ] || [ -z "${orig_sha256[$upstream]:-}" ]; then
  echo "No pinned checksum for SQLite '${upstream:-none}' (libsqlite3-0 '${version:-not installed}');" \
       "add the checksum of sqlite3_${upstream}.orig.tar.xz to $0" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
echo "Fetching Debian's source package sqlite3 $version"
# apt-get runs its download as _apt, which must be able to write here.
chmod 755 "$work"
apt-get source --download-only "sqlite3=$version" >/dev/null
echo "${orig_sha256[$upstream]}  sqlite3_${upstream}.orig.tar.xz" | sha256sum -c --quiet -
dpkg-source -x sqlite3_*.dsc src >/dev/null
echo "Building the amalgamation"
mkdir build && cd build
../src/configure --disable-tcl >/dev/null
make -j "$(nproc)" sqlite3.c >/dev/null
mkdir -p "$dest"
cp sqlite3.c sqlite3.h "$dest/"
echo "SQLite $version amalgamation in $dest"
