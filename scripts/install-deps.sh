#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, and only the missing ones.
# With arguments, installs those packages instead (`make fuzz` asks for clang and libFuzzer).
set -euo pipefail

packages=(
  g++ make cmake ninja-build pkg-config
  libncurses-dev ncurses-base
  libsqlite3-dev sqlite3
  libgtest-dev libgmock-dev libbenchmark-dev
  tmux
  postgresql-15 libpq-dev
)
if [ $# -gt 0 ]; then packages=("$@"); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
