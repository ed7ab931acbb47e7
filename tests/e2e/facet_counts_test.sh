#!/usr/bin/env bash
# Filters with counts (FACETS=1) answer from the search's own rows, on SQLite without and
# with the search index and on PostgreSQL (when a test server is given):
# - each count of FACET NAME=DECADE, CLASS and LOCATION equals a GROUP BY that sqlite3 or
#   psql runs over the books the same search lists (its rows read from the page);
# - the AVAILABLE count equals the rows the list marks as can be borrowed (RENT=0);
# - a value's link finds exactly the books of its count: the search's rows that the
#   database says hold the value; two filters combine, one removed gives back the other;
# - a filtered search pages like the others, its page links carrying the filters;
# - the counts and facet lists are the same bytes on every installation;
# - without FACETS the filter fields change nothing, and with it a request without them
#   answers as before.
# A few books are added beside the sample (loans without borrower, attachment counts of 0,
# call numbers that begin with a letter, books without year), identically everywhere.
#
# Usage: facet_counts_test.sh BUILD_DIR [CONNINFO_FILE]
set -uo pipefail
build_dir=$(cd "${1:?usage: $0 BUILD_DIR [CONNINFO_FILE]}" && pwd)
conninfo_file=${2:-}
source_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/liraweb-facets.XXXXXX")
trap 'stop_fastcgi_sites "$work"; rm -rf "$work"' EXIT
# shellcheck source=tests/e2e/script_checks.sh
source "$source_root/tests/e2e/script_checks.sh"
source "$source_root/tests/e2e/fastcgi_sites.sh"  # run_liraweb, stop_fastcgi_sites
checks=0

extra_books="
INSERT INTO BOOKMAST (MS_BOOKID, MS_SYOMEI, MS_SYUNEN, MS_SEIKYU, MS_SYOZAI, MS_KKUBUN, MS_TMARK, MS_TFMSUU) VALUES
 ('Z1', 'zq one', 1999, '913', 1, '0', '', NULL),
 ('Z2', 'zq two', 2000, 'E12', 2, '0', '', NULL),
 ('Z3', 'zq three', NULL, '', NULL, '3', '', NULL),
 ('Z4', 'zq four', 1990, '4', 3, '0', '', NULL),
 ('Z5', 'zq five', 2009, '210', 1, '0', '', 0),
 ('Z6', 'zq six', 1985, '007', 2, '1', 'x', 2);
INSERT INTO KASIDASI (KA_BOOKID, KA_USERID) VALUES ('Z2', ''), ('Z6', 'U1');"

# ---- the installations
sites=(scan index)
"$source_root/tools/site-install.sh" --build "$build_dir" --prefix "$work/scan" --no-index \
  > /dev/null || die "installing the site without index failed"
"$source_root/tools/site-install.sh" --build "$build_dir" --prefix "$work/index" > /dev/null ||
  die "installing the site with index failed"
for site in scan index; do
  sed -i 's/^MATCH=.*/MATCH=FOLDED/' "$work/$site/cgi-bin/dbengine.conf"
  sqlite3 "$work/$site/data/catalog.db" "$extra_books" || die "adding books to $site failed"
done
"$build_dir/catalog_index" build --no-progress --match folded \
  --order-columns MS_SYOKANA,MS_CHOKANA,MS_SEIKYU,MS_SYUNEN,MS_SYOZAI,MS_KKUBUN,MS_TMARK,MS_TFMSUU \
  "$work/index/data/catalog.db" > /dev/null || die "building the folded index failed"
sqlite3 "$work/index/data/catalog.db" "DELETE FROM BOOKMAST WHERE MS_BOOKID = 'Z6';
  DELETE FROM KASIDASI WHERE KA_BOOKID = 'Z6';
  INSERT INTO BOOKMAST (MS_BOOKID, MS_SYOMEI, MS_SYUNEN, MS_SEIKYU, MS_SYOZAI, MS_KKUBUN, MS_TMARK, MS_TFMSUU)
  VALUES ('Z6', 'zq six', 1985, '007', 2, '1', 'x', 2);
  INSERT INTO KASIDASI (KA_BOOKID, KA_USERID) VALUES ('Z6', 'U1');" || die "rewriting a book failed"

