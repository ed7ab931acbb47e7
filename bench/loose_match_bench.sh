#!/usr/bin/env bash
# MATCH=LOOSE against MATCH=FOLDED, both with the search index built for their mode, side
# by side in one run: two installations of the same generated catalogue, each query kind
# run alternately on both (bench/search_index_bench.cc does the requests). Writes a
# Markdown report on stdout; the "FOLDED" columns are the first site, "LOOSE" the second.
#
# Usage: bench/loose_match_bench.sh [--build DIR] [--runs N] [--work DIR] BOOKS
set -euo pipefail
source_root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$source_root/build
runs=15
work=""
books=1000000
while (($#)); do
  case "$1" in
    --build) build_dir=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    *) books=$1; shift ;;
  esac
done
source "$source_root/bench/bench_setup.sh"
report_header "Loose matching benchmark: MATCH=LOOSE beside MATCH=FOLDED, $books books"

synthetic_catalogue "$books" "$work/folded.db"
rm -f "$work/loose.db"
cp "$work/folded.db" "$work/loose.db"
for match in folded loose; do
  /usr/bin/time -f "%e" -o "$work/$match.time" \
    "$build_dir/catalog_index" build --no-progress --match "$match" "$work/$match.db" > /dev/null
  install_bench_site "$work/site-$match" "$work/$match.db" "${match^^}"
done
echo "- index built in $(cat "$work/folded.time") s (folded) and $(cat "$work/loose.time") s (loose)"
echo
# "same response": the two modes answer these words alike (the generated texts hold no
# separator or variant kanji).
"$build_dir/search_index_bench" "$work/site-folded" "$work/site-loose" "$runs" |
  sed '1s/scan median/FOLDED median/; 1s/scan p95/FOLDED p95/; 1s/index median/LOOSE median/;
       1s/index p95/LOOSE p95/; 1s/scan \/ index/FOLDED \/ LOOSE/'
rm -rf "$work/site-folded" "$work/site-loose"
