#!/usr/bin/env bash
# Best match first (ORDER=RELEVANCE) on two indexed copies of one catalogue, side by side
# in one run: BEFORE (an index without what the ranking reads from it, so SQLite sorts
# every hit) and AFTER (an index built by this tree's catalog_index). Whole CGI requests
# (build/cgi_request_timer, a new process each), alternately; medians in ms, wall time and
# in brackets the request's processor time. "same" compares the two pages byte for byte,
# the line with the search time left out. --before-build DIR serves BEFORE with the
# program of another build folder (an older ranking), AFTER with this tree's.
#
# Usage: bench/best_match_bench.sh [--build DIR] [--before-build DIR] [--runs N] [--work DIR]
#                                  [--match MODE] BEFORE.db AFTER.db
set -euo pipefail
source_root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$source_root/build
before_build=""
runs=5
work=""
match=FOLDED
files=()
while (($#)); do
  case "$1" in
    --build) build_dir=$2; shift 2 ;;
    --before-build) before_build=$(cd "$2" && pwd); shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --match) match=${2^^}; shift 2 ;;
    *) files+=("$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"); shift ;;
  esac
done
((${#files[@]} == 2)) || { echo "usage: $0 [options] BEFORE.db AFTER.db" >&2; exit 2; }
source "$source_root/bench/bench_setup.sh"
# The facet lists read every hit whatever the order (their own cost, not measured here).
install_bench_site "$work/after" "${files[1]}" "$match"
(build_dir=${before_build:-$build_dir} install_bench_site "$work/before" "${files[0]}" "$match")
for site in before after; do
  sed -i 's/^FACETS=.*/FACETS=0/' "$work/$site/cgi-bin/liraweb.conf"
done

# One request on the site (before, after); its page is kept as $work/<site>.page.
request() {
  timed_request "$work/$1" "$2" "$work/$1.page"
}

report_header "Best match first from the index"
echo
echo "| request | books | before | after | same |"
echo "|---|---|---|---|---|"
while IFS='|' read -r kind measured; do
  [ -n "$kind" ] || continue
  query=$(encode "$measured")
  # A search the alias's TIME_LIMIT stops is not repeated, on either side; the table
  # goes on with the next row.
  stopped=0
  after_stopped=0
  request before "$query" > /dev/null || stopped=1
  request after "$query" > /dev/null || after_stopped=1
  same=yes
  ((stopped || after_stopped)) && same=-
  ((stopped || after_stopped)) || cmp -s <(LC_ALL=C sed "s/<span class=.time.>.*<.span>//; /^Content-Length:/d" "$work/before.page") \
    <(LC_ALL=C sed "s/<span class=.time.>.*<.span>//; /^Content-Length:/d" "$work/after.page") || same=NO
  books=$(LC_ALL=C grep -o 'id="hit-count">[0-9]*' "$work/after.page" | LC_ALL=C grep -o '[0-9]*$' || echo 0)
  : > "$work/before.times"
  : > "$work/after.times"
  for ((r = 0; r < runs; r++)); do
    ((stopped)) || request before "$query" >> "$work/before.times"
    ((after_stopped)) || request after "$query" >> "$work/after.times"
  done
  before="stopped at the time limit"
  after="stopped at the time limit"
  ((stopped)) || before=$(median "$work/before.times")
  ((after_stopped)) || after=$(median "$work/after.times")
  echo "| $kind | $books | $before | $after | $same |"
done <<'ROWS'
any field, selective (恋黒海), page 0|PAGENUM=0&ANY=恋黒海&ORDER=RELEVANCE
any field, middle (夜旅), page 0|PAGENUM=0&ANY=夜旅&ORDER=RELEVANCE
any field, broad (の), page 0|PAGENUM=0&ANY=の&ORDER=RELEVANCE
any field, broad (の), page 50|PAGENUM=50&ANY=の&ORDER=RELEVANCE
any field, broad (ン), page 0|PAGENUM=0&ANY=ン&ORDER=RELEVANCE
any field, broad (ン), page 50|PAGENUM=50&ANY=ン&ORDER=RELEVANCE
title, broad (記録), page 0|PAGENUM=0&BOOKNAME=記録&ORDER=RELEVANCE
title, broad (記録), page 50|PAGENUM=50&BOOKNAME=記録&ORDER=RELEVANCE
author, broad (田中), page 0|PAGENUM=0&CHOSYA=田中&ORDER=RELEVANCE
ROWS
