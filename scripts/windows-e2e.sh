#!/usr/bin/env bash
# Drives the Windows vownmain.exe under Wine in a private tmux server on a fresh demo
# installation laid out by kaptool.exe: the owner list, the calendar pop-up and one removal,
# read from the pane. scripts/windows-e2e.sh BUILD_DIR (WINEPREFIX as the caller set it).
set -euo pipefail
build=$(realpath "${1:-build/windows-test}")
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/kap-win-e2e.XXXXXX")
socket="kap-win-e2e-$$"
cleanup() {
  tmux -L "$socket" kill-server 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

winpath() { echo "Z:$(echo "$1" | sed 's|/|\\|g')"; }
fail() {
  echo "windows e2e: $1" >&2
  echo "--- screen ---" >&2
  tmux -L "$socket" capture-pane -p >&2 || true
  exit 1
}
screen() { tmux -L "$socket" capture-pane -p; }
# Waits up to 30 s for the pane to show (or with "!", no longer show) a text.
wait_for() {
  local want=$1 absent=${2:-}
  for _ in $(seq 1 150); do
    if [ -z "$absent" ]; then screen | grep -qF -- "$want" && return 0
    else screen | grep -qF -- "$want" || return 0; fi
    sleep 0.2
  done
  fail "waited in vain for ${absent:+the end of }'$want'"
}
keys() { tmux -L "$socket" send-keys "$@"; }
# Sends a key that changes the screen and waits until it has (colours included), so that the
# next key is not sent into a busy program; a key that changed nothing in 10 s is sent again.
key_and_see() {
  local before
  before=$(tmux -L "$socket" capture-pane -e -p)
  for _ in 1 2; do
    keys "$@"
    for _ in $(seq 1 50); do
      [ "$(tmux -L "$socket" capture-pane -e -p)" != "$before" ] && return 0
      sleep 0.2
    done
  done
  fail "the screen did not change after $*"
}

wine "$build/tools/kaptool.exe" demo build "$(winpath "$here/demo")" "$(winpath "$work/kap")" >/dev/null
root=$(winpath "$work/kap")
# Under Wine TERM is the terminal type, so the terminal folder is given in Sessio.ini.
DIR="$root\\T01" perl -pi -e 's/^Dir=[^\r\n]*/Dir=$ENV{DIR}/' "$work/kap/T01/Sessio.ini"
# Wine's console in a terminal holds a lone Esc until the next byte: Esc is sent twice (one
# Esc arrives). The terminal folder is named in KAPTMP, TERM being the terminal type here.
tmux -L "$socket" new-session -d -x 80 -y 25 \
  "cd '$work/kap' && KAPROOT='$root\\' KAPTMP='$root\\T01' wine '$build/app/vownmain.exe'; echo \"EXIT=\$?\"; sleep 600"

wait_for "CODI DEL PROPIETARI:"
keys F4
wait_for "0003  JOAN SOLER VIDAL"
# One key at a time, each seen on the screen before the next.
key_and_see Down
key_and_see Down
keys Enter
wait_for "CODI DEL PROPIETARI: 3"
keys Enter
wait_for "CONFIRMEU LA BAIXA:"
screen | grep -qF "NOM:                  JOAN SOLER VIDAL" || fail "the owner's form shows another owner"
keys M-c
wait_for "DL DT DC DJ DV DS DG"
keys Escape Escape
wait_for "DL DT DC DJ DV DS DG" gone
keys S
wait_for "◄SI►"
keys Enter
wait_for "CONFIRMEU LA BAIXA:" gone
wait_for "CODI DEL PROPIETARI:"
keys F4
wait_for "0004  ANNA FONT MASSANA"
screen | grep -qF "JOAN SOLER VIDAL" && fail "the removed owner is still listed"
keys Escape Escape
sleep 1
keys Escape Escape
wait_for "EXIT=0"
echo "windows e2e: passed (list, calendar, removal of owner 0003)"
