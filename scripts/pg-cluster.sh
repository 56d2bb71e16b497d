#!/usr/bin/env bash
# A private PostgreSQL 15 cluster for the tests and the demo:
#   pg-cluster.sh start STATE_DIR [WATCH_PID]   makes a cluster in a fresh temporary folder,
#       listening on 127.0.0.1 on a free port, with a database "kap"; writes its libpq
#       connection string to STATE_DIR/conninfo and its folder to STATE_DIR/cluster.
#       With WATCH_PID, a watchdog stops the cluster once that process is gone, so a crashed
#       run never leaves a server behind.
#   pg-cluster.sh stop STATE_DIR [CLUSTER_DIR]   stops it (or the cluster in CLUSTER_DIR) and
#       removes its folder.
# The server refuses to run as root: as root it runs as the postgres user.
set -euo pipefail

bin=/usr/lib/postgresql/15/bin
action=${1:?start or stop}
state=${2:?state folder}
mkdir -p "$state"

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

# Stops the cluster in folder $1 (default: the one STATE_DIR names); STATE_DIR forgets it only
# when it still names that cluster, so an old run's watchdog never stops a newer run's server.
stop_cluster() {
  local dir=${1:-}
  [ -n "$dir" ] || dir=$(cat "$state/cluster" 2>/dev/null || true)
  [ -n "$dir" ] && [ -d "$dir" ] || return 0
  as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  rm -rf "$dir"
  if [ "$(cat "$state/cluster" 2>/dev/null || true)" = "$dir" ]; then
    rm -f "$state/cluster" "$state/conninfo"
  fi
}

case "$action" in
  stop)
    stop_cluster "${3:-}"
    ;;
  start)
    stop_cluster
    dir=$(mktemp -d "${TMPDIR:-/tmp}/kap-pg.XXXXXX")
    chmod 755 "$dir"
    [ "$(id -u)" -eq 0 ] && chown postgres: "$dir"
    echo "$dir" >"$state/cluster"
    as_owner "$bin/initdb" -D "$dir/data" -U postgres --auth=trust -E UTF8 --no-sync \
      >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
    started=""
    for attempt in 1 2 3 4 5 6 7 8 9 10; do
      port=$(( 20000 + (RANDOM * 32768 + RANDOM) % 40000 ))
      if as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
           -o "-c listen_addresses=127.0.0.1 -p $port -k $dir -c fsync=off -c max_connections=200" \
           start >/dev/null 2>&1; then
        started=1
        break
      fi
    done
    [ -n "$started" ] || { echo "pg-cluster: the server does not start" >&2; cat "$dir/server.log" >&2; exit 1; }
    as_owner "$bin/psql" -h 127.0.0.1 -p "$port" -U postgres -d postgres -qAt \
      -c "CREATE DATABASE kap" >/dev/null
    echo "host=127.0.0.1 port=$port dbname=kap user=postgres" >"$state/conninfo"
    if [ -n "${3:-}" ]; then
      watched=$3
      setsid bash -c "while kill -0 $watched 2>/dev/null && [ -d '$dir/data' ]; do sleep 2; done
        '$0' stop '$state' '$dir'" </dev/null >/dev/null 2>&1 &
    fi
    echo "PostgreSQL cluster in $dir: $(cat "$state/conninfo")"
    ;;
  *)
    echo "usage: pg-cluster.sh start|stop STATE_DIR [WATCH_PID]" >&2
    exit 2
    ;;
esac
