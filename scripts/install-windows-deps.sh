#!/usr/bin/env bash
# Installs what the Windows build and its tests need (the MinGW-w64 cross compiler, Wine, what
# builds SQLite's amalgamation), and only what is missing. The Linux build does not need any of
# it, so `make test` never runs this.
set -euo pipefail

packages=(
  g++-mingw-w64-x86-64-posix
  tcl dpkg-dev
  wine wine64
  libgtest-dev
)

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# SQLite's source comes from Debian's own source package, fetched from the archive this
# machine already installs from: the deb-src twin of each deb entry.
src_list=/etc/apt/sources.list.d/kap-debian-src.sources
need_update=0
if [ ! -e "$src_list" ] && ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  entries=""
  if [ -e /etc/apt/sources.list.d/debian.sources ]; then
    entries=$(sed -e 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources)
  elif [ -e /etc/apt/sources.list ]; then
    entries=$(grep '^deb ' /etc/apt/sources.list | sed -e 's/^deb /deb-src /')
    src_list=/etc/apt/sources.list.d/kap-debian-src.list
  fi
  if [ -z "$entries" ]; then
    echo "No Debian archive entry found in /etc/apt to fetch sources from" >&2
    exit 1
  fi
  echo "Adding the archive's source entries: $src_list"
  printf '%s\n' "$entries" | $sudo tee "$src_list" >/dev/null
  need_update=1
fi

if [ ${#missing[@]} -gt 0 ] || [ "$need_update" = 1 ]; then
  $sudo apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing missing packages: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
