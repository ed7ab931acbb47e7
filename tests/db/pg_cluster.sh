#!/usr/bin/env bash
# Starts or stops the private PostgreSQL server of the database tests: a fresh cluster
# in a temporary folder, run as the postgres user, listening only on a Unix socket in
# that folder: no TCP port, so two test runs can never collide on one.
# Usage: pg_cluster.sh start|stop <state folder>
# start writes <state folder>/conninfo, the libpq connection string of the server.
set -euo pipefail

action=$1
state=$2
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)

as_postgres() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

case "$action" in
  start)
    [ -x "$bin/initdb" ] || { echo "PostgreSQL server not installed" >&2; exit 1; }
    rm -rf "$state"
    mkdir -p "$state"
    work=$(mktemp -d /tmp/dbengine-pg.XXXXXX)
    echo "$work" > "$state/workdir"
    [ "$(id -u)" -ne 0 ] || chown postgres: "$work"
    # The socket's folder must be reachable by whoever runs the tests and the web server.
    chmod 755 "$work"
    as_postgres "$bin/initdb" -D "$work/data" -U postgres -A trust -E UTF8 --locale=C \
      > "$work/initdb.log"
    as_postgres "$bin/pg_ctl" -D "$work/data" -l "$work/server.log" -w -t 60 \
      -o "-c listen_addresses='' -k $work -c fsync=off" start > /dev/null
    echo "host=$work user=postgres dbname=postgres" > "$state/conninfo"
    ;;
  stop)
    [ -f "$state/workdir" ] || exit 0
    work=$(cat "$state/workdir")
    as_postgres "$bin/pg_ctl" -D "$work/data" -m fast -w stop > /dev/null || true
    rm -rf "$work" "$state"
    ;;
  *)
    echo "usage: $0 start|stop <state folder>" >&2
    exit 2
    ;;
esac
