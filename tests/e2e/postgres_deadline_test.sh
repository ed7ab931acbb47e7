#!/usr/bin/env bash
# A request on PostgreSQL ends within its alias's TIME_LIMIT (2 s here), directly and
# through a connection pooler, and leaves no statement running on the server; a database
# without the search functions is refused, never answered "no books found".
#
# Usage: postgres_deadline_test.sh BUILD_DIR
# Starts a private server (tests/db/pg_cluster.sh) and, where PgBouncer is installed, a
# pooler in front of it (tests/db/pg_pooler.sh); skipped (77) without PostgreSQL. Loads
# the example catalogue and generated books, installs the example site (MATCH=LOOSE,
# WORDS=AND) once per alias, and runs the installed program as a CGI process:
# - costly searches (1,000 words, a search text of 300 KB, statements that each stay under
#   the server's statement_timeout but together pass the limit), the pooler stopped
#   (SIGSTOP) while requests wait on it, and the server restarted behind the pooler: each
#   request must end within a bound well above the limit and far below what the work
#   would take unbounded, and afterwards no backend of the catalogue may still be active
#   (pg_stat_activity);
# - a copy of the catalogue without the functions, under MATCH=LOOSE: the database-error
#   page and an Error.txt record naming catalog_index build --postgres, where the
#   catalogue with them finds the books.
# Prints the wall time of every request (ms).
set -uo pipefail

build_dir=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
source_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cluster=$source_root/tests/db/pg_cluster.sh
pooler=$source_root/tests/db/pg_pooler.sh
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ ! -x "${bin:-}/initdb" ]; then
  echo "PostgreSQL server programs are not installed; skipping"
  exit 77
fi

# The bound of a request under TIME_LIMIT=2: the limit, the cancel's wait and the start
# and page of the process, with room for a busy machine; unbounded, each case below
# takes longer (7 to 15 s for most).
bound_ms=${DEADLINE_TEST_BOUND_MS:-5000}

work=$(mktemp -d "${TMPDIR:-/tmp}/liraweb-pg-deadline.XXXXXX")
pooler_pid=""
finish() {
  [ -z "$pooler_pid" ] || kill -CONT "$pooler_pid" 2> /dev/null
  stop_fastcgi_sites "$work"
  "$pooler" stop "$work/pooler" > /dev/null 2>&1
  "$cluster" stop "$work/server" > /dev/null 2>&1
  rm -rf "$work"
}
trap finish EXIT
source "$source_root/tests/e2e/script_checks.sh"  # fail, die, failures
source "$source_root/tests/e2e/fastcgi_sites.sh"  # run_liraweb, stop_fastcgi_sites
psql_on() {
  PGOPTIONS='-c client_min_messages=warning' "$bin/psql" "$1" -X -q -t -A -v ON_ERROR_STOP=1 -c "$2"
}
source "$source_root/tests/db/pg_service.sh"  # as_postgres
sjis() { printf '%s' "$1" | iconv -f UTF-8 -t CP932; }
# Shift_JIS percent encoding of a UTF-8 text, every byte escaped.
encoded() { sjis "$1" | od -An -tx1 -v | tr -d ' \n' | sed 's/../%&/g'; }

# ---- the server, the catalogue (with and without the functions), the pooler
"$cluster" start "$work/server" || die "the server did not start"
server=$(cat "$work/server/conninfo")
database=liraweb_deadline
psql_on "$server" "CREATE DATABASE $database ENCODING 'UTF8' TEMPLATE template0" ||
  die "cannot create the database"
"$build_dir/catalog_generator" --count 30000 --seed 21 --output "$work/generated.tsv" ||
  die "generating books failed"
"$build_dir/catalog_loader" --no-progress --postgres "$server dbname=$database" \
  "$source_root/site/catalogue/books.tsv" "$work/generated.tsv" > /dev/null ||
  die "loading the catalogue failed"
"$build_dir/catalog_index" build --no-progress --postgres "$server dbname=$database" \
  --match loose > /dev/null || die "building the loose indexes failed"
psql_on "$server" "CREATE DATABASE ${database}_bare TEMPLATE $database" ||
  die "cannot copy the catalogue"
