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
# Inside tmux, Esc reaches the program only after tmux's escape time (500 ms by default): make it
# short, as the README recommends. This is a setting of the whole tmux server.
if [ -n "${TMUX:-}" ] && command -v tmux >/dev/null 2>&1; then
  escape=$(tmux show-options -s -v escape-time 2>/dev/null || echo 0)
  if [ "${escape:-0}" -gt 10 ] 2>/dev/null; then
    tmux set-option -s escape-time 10 && echo "$0: tmux escape-time set from $escape to 10 ms" >&2
  fi
fi
cd "$demo"
KAPROOT="$demo/" KAPTMP="$demo/$terminal" KAPTERM="$demo/$terminal" exec "$program"
