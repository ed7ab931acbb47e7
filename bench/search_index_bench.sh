#!/usr/bin/env bash
# Whole search requests at each catalogue size, without and with the search index,
# side by side in one run; writes a Markdown report (machine, date, commit, index size,
# build time and memory, a table of request times) on stdout.
#
# Usage: bench/search_index_bench.sh [--build DIR] [--runs N] [--scan-kinds N] [--work DIR]
#                                    [--kinds TEXT] [--older DIR] BOOKS...
#   --build  build folder (default: build)
#   --runs   requests of each kind on each installation (default 15)
#   --scan-kinds  run the scan for the first N kinds only (at 10,000,000 books a scan
#            takes many seconds)
#   --older  build folder of another version of the program: its requests take the place
#            of the scan's, on the indexed catalogue (columns "scan" then mean "older")
#   --kinds  only the query kinds whose name holds TEXT ("broad", "sorted", "page 50")
#   --work   folder for the catalogues, kept and reused between runs (default: a
#            temporary folder, removed at the end)
#   --catalogue FILE  an SQLite catalogue without index (a realistic one, for example)
#            in place of the synthetic books, searched with words of the realistic
#            catalogue (catalog_generator --realistic); give its number of books as BOOKS
set -euo pipefail
source_root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$source_root/build
runs=15
scan_kinds=1000
kinds=""
older=""
work=""
catalogue=""
sizes=()
while (($#)); do
  case "$1" in
    --build) build_dir=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --scan-kinds) scan_kinds=$2; shift 2 ;;
    --kinds) kinds=$2; shift 2 ;;
    --older) older=$(cd "$2" && pwd); shift 2 ;;
    --work) work=$2; shift 2 ;;
    --catalogue) catalogue=$(realpath "$2"); export SEARCH_INDEX_BENCH_WORDS=realistic; shift 2 ;;
    *) sizes+=("$1"); shift ;;
  esac
done
((${#sizes[@]})) || sizes=(100000)
source "$source_root/bench/bench_setup.sh"
report_header "Search index benchmark"

for books in "${sizes[@]}"; do
  dir=$work/$books
  mkdir -p "$dir"
  if [ -n "$catalogue" ]; then
    [ -f "$dir/scan.db" ] || cp --reflink=auto "$catalogue" "$dir/scan.db"
  else
    synthetic_catalogue "$books" "$dir/scan.db"
  fi
  rm -f "$dir/index.db"
  cp "$dir/scan.db" "$dir/index.db"
  /usr/bin/time -f "%e %M" -o "$dir/build.time" \
    "$build_dir/catalog_index" build --no-progress "$dir/index.db" > /dev/null
  read -r build_seconds build_kib < "$dir/build.time"
  table_bytes=$(sqlite3 "$dir/index.db" "SELECT sum(pgsize) FROM dbstat WHERE name = 'BOOKMAST'")
  index_bytes=$(sqlite3 "$dir/index.db" \
    "SELECT sum(pgsize) FROM dbstat WHERE name LIKE 'liraidx%' OR name LIKE 'sqlite_autoindex_liraidx%'")

  # Two installations of the example site that differ only in their catalogue file.
  # The example site matches loosely; the index built above serves the folded mode.
  for kind in scan index; do install_bench_site "$dir/site-$kind" "$dir/$kind.db" FOLDED; done
  if [ -n "$older" ]; then
    for file in liraweb libkvconf.so; do cp "$older/$file" "$dir/site-scan/cgi-bin/"; done
    ln -sf "$dir/index.db" "$dir/site-scan/data/catalog.db"
    echo
    echo "(the scan columns below are the program of $older on the indexed catalogue)"
  fi

  echo
  echo "## $books books"
  echo
  echo "- index: $((index_bytes / 1048576)) MiB ($(awk "BEGIN {printf \"%.2f\", $index_bytes / $table_bytes}") × the book table's $((table_bytes / 1048576)) MiB);" \
    "built in $build_seconds s with at most $((build_kib / 1024)) MiB of memory"
  echo
  "$build_dir/search_index_bench" "$dir/site-scan" "$dir/site-index" "$runs" "$scan_kinds" "$kinds"
  rm -rf "$dir/site-scan" "$dir/site-index"
done
