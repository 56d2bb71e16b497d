#!/bin/sh
# The demo with its data files on a PostgreSQL server: starts a private cluster under
# BUILD_DIR/demo-server, lays out the demo installation with its files on it, names the server
# in the installation's Vora.ini ([Dades] Servidor) and starts the program as run-demo.sh does.
# The cluster stops when the program ends.
#   scripts/run-demo-server.sh BUILD_DIR DEMO_DIR [T01|T02]
set -eu
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 BUILD_DIR DEMO_DIR [T01|T02]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
demo=$2
state="$build/demo-server"
"$here/pg-cluster.sh" start "$state" $$
server=$(cat "$state/conninfo")
KAPSERVIDOR="$server" "$here/make-demo.sh" "$build" "$demo"
printf '[Dades]\r\nServidor=%s\r\n' "$server" >>"$demo/Vora.ini"
# The data files live on the server now: none is left on disk.
"$here/run-demo.sh" "$build" "$demo" ${3:-}
