#!/usr/bin/env bash
# The program keeps answering when its PostgreSQL primary goes away: a primary and a
# streaming standby, each a private server on a Unix socket in its own folder
# (tests/db/pg_cluster.sh), the alias naming both in one libpq connection string, and
# the installed program run as a CGI process for searches and detail pages before and
# after the primary is stopped as by a crash. The answers after are those before, and
# the standby's log shows that it served them.
#
# Usage: postgres_standby_test.sh BUILD_DIR
# Skipped (77) where PostgreSQL's server programs are not installed.
set -uo pipefail

build_dir=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
source_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cluster=$source_root/tests/db/pg_cluster.sh
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ ! -x "${bin:-}/initdb" ] || [ ! -x "$bin/pg_basebackup" ]; then
  echo "PostgreSQL server programs (initdb, pg_basebackup) are not installed; skipping"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/liraweb-pg-standby.XXXXXX")
finish() {
  "$cluster" stop "$work/standby" > /dev/null 2>&1
  "$cluster" stop "$work/primary" > /dev/null 2>&1
  rm -rf "$work"
}
trap finish EXIT
site=$work/site
database=liraweb_standby
source "$source_root/tests/e2e/script_checks.sh"  # fail, die, failures
psql_on() { "$bin/psql" "$1" -X -q -t -A -v ON_ERROR_STOP=1 -c "$2"; }

# ---- primary with the catalogue, then its standby
"$cluster" start "$work/primary" || die "the primary did not start"
primary=$(cat "$work/primary/conninfo")
primary_dir=$(cat "$work/primary/workdir")
psql_on "$primary" "CREATE DATABASE $database ENCODING 'UTF8' TEMPLATE template0" ||
  die "cannot create the database"
"$build_dir/catalog_loader" --no-progress --postgres "$primary dbname=$database" \
  "$source_root/site/catalogue/books.tsv" > /dev/null || die "loading the catalogue failed"
"$cluster" standby "$work/standby" "$work/primary" || die "the standby did not start"
standby=$(cat "$work/standby/conninfo")
standby_dir=$(cat "$work/standby/workdir")
[ "$(psql_on "$standby" "SELECT pg_is_in_recovery()")" = t ] || die "the standby is no standby"
books=$(psql_on "$primary dbname=$database" "SELECT COUNT(*) FROM BOOKMAST") || die "no BOOKMAST table"
# The standby has caught up when it has replayed the primary's log up to where it stands
# after the load. It is waited for by its own state: a loaded machine may take long, so
# the bound is generous; the wait ends early when the standby leaves recovery, or when
# after its first 30 s the standby has no receiver of the primary's log.
target=$(psql_on "$primary" "SELECT pg_current_wal_lsn()") || die "cannot read the primary's log position"
deadline=$((SECONDS + 150))
until [ "$(psql_on "$standby" "SELECT pg_last_wal_replay_lsn() >= '$target'::pg_lsn" 2> /dev/null)" = t ]; do
  [ "$(psql_on "$standby" "SELECT pg_is_in_recovery()" 2> /dev/null)" = t ] ||
    die "the standby left recovery while catching up"
  receiving=$(psql_on "$standby" "SELECT COUNT(*) FROM pg_stat_wal_receiver" 2> /dev/null)
  [ "${receiving:-0}" -ge 1 ] || [ $((deadline - SECONDS)) -gt 120 ] ||
    die "the standby receives no log from the primary"
  [ "$SECONDS" -lt "$deadline" ] || die "the standby did not replay the primary's log in 150 s"
  sleep 0.2
done
[ "$(psql_on "$standby dbname=$database" "SELECT COUNT(*) FROM BOOKMAST")" = "$books" ] ||
  die "the standby does not hold the primary's books"

# ---- the installation: one alias, both servers, the primary first
"$source_root/tools/site-install.sh" --build "$build_dir" --prefix "$site" > /dev/null ||
  die "installing the site failed"
