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

source "$(dirname "${BASH_SOURCE[0]}")/pg_service.sh"

stop_in() { as_postgres "$bin/pg_ctl" -D "$1/data" -m fast -w stop > /dev/null 2>&1 || true; }

case "$action" in
  start)
    [ -x "$bin/initdb" ] || { echo "PostgreSQL server not installed" >&2; exit 1; }
    new_workdir dbengine-pg
    as_postgres "$bin/initdb" -D "$work/data" -U postgres -A trust -E UTF8 --locale=C \
      > "$work/initdb.log"
    as_postgres "$bin/pg_ctl" -D "$work/data" -l "$work/server.log" -w -t 60 \
      -o "-c listen_addresses='' -k $work -c fsync=off" start > /dev/null
    echo "host=$work user=postgres dbname=postgres" > "$state/conninfo"
    ;;
  standby)
    primary=$(cat "${3:?usage: $0 standby <state folder> <state folder of the primary>}/workdir")
    new_workdir dbengine-pg
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
    stop_service
    ;;
  *)
    echo "usage: $0 start|stop|standby <state folder> [state folder of the primary]" >&2
    exit 2
    ;;
esac
