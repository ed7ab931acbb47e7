#!/usr/bin/env bash
# Load and fault figures of the whole program behind lighttpd, on loopback only.
#
# Usage: bench/load_test.sh [BOOKS] [BUILD_DIR]
#   BOOKS      books of the synthetic catalogue (default 100000)
#   BUILD_DIR  build folder (default build)
# Environment: LOAD_SECONDS (each load run, default 30), LOAD_CLIENTS (default "16 64"),
#   LONG_TEXT_BYTES (the long search text, default 102400).
#
# Installs the example site with a synthetic catalogue (build/catalog_generator, seed 1)
# and serves it with a private lighttpd (tests/e2e/with_site.sh). Then, bounded in time:
# - wrk with each number of clients for LOAD_SECONDS over a mix of the top page, title
#   and author searches, a sorted search, a later page, detail pages, and a search
#   without PAGENUM, which writes one record into Error.txt per request: requests/s,
#   latency p50 and p99, errors (connection errors, timeouts, answers other than 2xx/3xx);
# - Error.txt afterwards: records that are not whole, and records missing against the
#   requests lighttpd's access log shows for the logging search;
# - the time of a search whose text is LONG_TEXT_BYTES long (a POST) against a one-word
#   search, each the median of three runs (the long one: of one, when it takes more than
#   10 s); every request is cut off after 120 s.
# Needs wrk (tools/install-deps.sh bench installs it) and lighttpd.
set -euo pipefail
source_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

