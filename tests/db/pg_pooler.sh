#!/usr/bin/env bash
# Starts or stops a connection pooler (PgBouncer, session pooling) in front of a
# PostgreSQL server that lets its user in without a password (as the private servers of
# tests/db/pg_cluster.sh do), listening only on a Unix socket in its own folder. Every
# database of the server is reached under its own name; the pooler keeps server
# connections open between its clients, as on a web host where each request is a new
# process.
# Usage: pg_pooler.sh start <state folder> <connection string of the server>
#        pg_pooler.sh stop <state folder>
# The server's host (a socket folder or a name), port and user are taken from its
# connection string. start writes <state folder>/conninfo, the libpq connection string
# of the pooler (without dbname). Exits 77 when PgBouncer is not installed.
set -euo pipefail

action=$1
state=$2

source "$(dirname "${BASH_SOURCE[0]}")/pg_service.sh"

stop_in() {
  [ -f "$1/pgbouncer.pid" ] && kill "$(cat "$1/pgbouncer.pid")" 2> /dev/null || true
  for _ in $(seq 50); do
    [ -f "$1/pgbouncer.pid" ] || break
    sleep 0.1
  done
}

case "$action" in
  start)
    command -v pgbouncer > /dev/null || { echo "PgBouncer is not installed" >&2; exit 77; }
    server=${3:?usage: $0 start <state folder> <connection string of the server>}
    setting() { sed -nE "s/(^|.* )$1=([^ ]*).*/\2/p" <<< "$server"; }
    host=$(setting host)
    port=$(setting port)
    user=$(setting user)
    user=${user:-postgres}
    new_workdir liraweb-pooler
    cat > "$work/pgbouncer.ini" << CONF
[databases]
* = host=${host:-localhost} port=${port:-5432}
[pgbouncer]
listen_addr =
unix_socket_dir = $work
listen_port = 6432
pool_mode = session
auth_type = trust
auth_file = $work/users.txt
logfile = $work/pgbouncer.log
pidfile = $work/pgbouncer.pid
CONF
    echo "\"$user\" \"\"" > "$work/users.txt"
    as_postgres pgbouncer -d "$work/pgbouncer.ini"
    for _ in $(seq 50); do
      [ -S "$work/.s.PGSQL.6432" ] && break
      sleep 0.1
    done
    [ -S "$work/.s.PGSQL.6432" ] || { cat "$work/pgbouncer.log" >&2; exit 1; }
    echo "host=$work port=6432 user=$user" > "$state/conninfo"
    ;;
  stop)
    stop_service
    ;;
  *)
    echo "usage: $0 start|stop <state folder> [connection string of the server]" >&2
    exit 2
    ;;
esac
