#!/usr/bin/env bash
# Whole search requests against a PostgreSQL catalogue, several ways side by side in one
# run, each request a fresh CGI process as under a web server, timed from its start to
# its end (build/cgi_request_timer):
#   before        MATCH absent: exact LIKE, as PostgreSQL aliases always searched
#   folded        MATCH=FOLDED with the n-gram and trigram indexes of catalog_index
#   loose         MATCH=LOOSE (the example site's matching) with the loose indexes
#   before-pooled, folded-pooled, loose-pooled
#                 the same through a connection pooler on this host (PgBouncer, session
#                 pooling, tests/db/pg_pooler.sh; only where it is installed): the server
#                 connection, and the server process's warm caches, outlive the request
#   folded-scan   MATCH=FOLDED with the planner kept off the indexes (only with
#                 LIRAWEB_BENCH_FOLDED_SCAN=1: at a million books it reads the table twice
#                 a request and takes seconds)
#   folded-older  MATCH=FOLDED run by the program of another build folder (only with
#                 LIRAWEB_BENCH_OLDER_BUILD=DIR), to compare two versions in one run
# The requests of one word alternate between the ways, so that a busy machine slows
# them alike; the table gives the median of each.
#
# Usage: bench/postgres_search_bench.sh CONNINFO [BOOKS] [REPEATS] [BUILD_DIR] [KINDS]
#   CONNINFO  a database this benchmark may fill (UTF8, LC_CTYPE C.UTF-8 for trigrams),
#             whose user the server lets in without a password (for the pooler)
#   BOOKS     synthetic books (default 1000000); loaded only when the count differs
#   REPEATS   requests per word and way (default 5)
#   KINDS     only the words whose kind holds this text ("broad", "selective", "3+")
set -euo pipefail
source_root=$(cd "$(dirname "$0")/.." && pwd)
conninfo=${1:?usage: $0 CONNINFO [BOOKS] [REPEATS] [BUILD_DIR]}
books=${2:-1000000}
repeats=${3:-5}
build_dir=$(cd "${4:-$source_root/build}" && pwd)
kinds=${5:-}
psql=$(ls -d /usr/lib/postgresql/*/bin/psql 2>/dev/null | sort -V | tail -n 1)
work=$(mktemp -d /tmp/liraweb-pg-bench.XXXXXX)
pooler=$source_root/tests/db/pg_pooler.sh
trap '"$pooler" stop "$work/pooler"; rm -rf "$work"' EXIT

stored=$("$psql" "$conninfo" -Atc "SELECT count(*) FROM BOOKMAST" 2>/dev/null || echo 0)
if [ "$stored" != "$books" ]; then
  "$build_dir/catalog_generator" --count "$books" --seed 1 --output "$work/books.tsv"
  "$build_dir/catalog_loader" --no-progress --replace --no-index --postgres "$conninfo" \
    "$work/books.tsv"
  rm -f "$work/books.tsv"
fi
"$build_dir/catalog_index" build --postgres "$conninfo"
"$build_dir/catalog_index" build --postgres "$conninfo" --match loose

declare -A alias_lines=(
  [before]="CONNINFO=$conninfo"
  [folded-scan]="CONNINFO=$conninfo options='-c enable_bitmapscan=off -c enable_indexscan=off'\r\nMATCH=FOLDED"
  [folded]="CONNINFO=$conninfo\r\nMATCH=FOLDED"
  [loose]="CONNINFO=$conninfo\r\nMATCH=LOOSE")
ways=(before folded loose)
if "$pooler" start "$work/pooler" "$conninfo"; then
  database=$(sed -nE 's/(^|.* )dbname=([^ ]*).*/\2/p' <<< "$conninfo")
  pooled="$(cat "$work/pooler/conninfo") dbname=${database:-postgres}"
  alias_lines[before-pooled]="CONNINFO=$pooled"
  alias_lines[folded-pooled]="CONNINFO=$pooled\r\nMATCH=FOLDED"
  alias_lines[loose-pooled]="CONNINFO=$pooled\r\nMATCH=LOOSE"
  ways+=(before-pooled folded-pooled loose-pooled)
fi
[ "${LIRAWEB_BENCH_FOLDED_SCAN:-0}" = 1 ] && ways+=(folded-scan)
if [ -n "${LIRAWEB_BENCH_OLDER_BUILD:-}" ]; then
  ways+=(folded-older)
  alias_lines[folded-older]="CONNINFO=$conninfo\r\nMATCH=FOLDED"
fi
for way in "${ways[@]}"; do
  "$source_root/tools/site-install.sh" --build "$build_dir" --prefix "$work/site-$way" > /dev/null
  if [ "$way" = folded-older ]; then
    for file in liraweb libkvconf.so libdbengine_pg.so; do
      cp "$LIRAWEB_BENCH_OLDER_BUILD/$file" "$work/site-$way/cgi-bin/"
    done
  fi
  printf "[catalog]\r\nDRIVER=POSTGRES\r\n${alias_lines[$way]}\r\n" > "$work/site-$way/cgi-bin/dbengine.conf"
  sed -i '/^WORDS=/d' "$work/site-$way/cgi-bin/liraweb.conf"
done

sjis() { printf '%s' "$1" | iconv -f UTF-8 -t CP932 | od -An -tx1 -v | tr -d ' \n' | sed 's/../%&/g'; }

# One request; prints its wall time in µs and fails when the page is no result list.
request() {
  "$build_dir/cgi_request_timer" "$work/site-$1" /list "PAGENUM=0&$2" "$work/page"
  if [ -e "$work/site-$1/cgi-bin/Error.txt" ]; then
    iconv -c -f CP932 -t UTF-8 "$work/site-$1/cgi-bin/Error.txt" >&2
    exit 1
  fi
}

median() { sort -n | awk '{ v[NR] = $1 } END { m = v[int((NR + 1) / 2)]; printf "%.1f", m / 1000 }'; }

# Books the folded search finds: the figure of the last result page.
hits() { LC_ALL=C grep -o 'id="hit-count">[0-9]*' "$work/page" | LC_ALL=C grep -o '[0-9]*$'; }

runs=$repeats
source "$source_root/bench/bench_setup.sh"
report_header "PostgreSQL search benchmark"
echo "- server: $("$psql" "$conninfo" -Atc "SELECT version()" | cut -d' ' -f1-2), database" \
  "LC_CTYPE $("$psql" "$conninfo" -Atc "SELECT datctype FROM pg_database WHERE datname = current_database()")," \
  "shared_buffers $("$psql" "$conninfo" -Atc "SHOW shared_buffers")"
echo
header="| Search (${books} books) | kind | hits (folded)"
for way in "${ways[@]}"; do header+=" | $way"; done
echo "$header |"
echo "|---|---|---$(printf '|---%.0s' "${ways[@]}")|"
while IFS='|' read -r kind field word; do
  [ -n "$kind" ] || continue
  [[ "$kind" == *"$kinds"* ]] || continue
  query="$field=$(sjis "$word")"
  for way in "${ways[@]}"; do request "$way" "$query" > /dev/null; done  # warm the cache
  for way in "${ways[@]}"; do : > "$work/times-$way"; done
  for ((r = 0; r < repeats; r++)); do
    for way in "${ways[@]}"; do request "$way" "$query" >> "$work/times-$way"; done
  done
  request folded "$query" > /dev/null
  printf '| %s %s | %s | %s' "$field" "$word" "$kind" "$(hits)"
  for way in "${ways[@]}"; do printf ' | %s ms' "$(median < "$work/times-$way")"; done
  echo " |"
done <<'WORDS'
no hit (fixed cost)|BOOKNAME|ぬ
1-2 selective|CHOSYA|林彩
1-2 selective|BOOKNAME|猫と
1-2|BOOKNAME|ねこ
3+|CHOSYA|十河美咲
3+|BOOKNAME|猫の窓
3+|BOOKNAME|ひまわり
3+|BOOKNAME|殺人事件
broad 1 char|BOOKNAME|の
WORDS