if [ "${1:-}" = --measure ]; then
  # ---- inside with_site.sh: LIRAWEB_BASE and LIRAWEB_INSTALL are set
  base=$LIRAWEB_BASE
  install=$LIRAWEB_INSTALL
  seconds=${LOAD_SECONDS:-30}
  work=$(mktemp -d "${TMPDIR:-/tmp}/liraweb-load.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  sjis() { printf '%s' "$1" | iconv -f UTF-8 -t CP932 | od -An -tx1 -v | tr -d ' \n' | sed 's/../%&/g'; }
  app=/cgi-bin/liraweb
  first_id=1000001
  logging_search="$app/list?BOOKNAME=$(sjis 猫)"
  paths=(
    "$app/"
    "$app/list?PAGENUM=0&BOOKNAME=$(sjis 猫)"
    "$app/list?PAGENUM=0&CHOSYA=$(sjis 山)"
    "$app/list?PAGENUM=0&SYUPAN=$(sjis 表現社)&ORDER=MS_SYOKANA&ORDERKIND=ASC"
    "$app/list?PAGENUM=3&BOOKNAME=$(sjis 少女)"
    "$app/data?ID=$((first_id + 17))&RENT=0"
    "$app/data?ID=$((first_id + 4242))&RENT=0"
    "$logging_search"
  )
  {
    echo 'local paths = {'
    for path in "${paths[@]}"; do echo "  \"$path\","; done
    echo '}'
    echo 'local next = 0'
    echo 'request = function()'
    echo '  next = next % #paths + 1'
    echo '  return wrk.format("GET", paths[next])'
    echo 'end'
  } > "$work/mix.lua"

  for path in "${paths[@]}"; do
    status=$(curl -s -o "$work/page" -w '%{http_code}' --max-time 60 "$base$path")
    [ "$status" = 200 ] || { echo "warm-up: $path answered $status" >&2; exit 1; }
  done
  rm -f "$install/cgi-bin/Error.txt"
  : > "$install/log/access.log"

  printf '%-8s %10s %10s %10s %8s %10s\n' clients requests req/s p50 p99 errors
  for clients in ${LOAD_CLIENTS:-16 64}; do
    wrk -t 2 -c "$clients" -d "${seconds}s" --timeout 30s --latency -s "$work/mix.lua" "$base" \
      > "$work/wrk.$clients"
    requests=$(awk '/requests in/ { print $1 }' "$work/wrk.$clients")
    rate=$(awk '/^Requests\/sec/ { print $2 }' "$work/wrk.$clients")
    p50=$(awk '$1 == "50%" { print $2 }' "$work/wrk.$clients")
    p99=$(awk '$1 == "99%" { print $2 }' "$work/wrk.$clients")
    socket=$(awk '/Socket errors/ { gsub(",", ""); print $4 + $6 + $8 + $10 }' "$work/wrk.$clients")
    non2xx=$(awk '/Non-2xx/ { print $NF }' "$work/wrk.$clients")
    printf '%-8s %10s %10s %10s %8s %10s\n' "$clients" "$requests" "$rate" "$p50" "$p99" \
      "$((${socket:-0} + ${non2xx:-0}))"
    grep -E 'Socket errors|Non-2xx' "$work/wrk.$clients" | sed "s/^ */  $clients clients: /" || true
  done

  # Every search without PAGENUM wrote one record; each must be there, whole. Requests
  # still running when wrk stopped are let finish first (at most 60 s).
  for _ in $(seq 600); do
    pgrep -f "^$install/cgi-bin/liraweb" > /dev/null || break
    sleep 0.1
  done
  logged=$(grep -cF "\"GET $logging_search HTTP/1.1\" 200 " "$install/log/access.log" || true)
  records=0
  torn=0
  if [ -f "$install/cgi-bin/Error.txt" ]; then
    records=$(($(wc -l < "$install/cgi-bin/Error.txt") - 1))
    torn=$(tail -n +2 "$install/cgi-bin/Error.txt" |
      LC_ALL=C grep -cvE '^"?[0-9]{4}/[0-9]{2}/[0-9]{2}( [0-9]{1,2}:[0-9]{2}:[0-9]{2})?"?,[^,]*,.*$' || true)
  fi
  echo "error log: $logged logging requests served, $records records, $torn not whole," \
    "$((logged > records ? logged - records : 0)) missing"

  # The cost of a long search text against a one-word one.
  median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
  one_word() { curl -s -o /dev/null -w '%{time_total}\n' --max-time 120 "$base$app/list?PAGENUM=0&BOOKNAME=$(sjis 猫)"; }
  short=$(for _ in 1 2 3; do one_word; done | median)
  head -c "${LONG_TEXT_BYTES:-102400}" /dev/zero | tr '\0' a > "$work/long"
  { printf 'PAGENUM=0&BOOKNAME='; cat "$work/long"; } > "$work/body"
  # Time and status of one POST; status 000 when cut off after 120 s.
  long_run() {
    curl -s -o "$work/long.page" -w '%{time_total} %{http_code}\n' --max-time 120 \
      --data-binary "@$work/body" "$base$app/list" || true
  }
  first=$(long_run)
  if awk -v t="${first% *}" 'BEGIN { exit !(t > 10) }'; then
    long=${first% *}
  else
    long=$({ echo "${first% *}"; long_run | cut -d' ' -f1; long_run | cut -d' ' -f1; } | median)
  fi
  echo "search text of ${LONG_TEXT_BYTES:-102400} bytes: ${long} s (status ${first#* });" \
    "one-word search: ${short} s; ratio $(awk -v a="$long" -v b="$short" 'BEGIN { printf "%.1f", a / b }')"
  exit 0
fi

books=${1:-100000}
build_dir=$(cd "${2:-$source_root/build}" && pwd)
command -v wrk > /dev/null || { echo "wrk is missing: tools/install-deps.sh bench" >&2; exit 1; }
catalogue=$(mktemp "${TMPDIR:-/tmp}/liraweb-load-books.XXXXXX")
trap 'rm -f "$catalogue"' EXIT
"$build_dir/catalog_generator" --count "$books" --seed 1 --output "$catalogue"
echo "load test: $books books, commit $(git -C "$source_root" rev-parse --short HEAD 2> /dev/null || echo '?')," \
  "$(nproc) cores, $(date -u '+%Y-%m-%d %H:%M UTC')"
LIRAWEB_SERVE_SECONDS=900 LIRAWEB_CATALOGUE=$catalogue "$source_root/tests/e2e/with_site.sh" "$build_dir" \
  "$source_root/bench/load_test.sh" --measure
