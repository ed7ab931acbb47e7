#!/usr/bin/env bash
# The cost of a long search text: a one-word title search and a title search whose
# text is 100 KB of "a" (sent as a POST, as a form would), over a synthetic catalogue.
# With a second program file (BASELINE, for example the program built from an older
# commit) the same requests run against it too, side by side in the same run.
# Usage: bench/long_search_text_bench.sh [BOOKS] [BUILD_DIR] [BASELINE] [RUNS]
set -euo pipefail
source_root=$(cd "$(dirname "$0")/.." && pwd)
books=${1:-100000}
build_dir=$(cd "${2:-$source_root/build}" && pwd)
baseline=${3:-}
runs=${4:-3}
work=$(mktemp -d /tmp/liraweb-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

"$build_dir/catalog_generator" --count "$books" --seed 1 --output "$work/books.tsv"
"$source_root/tools/site-install.sh" --build "$build_dir" --prefix "$work/site" \
  --catalogue "$work/books.tsv" >/dev/null
cgi_bin="$work/site/cgi-bin"
# An older program may not know every alias setting of today's example site.
grep -av '^TIME_LIMIT=' "$cgi_bin/dbengine.conf" >"$cgi_bin/dbengine-baseline.conf"

one_word='PAGENUM=0&BOOKNAME=%90%7D%89%F0'  # 図解
long_text="PAGENUM=0&BOOKNAME=$(head -c 102400 /dev/zero | tr '\0' a)"

# Runs one request and prints its wall time and its CPU time (user + system), in
# seconds; on a busy machine the CPU time is the steadier figure. The response is kept
# in $work/response.
run_request() {
  local program=$1 config=$2 method=$3 body=$4 query=$5
  local TIMEFORMAT='%R %U %S'
  { time (printf '%s' "$body" | (cd "$cgi_bin" && env -i SERVER_PROTOCOL=HTTP/1.1 \
    REQUEST_METHOD="$method" CONTENT_LENGTH="${#body}" HTTP_HOST=127.0.0.1 \
    SCRIPT_NAME=/cgi-bin/liraweb PATH_INFO=/list QUERY_STRING="$query" \
    DBENGINE_CONFIG="$config" "$program" >"$work/response")); } 2>&1 |
    awk '{ printf "%.3f/%.3f", $1, $2 + $3 }'
}

# The page's title, to see that each program answered the search and not an error.
page_title() { LC_ALL=C grep -ao '<title>[^<]*' "$work/response" | iconv -f CP932 -t UTF-8; }

measure() {
  local label=$1 program=$2 config=$3
  local times_word="" times_long="" title_word title_long
  for _ in $(seq "$runs"); do
    times_word+="$(run_request "$program" "$config" GET "" "$one_word") "
    title_word=$(page_title)
    times_long+="$(run_request "$program" "$config" POST "$long_text" "") "
    title_long=$(page_title)
  done
  printf '%-10s one word (s, wall/CPU): %s| 100 KB text by POST (s, wall/CPU): %s\n' "$label" \
    "$times_word" "$times_long"
  printf '%-10s pages: %s | %s\n' "" "$title_word" "$title_long"
}

echo "books: $books, runs: $runs, $(nproc) cores, $(date -u '+%Y-%m-%d %H:%M UTC')"
measure "this" "$cgi_bin/liraweb" "$cgi_bin/dbengine.conf"
if [[ -n "$baseline" ]]; then
  cp "$baseline" "$cgi_bin/liraweb-baseline"
  measure "baseline" "$cgi_bin/liraweb-baseline" "$cgi_bin/dbengine-baseline.conf"
fi
