#!/usr/bin/env bash
# Installs the example site with a synthetic catalogue and measures whole CGI
# requests against it. Usage: bench/cgi_request_bench.sh [BOOKS] [BUILD_DIR]
set -euo pipefail
source_root=$(cd "$(dirname "$0")/.." && pwd)
books=${1:-100000}
build_dir=$(cd "${2:-$source_root/build}" && pwd)
work=$(mktemp -d /tmp/liraweb-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

"$build_dir/catalog_generator" --count "$books" --seed 1 --output "$work/books.tsv"
"$source_root/tools/site-install.sh" --build "$build_dir" --prefix "$work/site" \
  --catalogue "$work/books.tsv" >/dev/null
LIRAWEB_BENCH_SITE="$work/site" "$build_dir/cgi_request_bench" --benchmark_min_time=1
