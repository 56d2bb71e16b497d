#!/bin/sh
# Starts the owner-removal program on a demo installation in this terminal, as the menu program
# would for terminal T01: scripts/run-demo.sh BUILD_DIR DEMO_DIR [TERMINAL]
# TERMINAL is T01 (Catalan, the default) or T02 (Spanish).
set -eu
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 BUILD_DIR DEMO_DIR [T01|T02]" >&2
  exit 2
fi
program="$(cd "$1" 2>/dev/null && pwd)/app/vownmain"
demo=$(cd "$2" && pwd)
terminal=${3:-T01}
if [ ! -x "$program" ]; then
  echo "$0: $program is not built" >&2
  exit 1
fi
if [ ! -d "$demo/$terminal" ]; then
  echo "$0: $demo has no terminal folder $terminal (run scripts/make-demo.sh first)" >&2
  exit 1
fi
cd "$demo"
KAPROOT="$demo/" KAPTMP="$demo/$terminal" KAPTERM="$demo/$terminal" exec "$program"
