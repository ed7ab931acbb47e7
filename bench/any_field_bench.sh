#!/usr/bin/env bash
# The any-field box, best match first and the no-hits counts against the field search,
# in whole CGI requests (build/cgi_request_timer, a new process each, as under a web
# server) on one catalogue file, side by side in one run. Each row is a pair: the
# baseline (the title field, registration order; for the no-hits counts the same search
# on a site whose error.html lacks OTHER_FIELD_HITS) and the measured request, run
# alternately; the table gives the median of each in ms, wall time and in brackets the
# request's processor time (the steadier figure on a busy machine).
#   sqlite-loose   the example site (MATCH=LOOSE) on a copy of CATALOGUE with its loose index
#   sqlite-folded  MATCH=FOLDED on a copy with the folded index
#   postgres-loose, postgres-folded
#                  with --postgres CONNINFO: a database that already holds the catalogue
#                  and both of catalog_index's index sets
#
# Usage: bench/any_field_bench.sh [--build DIR] [--runs N] [--work DIR] [--postgres CONNINFO]
#                                 [--ways "WAY ..."] [--rows TEXT] CATALOGUE
#   CATALOGUE  an SQLite catalogue without index (catalog_generator --realistic, loaded)
#   --work     folder for the indexed copies, kept and reused between runs
#   --rows     only the requests whose name holds TEXT ("broad", "no hits")
set -euo pipefail
source_root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$source_root/build
runs=9
work=""
conninfo=""
ways=""
rows=""
catalogue=""
while (($#)); do
  case "$1" in
    --build) build_dir=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --postgres) conninfo=$2; shift 2 ;;
    --ways) ways=$2; shift 2 ;;
    --rows) rows=$2; shift 2 ;;
    *) catalogue=$1; shift ;;
  esac
done
[ -f "$catalogue" ] || { echo "usage: $0 [options] CATALOGUE" >&2; exit 2; }
source "$source_root/bench/bench_setup.sh"
if [ -z "$ways" ]; then
  ways="sqlite-loose sqlite-folded"
  [ -z "$conninfo" ] || ways+=" postgres-loose postgres-folded"
fi

# Two installations a way: the example site, and one whose notice page leaves out the
# no-hits counts.
for way in $ways; do
  match=${way#*-}
  match=${match^^}
  site=$work/site-$way
  if [[ $way == sqlite-* ]]; then
    copy=$work/${way#sqlite-}.db
    if [ ! -f "$copy" ]; then
      cp --reflink=auto "$catalogue" "$copy"
      "$build_dir/catalog_index" build --no-progress --match "${match,,}" "$copy" > /dev/null
    fi
    install_bench_site "$site" "$copy" "$match"
  else
    "$source_root/tools/site-install.sh" --build "$build_dir" --prefix "$site" > /dev/null
    printf '[catalog]\r\nDRIVER=POSTGRES\r\nCONNINFO=%s\r\nMATCH=%s\r\n' "$conninfo" "$match" \
      > "$site/cgi-bin/dbengine.conf"
  fi
  rm -rf "$site-plain"
  cp -a "$site" "$site-plain"
  sed -i 's/<#OTHER_FIELD_HITS>//' "$site-plain/templates/error.html"
done

# One request; prints its wall and processor times in µs, and fails when the program
# logged a failure (a search stopped at the alias's TIME_LIMIT), showing the log.
request() {
  timed_request "$1" "$2" "$work/page"
}

# The books of the last page: its count, or the links of its help.
answer() {
  LC_ALL=C grep -o 'id="hit-count">[0-9]*' "$work/page" | LC_ALL=C grep -o '[0-9]*$' ||
    echo "$(LC_ALL=C grep -c '<li><a href' "$work/page") links"
}

report_header "Any-field box, best match first, no-hits counts"
echo
header="| request | books"
for way in $ways; do header+=" | $way: baseline → measured"; done
echo "$header |"
echo "|---|---$(printf '|---%.0s' $ways)|"
# kind | baseline query | measured query (PAGENUM first); a baseline "plain" is the
# measured query on the site without the counts.
while IFS='|' read -r kind baseline measured; do
  [ -n "$kind" ] || continue
  [[ "$kind" == *"$rows"* ]] || continue
  query=$(encode "$measured")
  base_query=$query
  [ "$baseline" = plain ] || base_query=$(encode "$baseline")
  line="| $kind"
  first=1
  for way in $ways; do
    site=$work/site-$way
    base_site=$site
    [ "$baseline" = plain ] && base_site=$site-plain
    request "$base_site" "$base_query" > /dev/null
    if ! request "$site" "$query" > /dev/null; then
      ((first)) && line+=" | -"
      line+=" | stopped at the time limit"
      first=0
      continue
    fi
    ((first)) && line+=" | $(answer)"
    first=0
    : > "$work/base"
    : > "$work/measured"
    for ((r = 0; r < runs; r++)); do
      request "$base_site" "$base_query" >> "$work/base"
      request "$site" "$query" >> "$work/measured"
    done
    line+=" | $(median "$work/base") → $(median "$work/measured") ms"
  done
  echo "$line |"
done <<'ROWS'
any field, selective (恋黒海)|PAGENUM=0&BOOKNAME=恋黒海|PAGENUM=0&ANY=恋黒海
any field, 2 words selective (田中 夜旅)|PAGENUM=0&BOOKNAME=夜旅|PAGENUM=0&ANY=田中 夜旅
any field, broad (の)|PAGENUM=0&BOOKNAME=の|PAGENUM=0&ANY=の
best match, selective, page 0|PAGENUM=0&BOOKNAME=恋黒海|PAGENUM=0&ANY=恋黒海&ORDER=RELEVANCE
best match, middle (夜旅), page 0|PAGENUM=0&BOOKNAME=夜旅|PAGENUM=0&ANY=夜旅&ORDER=RELEVANCE
best match, broad (の), page 0|PAGENUM=0&BOOKNAME=の|PAGENUM=0&ANY=の&ORDER=RELEVANCE
best match, broad (の), page 50|PAGENUM=50&BOOKNAME=の|PAGENUM=50&ANY=の&ORDER=RELEVANCE
best match, broad (記録), title field, page 50|PAGENUM=50&BOOKNAME=記録|PAGENUM=50&BOOKNAME=記録&ORDER=RELEVANCE
no hits in the title, counts find the author (田中家火)|plain|PAGENUM=0&BOOKNAME=田中家火
no hits anywhere, counts all 0 (ぬゑ)|plain|PAGENUM=0&BOOKNAME=ぬゑ
ROWS