conninfo="host=$primary_dir,$standby_dir user=postgres dbname=$database"
conninfo+=" target_session_attrs=any connect_timeout=5"
printf '[catalog]\r\nDRIVER=POSTGRES\r\nCONNINFO=%s\r\n' "$conninfo" > "$site/cgi-bin/dbengine.conf"
rm -f "$site/data/catalog.db"

sjis() { printf '%s' "$1" | iconv -f UTF-8 -t CP932 | od -An -tx1 -v | tr -d ' \n' | sed 's/../%&/g'; }
time_label=$(printf '検索時間 ' | iconv -f UTF-8 -t CP932)

# answer PATH_INFO QUERY OUT: one request's response with the search time blanked out.
answer() {
  (cd "$site/cgi-bin" && env -i SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=GET PATH_INFO="$1" \
    QUERY_STRING="$2" HTTP_HOST=localhost SCRIPT_NAME=/cgi-bin/liraweb \
    timeout 20 ./liraweb > "$3.raw" 2> "$3.stderr") || fail "$3: exit status $?"
  LC_ALL=C sed -E "s/${time_label}[0-9.e+-]+ /${time_label}T /; s/^Content-Length: [0-9]+\r$/Content-Length: N\r/" \
    "$3.raw" > "$3"
}

requests=(
  "/list PAGENUM=0&BOOKNAME=$(sjis 日本)"
  "/list PAGENUM=0&SYUPAN=$(sjis 新潮社)&ORDER=MS_SEIKYU&ORDERKIND=ASC"
  "/list PAGENUM=1&SYUPAN=$(sjis 新潮社)"
  "/data ID=100001&RENT=0"
  "/data ID=100003&RENT=0"
)
connections_on_standby() {
  LC_ALL=C grep -c "connection authorized: user=postgres database=$database" \
    "$standby_dir/server.log" || true
}

for i in "${!requests[@]}"; do
  read -r path query <<< "${requests[$i]}"
  answer "$path" "$query" "$work/before.$i"
  LC_ALL=C grep -q '^Status: 200\|^Content-Type: text/html' "$work/before.$i" ||
    fail "request $i: no page before the stop"
done
LC_ALL=C grep -q 'data?ID=' "$work/before.0" || fail "the search found no book before the stop"
LC_ALL=C grep -q '100001' "$work/before.3" || fail "the detail page does not show book 100001"
served_before=$(connections_on_standby)

# ---- the primary goes away without a word, as in a crash
source "$source_root/tests/db/pg_service.sh"  # as_postgres
as_postgres "$bin/pg_ctl" -D "$primary_dir/data" -m immediate -w stop > /dev/null ||
  die "cannot stop the primary"
psql_on "$primary" "SELECT 1" > /dev/null 2>&1 && die "the primary still answers"

for i in "${!requests[@]}"; do
  read -r path query <<< "${requests[$i]}"
  answer "$path" "$query" "$work/after.$i"
  if ! cmp -s "$work/before.$i" "$work/after.$i"; then
    fail "request $i (${requests[$i]}) is answered differently after the stop"
    diff <(iconv -c -f CP932 -t UTF-8 "$work/before.$i") <(iconv -c -f CP932 -t UTF-8 "$work/after.$i") |
      head -n 10
  fi
done
served_after=$(connections_on_standby)
[ $((served_after - served_before)) -eq "${#requests[@]}" ] ||
  fail "the standby logged $((served_after - served_before)) connections for ${#requests[@]} requests"
[ ! -e "$site/cgi-bin/Error.txt" ] ||
  { fail "Error.txt was written:"; iconv -c -f CP932 -t UTF-8 "$site/cgi-bin/Error.txt" | tail -n 5; }

echo "${#requests[@]} requests before and after the primary stopped, $failures failures;" \
  "the standby took $((served_after - served_before)) connections after the stop"
[ "$failures" -eq 0 ]