# A third installation whose index holds every row: the one-character words are then
# answered from the lists alone, the facets counted from the kept orders of the year,
# call number, location and loan-kind columns and the loan table, and a filter must
# still read the rows.
cp -a "$work/index" "$work/fresh"
"$build_dir/catalog_index" refresh --no-progress "$work/fresh/data/catalog.db" > /dev/null ||
  die "refreshing the index failed"
sites+=(fresh)

psql=""
if [ -n "$conninfo_file" ] && [ -s "$conninfo_file" ]; then
  psql=$(ls -d /usr/lib/postgresql/*/bin/psql 2> /dev/null | sort -V | tail -n 1)
  [ -x "${psql:-}" ] || psql=$(command -v psql) || die "psql is missing"
  server=$(tr -d '\n' < "$conninfo_file")
  database=liraweb_facets
  PGOPTIONS='-c client_min_messages=warning' "$psql" "$server" -q -v ON_ERROR_STOP=1 \
    -c "DROP DATABASE IF EXISTS $database" \
    -c "CREATE DATABASE $database ENCODING 'UTF8' TEMPLATE template0" ||
    die "cannot create the database $database"
  catalogue_db="$server dbname=$database"
  "$source_root/tools/site-install.sh" --build "$build_dir" --prefix "$work/postgres" --no-index \
    > /dev/null || die "installing the PostgreSQL site failed"
  "$build_dir/catalog_loader" --no-progress --postgres "$catalogue_db" \
    "$source_root/site/catalogue/books.tsv" > /dev/null || die "loading the catalogue failed"
  printf '[catalog]\r\nDRIVER=POSTGRES\r\nCONNINFO=%s\r\nMATCH=FOLDED\r\n' "$catalogue_db" \
    > "$work/postgres/cgi-bin/dbengine.conf"
  rm -f "$work/postgres/data/catalog.db"
  "$psql" "$catalogue_db" -q -v ON_ERROR_STOP=1 -c "$extra_books" > /dev/null ||
    die "adding books to PostgreSQL failed"
  sites+=(postgres)
else
  echo "no PostgreSQL test server: SQLite only"
fi

# The oracle: the statement run by the site's own database tool, rows as "a|b".
oracle() {
  if [ "$1" = postgres ]; then
    PGCLIENTENCODING=SJIS "$psql" "$catalogue_db" -qAt -F '|' -c "$2"
  else
    sqlite3 -separator '|' "$work/$1/data/catalog.db" "$2"
  fi
}

# A test list template: the count, every facet, the applied filters, the rows, the pager.
list_template='COUNT <#TOTAL_FIND_COUNT>
<#FACET_APPLIED LABEL=applied>
<#FACET NAME=AVAILABLE LABEL=available>
<#FACET NAME=DECADE LABEL=decade>
<#FACET NAME=CLASS LABEL=class>
<#FACET NAME=LOCATION LABEL=location>
ROWS
<#FIND_VALUE_LIST>
<#PAGENAV>'
for site in "${sites[@]}"; do
  cp "$work/$site/templates/list.html" "$work/$site/templates/example-list.html"
  printf '%s' "$list_template" > "$work/$site/templates/list.html"
  sed -i 's/^LIST_MAX=.*/LIST_MAX=1000/' "$work/$site/cgi-bin/liraweb.conf"
done

request() {  # SITE QUERY: the page, with the search time cut out
  (cd "$work/$1/cgi-bin" && env -i SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=GET HTTP_HOST=127.0.0.1 \
    SCRIPT_NAME=/cgi-bin/liraweb PATH_INFO=/list QUERY_STRING="$2" ./liraweb) |
    LC_ALL=C sed 's/[0-9][0-9.]* \x95b//; s/^Content-Length: .*//'
}
# The books of a page, "ID RENT" a line.
rows() { LC_ALL=C grep -o 'data?ID=[^&]*&RENT=[0-9]' | LC_ALL=C sed 's/data?ID=//; s/&RENT=/ /'; }
# The values of one facet list of a page: "VALUE COUNT" a line, VALUE the field's value in
# the link (the applied value's link lacks it: "applied").
facet() {
  LC_ALL=C awk -v name="$1" '/^<h3 class="facet-name">/ { inside = ($0 ~ ">" name "<") }
    inside && /^<li/ {
      value = "applied"
      if (match($0, "&amp;" toupper(name) "=[-0-9]+")) value = substr($0, RSTART + 6 + length(name), RLENGTH - 6 - length(name))
      count = $0; sub(/.*<span class="count">/, "", count); sub(/<.*/, "", count)
      print value " " count
    }' | LC_ALL=C sort
}
links() {  # the hrefs of one facet list, "&amp;" undone, without the script's address
  LC_ALL=C awk -v name="$1" '/^<h3 class="facet-name">/ { inside = ($0 ~ ">" name "<") }
    inside && /^<li/ { sub(/.*href="\.\.\/liraweb\/list\?/, ""); sub(/".*/, ""); gsub(/&amp;/, "\\&"); print }'
}
id_list() { LC_ALL=C awk '{ printf "%s'\''%s'\''", (NR > 1 ? "," : ""), $1 }'; }

# Shift_JIS words: の (many books), 猫, 日本, 小説, zq (the added books), a.
words=(%82%CC %94L %93%FA%96%7B %8F%AC%90%E0 zq a)
declare -A first_answer sorted_answer
for site in "${sites[@]}"; do
  for word in "${words[@]}"; do
    name="$site ANY=$word"
    page=$(request "$site" "PAGENUM=0&ANY=$word")
    # The count and the facet lists are the same bytes everywhere; the rows the same
    # books (PostgreSQL gives a search without ORDER in an order of its own).
    facets=$(LC_ALL=C sed '/^ROWS/,$d' <<< "$page")$'\n'$(rows <<< "$page" | LC_ALL=C sort)
    first_answer[$word]=${first_answer[$word]:-$facets}
    checks=$((checks + 1))
    [ "$facets" = "${first_answer[$word]}" ] || fail "$name" "answers otherwise than ${sites[0]}"
    rows=$(rows <<< "$page")
    [ -n "$rows" ] || { fail "$name" "no rows"; continue; }
    ids=$(id_list <<< "$rows")
    count=$(LC_ALL=C sed -n 's/^COUNT //p' <<< "$page" | head -n 1)
    [ "$count" = "$(wc -l <<< "$rows")" ] || fail "$name" "count $count, rows $(wc -l <<< "$rows")"
    # The GROUP BY over the listed books, as the database reads their columns.
    expected_decades=$(oracle "$site" "SELECT MS_SYUNEN / 10 * 10, COUNT(*) FROM BOOKMAST
      WHERE MS_BOOKID IN ($ids) AND MS_SYUNEN IS NOT NULL GROUP BY 1" | tr '|' ' ' | LC_ALL=C sort)
    expected_classes=$(oracle "$site" "SELECT substr(MS_SEIKYU, 1, 1), COUNT(*) FROM BOOKMAST
      WHERE MS_BOOKID IN ($ids) AND substr(MS_SEIKYU, 1, 1) IN ('0','1','2','3','4','5','6','7','8','9')
      GROUP BY 1" | tr '|' ' ' | LC_ALL=C sort)
    expected_locations=$(oracle "$site" "SELECT MS_SYOZAI, COUNT(*) FROM BOOKMAST
      WHERE MS_BOOKID IN ($ids) AND MS_SYOZAI IS NOT NULL GROUP BY 1" | tr '|' ' ' | LC_ALL=C sort)
    available=$(LC_ALL=C grep -c ' 0$' <<< "$rows")
    expected_available=""
    [ "$available" -gt 0 ] && expected_available="1 $available"
    for pair in "decade:$expected_decades" "class:$expected_classes" \
      "location:$expected_locations" "available:$expected_available"; do
      facet_name=${pair%%:*}
      checks=$((checks + 1))
      shown=$(facet "$facet_name" <<< "$page")
      [ "$shown" = "${pair#*:}" ] ||
        fail "$name" "$facet_name counts differ from the GROUP BY: shown [$shown] expected [${pair#*:}]"
      # Each value's link leaves the books of its count, those of the search with the value.
      while IFS= read -r link; do
        [ -n "$link" ] || continue
        value=$(LC_ALL=C grep -oE "&${facet_name^^}=[-0-9]+" <<< "$link" | cut -d= -f2)
        filtered=$(request "$site" "$link")
        checks=$((checks + 1))
        shown_count=$(LC_ALL=C sed -n 's/^COUNT //p' <<< "$filtered" | head -n 1)
        [ "$shown_count" = "$(LC_ALL=C awk -v v="$value" '$1 == v { print $2 }' <<< "$shown")" ] ||
          fail "$name" "$link finds $shown_count books, its facet said otherwise"
        case $facet_name in
          decade) where="MS_SYUNEN / 10 * 10 = $value" ;;
          class) where="substr(MS_SEIKYU, 1, 1) = '$value'" ;;
          location) where="MS_SYOZAI = $value" ;;
          available) where="MS_BOOKID IN ($(LC_ALL=C grep ' 0$' <<< "$rows" | id_list))" ;;
        esac
        expected_ids=$(oracle "$site" "SELECT MS_BOOKID FROM BOOKMAST WHERE MS_BOOKID IN ($ids)
          AND $where" | LC_ALL=C sort)
        checks=$((checks + 1))
        [ "$(rows <<< "$filtered" | cut -d' ' -f1 | LC_ALL=C sort)" = "$expected_ids" ] ||
          fail "$name" "$link lists other books than the database's rows with that value"
      done < <(links "$facet_name" <<< "$page" | head -n 3)
    done
  done

  # A loan written by the circulation system counts at the next request, and so does
  # its return: the books of the loans that the index keeps follow by its triggers.
  available_before=$(request "$site" "PAGENUM=0&ANY=zq" | facet available)
  oracle "$site" "INSERT INTO KASIDASI (KA_BOOKID, KA_USERID) VALUES ('Z1', 'U9')" > /dev/null
  available_lent=$(request "$site" "PAGENUM=0&ANY=zq" | facet available)
  lent_rows=$(request "$site" "PAGENUM=0&ANY=zq&AVAILABLE=1" | rows | cut -d' ' -f1 | tr '\n' ' ')
  oracle "$site" "DELETE FROM KASIDASI WHERE KA_BOOKID = 'Z1'" > /dev/null
  checks=$((checks + 2))
  [ "$available_lent" = "1 $((${available_before#1 } - 1))" ] ||
    fail "$site loan" "AVAILABLE [$available_before] then [$available_lent] after a loan"
  [ "$(request "$site" "PAGENUM=0&ANY=zq" | facet available)" = "$available_before" ] &&
    [[ " $lent_rows" != *" Z1 "* ]] || fail "$site loan" "the lent book is still listed, or not back"

  # Two filters combine; the applied list removes each, giving back the other.
  combined="PAGENUM=0&ANY=%82%CC&AVAILABLE=1&LOCATION=1"
  page=$(request "$site" "$combined")
  checks=$((checks + 1))
  expected_ids=$(oracle "$site" "SELECT MS_BOOKID FROM BOOKMAST WHERE MS_BOOKID IN
    ($(request "$site" "PAGENUM=0&ANY=%82%CC&AVAILABLE=1" | rows | id_list)) AND MS_SYOZAI = 1" |
    LC_ALL=C sort)
  [ "$(rows <<< "$page" | cut -d' ' -f1 | LC_ALL=C sort)" = "$expected_ids" ] ||
    fail "$site combined" "AVAILABLE and LOCATION together list other books"
  removals=$(LC_ALL=C awk '/^<ul class="facet-applied">/,/^<\/ul>/' <<< "$page" |
    LC_ALL=C sed -n 's/.*href="\.\.\/liraweb\/list?\([^"]*\)".*/\1/p' | sed 's/&amp;/\&/g')
  checks=$((checks + 1))
  [ "$removals" = "PAGENUM=0&ANY=%82%CC&LOCATION=1
PAGENUM=0&ANY=%82%CC&AVAILABLE=1" ] || fail "$site combined" "removal links: $removals"

  # Paging: seven rows a page; the pages together are the one-page list, and the pager
  # carries the filters.
  sed -i 's/^LIST_MAX=.*/LIST_MAX=7/' "$work/$site/cgi-bin/liraweb.conf"
  paged=""
  for page_number in 0 1 2 3 4 5 6 7 8 9 10 11; do
    page=$(request "$site" "PAGENUM=$page_number&ANY=%82%CC&AVAILABLE=1&CLASS=9&ORDER=RELEVANCE")
    paged+=$(rows <<< "$page" | cut -d' ' -f1)$'\n'
    if [ "$page_number" = 0 ]; then
      checks=$((checks + 1))
      LC_ALL=C grep -q 'PAGENUM=1&amp;ANY=%82%CC&amp;ORDER=RELEVANCE&amp;AVAILABLE=1&amp;CLASS=9"' <<< "$page" ||
        fail "$site paging" "the pager does not carry the filters"
    fi
  done
  # Filters with a sort order, paged: the same books in the same order on every SQLite
  # installation (PostgreSQL orders ties its own way: the same books), each page its part.
  for combination in "AVAILABLE=1&ORDER=MS_SYOKANA&ORDERKIND=DESC" \
    "DECADE=1990&CLASS=9&ORDER=MS_SEIKYU" "YEAR_FROM=1950&YEAR_TO=2005&LOCATION=1" \
    "AVAILABLE=1&CLASS=9&ORDER=MS_CHOKANA"; do
    listed=""
    for page_number in 0 1 2 3 4 5 6 7 8; do
      page=$(request "$site" "PAGENUM=$page_number&ANY=%82%CC&$combination")
      [ "$page_number" = 0 ] && listed=$(LC_ALL=C sed -n 's/^COUNT //p' <<< "$page" | head -n 1)$'\n'
      listed+=$(rows <<< "$page")$'\n'
    done
    sorted_answer["$combination"]=${sorted_answer["$combination"]:-$listed}
    expected=${sorted_answer["$combination"]}
    if [ "$site" = postgres ]; then
      listed=$(LC_ALL=C sort <<< "$listed")
      expected=$(LC_ALL=C sort <<< "$expected")
    fi
    checks=$((checks + 1))
    [ "$listed" = "$expected" ] && [ "$(wc -l <<< "$listed")" -gt 8 ] ||
      fail "$site $combination" "pages differ from ${sites[0]}'s, or too few rows"
  done
  sed -i 's/^LIST_MAX=.*/LIST_MAX=1000/' "$work/$site/cgi-bin/liraweb.conf"
  whole=$(request "$site" "PAGENUM=0&ANY=%82%CC&AVAILABLE=1&CLASS=9&ORDER=RELEVANCE" | rows | cut -d' ' -f1)
  checks=$((checks + 1))
  [ "$(sed '/^$/d' <<< "$paged")" = "$whole" ] && [ "$(wc -l <<< "$whole")" -gt 7 ] ||
    fail "$site paging" "the pages are not the whole filtered list"
done

# Loans written and returned while FastCGI processes keep their connections (and what
# they read of the loans) between requests: every process sees each write at its next
# request, as a CGI run does, also the loan of a book added since the index was built.
fastcgi_page() {  # QUERY: the page of one of the four processes, as request writes it
  LIRAWEB_MODE=fastcgi run_liraweb "$work/fresh/cgi-bin" 30 /dev/null "$work/fastcgi.out" \
    "$work/fastcgi.err" SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=GET HTTP_HOST=127.0.0.1 \
    SCRIPT_NAME=/cgi-bin/liraweb PATH_INFO=/list QUERY_STRING="$1" || echo "no answer"
  LC_ALL=C sed 's/[0-9][0-9.]* \x95b//; s/^Content-Length: .*//' "$work/fastcgi.out"
}
broad="PAGENUM=0&ANY=%82%CC"
every_process_sees() {  # WHAT AVAILABLE_FACET COUNT ABSENT_BOOK
  local round page
  for round in 1 2 3 4 5 6 7 8; do
    page=$(fastcgi_page "$broad")
    checks=$((checks + 1))
    [ "$(facet available <<< "$page")" = "$2" ] &&
      [ "$(LC_ALL=C sed -n 's/^COUNT //p' <<< "$page" | head -n 1)" = "$3" ] ||
      fail "FastCGI $1" "request $round: AVAILABLE [$(facet available <<< "$page")], expected [$2]"
  done
  checks=$((checks + 1))
  fastcgi_page "$broad&AVAILABLE=1" | rows | LC_ALL=C grep -q "^$4 " &&
    fail "FastCGI $1" "$4 is listed as available"
}
cgi_page=$(request fresh "$broad")
available_in=$(facet available <<< "$cgi_page")
count_in=$(LC_ALL=C sed -n 's/^COUNT //p' <<< "$cgi_page" | head -n 1)
lent=$(rows <<< "$cgi_page" | LC_ALL=C awk '$2 == 0 { print $1; exit }')
every_process_sees "before" "$available_in" "$count_in" "no-such-book"
oracle fresh "INSERT INTO KASIDASI (KA_BOOKID, KA_USERID) VALUES ('$lent', 'U9')" > /dev/null
every_process_sees "loan" "1 $((${available_in#1 } - 1))" "$count_in" "$lent"
oracle fresh "DELETE FROM KASIDASI WHERE KA_BOOKID = '$lent'" > /dev/null
every_process_sees "return" "$available_in" "$count_in" "no-such-book"
oracle fresh "INSERT INTO BOOKMAST (MS_BOOKID, MS_SYOMEI) VALUES ('Z7', 'zq $(printf '\x82\xcc') seven');
  INSERT INTO KASIDASI (KA_BOOKID, KA_USERID) VALUES ('Z7', 'U7')" > /dev/null
every_process_sees "new book lent" "$available_in" "$((count_in + 1))" "Z7"
"$build_dir/catalog_index" refresh --no-progress "$work/fresh/data/catalog.db" > /dev/null ||
  die "refreshing the index failed"
every_process_sees "new book lent, refreshed" "$available_in" "$((count_in + 1))" "Z7"
oracle fresh "DELETE FROM KASIDASI WHERE KA_BOOKID = 'Z7'" > /dev/null
every_process_sees "new book returned" "1 $((${available_in#1 } + 1))" "$((count_in + 1))" \
  "no-such-book"

# Unchanged without the setting, and without the fields; the example templates too.
site=scan
cp "$work/$site/templates/example-list.html" "$work/$site/templates/list.html"
with_setting=$(request "$site" "PAGENUM=0&ANY=%94L")
sed -i '/^FACETS=/d' "$work/$site/cgi-bin/liraweb.conf"
without=$(request "$site" "PAGENUM=0&ANY=%94L")
filters_ignored=$(request "$site" "PAGENUM=0&ANY=%94L&AVAILABLE=1&DECADE=1990&CLASS=9&LOCATION=1")
checks=$((checks + 2))
[ "$filters_ignored" = "$without" ] || fail "no setting" "the filter fields changed the page"
strip_facets() { LC_ALL=C sed '/<aside class="facets"/,/<\/aside>/d'; }
[ "$(strip_facets <<< "$with_setting")" = "$(strip_facets <<< "$without")" ] ||
  fail "setting" "FACETS=1 changed more than the facet block of the page"

echo "$checks checks on ${sites[*]}, $failures failed"
((failures == 0))
