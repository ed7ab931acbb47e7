#!/usr/bin/env bash
# The any-field box and the best-match order on PostgreSQL against the title field of
# the same word, for two builds side by side in one run: whole CGI requests (a new
# process and connection each, build/cgi_request_timer), the two installations
# alternately, medians. Each cell: wall ms (the program's processor ms) [the server's
# processor ms a request: the time its backends spent, read from the postmaster's
# children's times, which count whole clock ticks, so a mean over the runs; keep
# autovacuum off meanwhile, as its workers are the postmaster's children too, after a
# VACUUM ANALYZE of a fresh load, which autovacuum would have made]. The
# example site without the filters with counts (FACETS), which read every hit.
#
# Usage: bench/postgres_best_match_bench.sh [--build DIR] [--before DIR] [--runs N]
#                                           [--match loose|folded] [--rows TEXT]
#                                           [--work DIR] CONNINFO
#   CONNINFO  a database holding the catalogue and catalog_index's indexes for the mode,
#             on this host (the server's processor time is read from /proc)
#   --before  a build folder whose liraweb, libkvconf.so and libdbengine_pg.so make the
#             "before" installation (default: none, only "after")
#   --rows    only the requests whose name holds TEXT
set -euo pipefail
source_root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$source_root/build
before=""
runs=7
match=loose
rows=""
work=""
conninfo=""
while (($#)); do
  case "$1" in
    --build) build_dir=$2; shift 2 ;;
    --before) before=$(cd "$2" && pwd); shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --match) match=$2; shift 2 ;;
    --rows) rows=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    *) conninfo=$1; shift ;;
  esac
done
[ -n "$conninfo" ] || { echo "usage: $0 [options] CONNINFO" >&2; exit 2; }
source "$source_root/bench/bench_setup.sh"
psql=$(ls -d /usr/lib/postgresql/*/bin/psql 2>/dev/null | sort -V | tail -n 1)
postmaster=$(head -n 1 "$("$psql" "$conninfo" -Atc "SHOW data_directory")/postmaster.pid")

ways="after"
[ -z "$before" ] || ways="before after"
for way in $ways; do
  site=$work/site-$way
  "$source_root/tools/site-install.sh" --build "$build_dir" --prefix "$site" > /dev/null
  if [ "$way" = before ]; then
    for file in liraweb libkvconf.so libdbengine_pg.so; do cp "$before/$file" "$site/cgi-bin/"; done
  fi
  # Without the filters with counts, which read every hit whatever the order.
  sed -i '/^FACETS=/d' "$site/cgi-bin/liraweb.conf"
  # A best-match page of a word most books hold may take long: stop it at 10 s.
  printf '[catalog]\r\nDRIVER=POSTGRES\r\nCONNINFO=%s\r\nMATCH=%s\r\nTIME_LIMIT=10\r\n' \
    "$conninfo" "${match^^}" > "$site/cgi-bin/dbengine.conf"
done

# The clock ticks the server's ended backends have spent so far.
server_ticks() { awk '{ print $16 + $17 }' "/proc/$postmaster/stat"; }

# One request: "wall µs, program µs, server ticks" appended to FILE; fails when the
# program logged a failure (the time limit).
request() {
  local ticks
  ticks=$(server_ticks)
  timed_request "$work/site-$1" "$2" "$work/page" | tr '\n' ' ' >> "$3" || return 1
  # The request's backend ends as the program does; the postmaster counts its time once
  # it has reaped it.
  sleep 0.2
  echo "$(($(server_ticks) - ticks))" >> "$3"
}

# "wall (program) [server]" of FILE: medians of the first two, the mean of the third.
cell() {
  printf '%s [%s]' "$(median "$1")" \
    "$(awk -v hz="$(getconf CLK_TCK)" '{ s += $3 } END { printf "%.1f", s * 1000 / hz / NR }' "$1")"
}

books() { LC_ALL=C grep -o 'id="hit-count">[0-9]*' "$work/page" | LC_ALL=C grep -o '[0-9]*$' || echo 0; }

report_header "PostgreSQL: any field and best match against the title field (MATCH=${match^^})"
echo "- server: $("$psql" "$conninfo" -Atc "SELECT version()" | cut -d' ' -f1-2)," \
  "$("$psql" "$conninfo" -Atc "SELECT count(*) FROM BOOKMAST") books"
echo
header="| request | books"
for way in $ways; do header+=" | $way"; done
echo "$header |"
echo "|---|---$(printf '|---%.0s' $ways)|"
while IFS='|' read -r kind query; do
  [ -n "$kind" ] || continue
  [[ "$kind" == *"$rows"* ]] || continue
  query=$(encode "$query")
  line="| $kind"
  counted=""
  # The first request warms the server's cache; a way stopped at the time limit there
  # is not run again.
  measured=""
  for way in $ways; do
    : > "$work/times-$way"
    if request "$way" "$query" /dev/null 2> /dev/null; then
      measured+=" $way"
      [ -n "$counted" ] || counted=$(books)
    else
      echo stopped > "$work/times-$way"
    fi
  done
  for ((r = 0; r < runs; r++)); do
    for way in $measured; do
      request "$way" "$query" "$work/times-$way" 2> /dev/null || echo "stopped" >> "$work/times-$way"
    done
  done
  line+=" | ${counted:--}"
  for way in $ways; do
    if grep -q stopped "$work/times-$way"; then
      line+=" | stopped at 10 s"
    else
      line+=" | $(cell "$work/times-$way")"
    fi
  done
  echo "$line |"
done <<'ROWS'
title field, selective (恋黒海)|PAGENUM=0&BOOKNAME=恋黒海
any field, selective|PAGENUM=0&ANY=恋黒海
best match, selective, page 0|PAGENUM=0&ANY=恋黒海&ORDER=RELEVANCE
title field, middle (夜旅)|PAGENUM=0&BOOKNAME=夜旅
any field, middle|PAGENUM=0&ANY=夜旅
best match, middle, page 0|PAGENUM=0&ANY=夜旅&ORDER=RELEVANCE
title field, middle, page 50|PAGENUM=50&BOOKNAME=夜旅
any field, middle, page 50|PAGENUM=50&ANY=夜旅
best match, middle, page 50|PAGENUM=50&ANY=夜旅&ORDER=RELEVANCE
title field, broad (の)|PAGENUM=0&BOOKNAME=の
any field, broad|PAGENUM=0&ANY=の
best match, broad, page 0|PAGENUM=0&ANY=の&ORDER=RELEVANCE
title field, broad, page 50|PAGENUM=50&BOOKNAME=の
any field, broad, page 50|PAGENUM=50&ANY=の
best match, broad, page 50|PAGENUM=50&ANY=の&ORDER=RELEVANCE
ROWS
