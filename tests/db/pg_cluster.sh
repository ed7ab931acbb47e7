#!/usr/bin/env bash
# Starts or stops the private PostgreSQL server of the database tests: a fresh cluster
# in a temporary folder, run as the postgres user, listening only on a Unix socket in
# that folder: no TCP port, so two test runs can never collide on one.
# Usage: pg_cluster.sh start|stop <state folder>
#        pg_cluster.sh standby <state folder> <state folder of the primary>
# start writes <state folder>/conninfo, the libpq connection string of the server.
# standby makes a streaming standby of a running server: a copy by pg_basebackup that
# follows the primary's write-ahead log and answers read-only queries.
set -euo pipefail

action=$1
state=$2
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)

as_postgres() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

# Stops the server the state folder names, if any, and removes its folders.
stop_server() {
  [ -f "$state/workdir" ] || return 0
  local old
  old=$(cat "$state/workdir")
  as_postgres "$bin/pg_ctl" -D "$old/data" -m fast -w stop > /dev/null 2>&1 || true
  rm -rf "$old" "$state"
}

# A fresh folder for the server's data, log and socket, named in the state folder. A
# server started earlier with the same state folder (a run that was cut short, or a
# start repeated by ctest --repeat) is stopped first rather than left running.
new_workdir() {
  stop_server
  rm -rf "$state"
  mkdir -p "$state"
  work=$(mktemp -d /tmp/dbengine-pg.XXXXXX)
  echo "$work" > "$state/workdir"
  [ "$(id -u)" -ne 0 ] || chown postgres: "$work"
  # The socket's folder must be reachable by whoever runs the tests and the web server.
  chmod 755 "$work"
}

case "$action" in
  start)
    [ -x "$bin/initdb" ] || { echo "PostgreSQL server not installed" >&2; exit 1; }
    new_workdir
    as_postgres "$bin/initdb" -D "$work/data" -U postgres -A trust -E UTF8 --locale=C \
      > "$work/initdb.log"
    as_postgres "$bin/pg_ctl" -D "$work/data" -l "$work/server.log" -w -t 60 \
      -o "-c listen_addresses='' -k $work -c fsync=off" start > /dev/null
    echo "host=$work user=postgres dbname=postgres" > "$state/conninfo"
    ;;
  standby)
    primary=$(cat "${3:?usage: $0 standby <state folder> <state folder of the primary>}/workdir")
    new_workdir
    # -R writes the standby's settings (standby.signal, primary_conninfo); initdb's
    # "trust" covers replication connections on the Unix socket.
    as_postgres "$bin/pg_basebackup" -h "$primary" -U postgres -D "$work/data" -R -X stream \
      -c fast > "$work/basebackup.log" 2>&1
    as_postgres "$bin/pg_ctl" -D "$work/data" -l "$work/server.log" -w -t 60 \
      -o "-c listen_addresses='' -k $work -c fsync=off -c hot_standby=on -c log_connections=on" \
      start > /dev/null
    echo "host=$work user=postgres dbname=postgres" > "$state/conninfo"
    ;;
  stop)
    stop_server
    ;;
  *)
    echo "usage: $0 start|stop|standby <state folder> [state folder of the primary]" >&2
    exit 2
    ;;
esac