psql_on "$server dbname=${database}_bare" "DO \$\$ DECLARE f regprocedure; BEGIN
  FOR f IN SELECT oid::regprocedure FROM pg_proc WHERE proname LIKE 'liraweb%' LOOP
    EXECUTE 'DROP FUNCTION ' || f || ' CASCADE'; END LOOP; END \$\$" ||
  die "cannot drop the functions of the copy"
pooled=""
"$pooler" start "$work/pooler" "$server"
case $? in
  0)
    pooled=$(cat "$work/pooler/conninfo")
    pooler_pid=$(cat "$(cat "$work/pooler/workdir")/pgbouncer.pid")
    ;;
  77) echo "PgBouncer is not installed: no requests through a pooler" ;;
  *) die "the pooler did not start" ;;
esac

# ---- installations, one per alias, sharing the installed files
"$source_root/tools/site-install.sh" --build "$build_dir" --prefix "$work/base" > /dev/null ||
  die "installing the site failed"
# site NAME CONNINFO [SQL_FOLDER]: an installation whose alias reaches CONNINFO with
# MATCH=LOOSE and TIME_LIMIT=2.
site() {
  local folder=$work/$1
  mkdir -p "$folder/cgi-bin"
  for entry in "$work/base"/*; do [ "${entry##*/}" = cgi-bin ] || ln -s "$entry" "$folder/"; done
  for entry in "$work/base"/cgi-bin/*; do ln -s "$entry" "$folder/cgi-bin/"; done
  rm "$folder/cgi-bin/dbengine.conf"
  printf '[catalog]\r\nDRIVER=POSTGRES\r\nCONNINFO=%s\r\nMATCH=LOOSE\r\nTIME_LIMIT=2\r\n' "$2" \
    > "$folder/cgi-bin/dbengine.conf"
  if [ -n "${3:-}" ]; then
    rm "$folder/sql"
    cp -r "$work/base/sql" "$folder/sql"
  fi
}
site direct "$server dbname=$database"
site bare "$server dbname=${database}_bare"
site slow "$server dbname=$database" copy
[ -z "$pooled" ] || site pooled "$pooled dbname=$database"
[ -z "$pooled" ] || site pooled_slow "$pooled dbname=$database" copy
# Two statements (the rows, then their count) that each wait 1.5 s, below the server's
# statement_timeout of 2 s, before they read the table.
for name in slow pooled_slow; do
  [ -d "$work/$name" ] || continue
  sed -i 's/^FROM BOOKMAST\(\r\?\)$/FROM (SELECT * FROM BOOKMAST WHERE (SELECT pg_sleep(1.5)) IS NOT NULL) AS BOOKMAST\1/' \
    "$work/$name/sql/Find.sql"
  grep -q pg_sleep "$work/$name/sql/Find.sql" || die "Find.sql has changed: no table to slow down"
done

# ---- requests
no_books_text=$(sjis "見付かりませんでした")

# request NAME SITE QUERY [BODY_FILE]: one search (GET, or POST of the body) as a CGI
# process (or FastCGI, fastcgi_sites.sh), its response in $work/NAME.out, its wall time in ms in $work/NAME.ms.
request() {
  local folder=$work/$2 started ended method=GET length=0 input=/dev/null
  if [ -n "${4:-}" ]; then
    method=POST
    length=$(wc -c < "$4")
    input=$4
  fi
  started=$(date +%s%N)
  run_liraweb "$folder/cgi-bin" 120 "$input" "$work/$1.out" "$work/$1.err" \
    SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=$method PATH_INFO=/list QUERY_STRING="$3" \
    CONTENT_LENGTH="$length" CONTENT_TYPE=application/x-www-form-urlencoded HTTP_HOST=localhost \
    SCRIPT_NAME=/cgi-bin/liraweb
  ended=$(date +%s%N)
  echo $(((ended - started) / 1000000)) > "$work/$1.ms"
}

# within NAME: the request ended within the bound.
within() {
  local ms
  ms=$(cat "$work/$1.ms")
  echo "  $1: ${ms} ms"
  [ "$ms" -le "$bound_ms" ] || fail "$1 took $ms ms (bound $bound_ms ms)"
}

# database_error_page NAME: the request ended on the database-error page (the statement
# stopped at the limit, or the count after it).
database_error_page() {
  LC_ALL=C grep -qF "$(sjis "データベースエラー")" "$work/$1.out" ||
    fail "$1: no database-error page: $(head -c 300 "$work/$1.out")"
}

# no_backend_left NAME: no statement of the catalogue still runs on the server
# (a cancelled one is given two seconds to end).
no_backend_left() {
  local active
  for _ in $(seq 20); do
    active=$(psql_on "$server" "SELECT count(*) FROM pg_stat_activity WHERE datname LIKE
      '$database%' AND state <> 'idle' AND pid <> pg_backend_pid()")
    [ "$active" = 0 ] && return
    sleep 0.1
  done
  fail "$1: $active backends still active: $(psql_on "$server" "SELECT state, left(query, 80)
    FROM pg_stat_activity WHERE datname LIKE '$database%' AND state <> 'idle'")"
}

words=$(for _ in $(seq 1000); do printf "%s+" "$(encoded の)"; done)
head -c 300000 < /dev/zero | tr '\0' 'a' | sed 's/^/BOOKNAME=/; s/a\{22\}/abcdefghijkl0123456789/g' \
  > "$work/long_text"

echo "1,000 words, a 300 KB search text, two slow statements (TIME_LIMIT=2, bound ${bound_ms} ms):"
for via in direct pooled; do
  [ "$via" = direct ] || [ -n "$pooled" ] || continue
  slow=slow
  [ "$via" = direct ] || slow=pooled_slow
  request "words_$via" "$via" "BOOKNAME=${words%+}&PAGENUM=0"
  within "words_$via"
  no_backend_left "words_$via"
  request "long_text_$via" "$via" "" "$work/long_text"
  within "long_text_$via"
  no_backend_left "long_text_$via"
  request "statements_$via" "$slow" "BOOKNAME=$(encoded の)&PAGENUM=0"
  within "statements_$via"
  database_error_page "statements_$via"
  no_backend_left "statements_$via"
done

if [ -n "$pooled" ]; then
  echo "the pooler stopped for 8 s under four requests:"
  kill -STOP "$pooler_pid"
  for i in 1 2 3 4; do request "stopped_$i" pooled "BOOKNAME=$(encoded ねこ)&PAGENUM=0" & done
  sleep 8
  kill -CONT "$pooler_pid"
  wait
  for i in 1 2 3 4; do within "stopped_$i"; done
  no_backend_left "stopped pooler"

  echo "the server restarted behind the pooler:"
  server_dir=$(cat "$work/server/workdir")
  as_postgres "$bin/pg_ctl" -D "$server_dir/data" -m fast -w stop > /dev/null ||
    die "the server did not stop"
  for i in 1 2 3 4; do request "restart_$i" pooled "BOOKNAME=$(encoded ねこ)&PAGENUM=0" & done
  sleep 0.3
  as_postgres "$bin/pg_ctl" -D "$server_dir/data" -l "$server_dir/server.log" -w \
    -o "-c listen_addresses='' -k $server_dir -c fsync=off" start > /dev/null ||
    die "the server did not start again"
  wait
  for i in 1 2 3 4; do within "restart_$i"; done
  no_backend_left "restarted server"
fi

echo "a catalogue without the search functions:"
request found direct "BOOKNAME=$(encoded ねこ)&PAGENUM=0"
LC_ALL=C grep -q 'id="hit-count"' "$work/found.out" ||
  fail "the catalogue with the functions finds no ねこ"
request refused bare "BOOKNAME=$(encoded ねこ)&PAGENUM=0"
! LC_ALL=C grep -qF "$no_books_text" "$work/refused.out" ||
  fail "without the functions: no books found"
database_error_page refused
LC_ALL=C grep -q "catalog_index build --postgres" "$work/bare/cgi-bin/Error.txt" 2> /dev/null ||
  fail "without the functions: Error.txt names no catalog_index build --postgres"

if [ "$failures" -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "all requests ended within the bound; no backend left running"
