#!/usr/bin/env bash
# Whole requests through lighttpd with the program run as CGI and as FastCGI, side by
# side in one run, on loopback only.
#
# Usage: bench/fastcgi_bench.sh [BOOKS] [BUILD_DIR]
#   BOOKS      books of the synthetic catalogue (default 100000)
#   BUILD_DIR  build folder (default build)
# Environment: BENCH_SECONDS (each wrk run, default 10), BENCH_CLIENTS (default 16),
# BENCH_CATALOGUE_DB (an SQLite catalogue with its search index, built for the site's
# MATCH=LOOSE, served by both sites instead of a synthetic one; BOOKS then only names it),
# BENCH_POSTGRES (a libpq connection string: both sites search that PostgreSQL catalogue,
# loaded and given its loose indexes by catalog_loader and catalog_index, instead),
# BENCH_FACETS=0 (both sites without the filters with counts, which read every hit of a
# search: what is left is the request itself), BENCH_WRK_THREADS (wrk's threads, default
# 2), BENCH_MAX_PROCS (the FastCGI processes lighttpd starts; the example set-up's
# max-procs otherwise).
#
# Installs the example site twice with the same synthetic catalogue (seed 1), one served
# through mod_cgi and one through mod_fastcgi (tests/e2e/with_site.sh each), then runs wrk
# for each request kind against the CGI site and the FastCGI site in turn: requests/s and
# latency p50 and p99, CPU ms a request (lighttpd and the program; in brackets the
# program alone), and the FastCGI figure over the CGI one. The FastCGI search is run
# once more with 64 clients for its p99. Needs wrk (tools/install-deps.sh bench).
set -euo pipefail
source_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Points the installation of with_site.sh at the catalogue the run asks for, if any.
use_catalogue() {
  [ -z "${BENCH_CATALOGUE_DB:-}" ] || ln -sf "$BENCH_CATALOGUE_DB" "$LIRAWEB_INSTALL/data/catalog.db"
  [ -z "${BENCH_POSTGRES:-}" ] ||
    printf '[catalog]\r\nDRIVER=POSTGRES\r\nCONNINFO=%s\r\nMATCH=LOOSE\r\n' "$BENCH_POSTGRES" \
      > "$LIRAWEB_INSTALL/cgi-bin/dbengine.conf"
  [ "${BENCH_FACETS:-1}" != 0 ] || sed -i '/^FACETS=/d' "$LIRAWEB_INSTALL/cgi-bin/liraweb.conf"
}

case "${1:-}" in
  --cgi-site)
    # Inside the CGI site's with_site.sh: start the FastCGI site beside it.
    use_catalogue
    CGI_INSTALL=$LIRAWEB_INSTALL CGI_BASE=$LIRAWEB_BASE LIRAWEB_MODE=fastcgi \
      LIRAWEB_FASTCGI_PROCS=${BENCH_MAX_PROCS:-} exec "$source_root/tests/e2e/with_site.sh" \
      "$2" "$source_root/bench/fastcgi_bench.sh" --measure
    ;;
  --measure)
    use_catalogue
    seconds=${BENCH_SECONDS:-10}
    clients=${BENCH_CLIENTS:-16}
    sjis() { printf '%s' "$1" | iconv -f UTF-8 -t CP932 | od -An -tx1 -v | tr -d ' \n' | sed 's/../%&/g'; }
    app=/cgi-bin/liraweb
    kinds=(
      "top page|$app/"
      "title search, 2 characters|$app/list?PAGENUM=0&BOOKNAME=$(sjis 少女)"
      "title search, selective word|$app/list?PAGENUM=0&BOOKNAME=$(sjis 銀夢)"
      "author search, 1 character|$app/list?PAGENUM=0&CHOSYA=$(sjis 山)"
      "sorted search, page 4|$app/list?PAGENUM=3&BOOKNAME=$(sjis 猫)&ORDER=MS_SYOKANA&ORDERKIND=DESC"
      "detail page|$app/data?ID=1000018&RENT=0"
    )
    # CPU time (clock ticks) of the site whose install folder is $1: "all program",
    # where all is lighttpd, the CGI processes it has reaped and the FastCGI processes
    # alive, and program the CGI or FastCGI processes alone (lighttpd's reaped children
    # are the CGI processes; the FastCGI ones live until the end).
    cpu_ticks() {
      local pids
      pids=$(pgrep -f "$1/(lighttpd.conf|cgi-bin/liraweb)" || true)
      for pid in $pids; do cat "/proc/$pid/stat" 2> /dev/null || true; done |
        awk '{ program_process = $0 ~ /\(liraweb\)/; sub(/^.*\) /, "")
               total += $12 + $13 + $14 + $15
               program += program_process ? $12 + $13 : $14 + $15 }
             END { print total + 0, program + 0 }'
    }
    # wrk's figures for one URL: "requests/s p50 p99 errors cpu-ms-a-request
    # program-cpu-ms-a-request"; $3 is the site's install folder.
    run() {
      local out before after before_program after_program
      read -r before before_program <<< "$(cpu_ticks "$3")"
      out=$(wrk -t "${BENCH_WRK_THREADS:-2}" -c "$2" -d "${seconds}s" --timeout 30s --latency "$1")
      read -r after after_program <<< "$(cpu_ticks "$3")"
      awk -v ticks=$((after - before)) -v program=$((after_program - before_program)) \
          -v hz="$(getconf CLK_TCK)" \
          '/^Requests\/sec/ { rate = $2 } $1 == "50%" { p50 = $2 } $1 == "99%" { p99 = $2 }
           / requests in / { requests = $1 }
           /Socket errors/ { gsub(",", ""); errors += $4 + $6 + $8 + $10 }
           /Non-2xx/ { errors += $NF }
           END { printf "%s %s %s %d %.2f %.2f\n", rate, p50, p99, errors,
                        requests ? 1000 * ticks / hz / requests : 0,
                        requests ? 1000 * program / hz / requests : 0 }' <<< "$out"
    }
    for kind in "${kinds[@]}"; do
      path=${kind#*|}
      for base in "$CGI_BASE" "$LIRAWEB_BASE"; do
        status=$(curl -s -o /dev/null -w '%{http_code}' --max-time 60 "$base$path")
        [ "$status" = 200 ] || { echo "warm-up: $base$path answered $status" >&2; exit 1; }
      done
    done
    echo "| Request ($clients clients) | CGI req/s | CGI p50 / p99 | CGI CPU ms/req (program) | FastCGI req/s | FastCGI p50 / p99 | FastCGI CPU ms/req (program) | FastCGI ÷ CGI |"
    echo "|---|---|---|---|---|---|---|---|"
    for kind in "${kinds[@]}"; do
      name=${kind%%|*}
      path=${kind#*|}
      read -r cgi_rate cgi_p50 cgi_p99 cgi_errors cgi_cpu cgi_program \
        <<< "$(run "$CGI_BASE$path" "$clients" "$CGI_INSTALL")"
      read -r fast_rate fast_p50 fast_p99 fast_errors fast_cpu fast_program \
        <<< "$(run "$LIRAWEB_BASE$path" "$clients" "$LIRAWEB_INSTALL")"
      ratio=$(awk -v a="$fast_rate" -v b="$cgi_rate" 'BEGIN { printf "%.1f×", a / b }')
      errors=""
      ((cgi_errors + fast_errors == 0)) || errors=" (errors: CGI $cgi_errors, FastCGI $fast_errors)"
      echo "| $name | $cgi_rate | $cgi_p50 / $cgi_p99 | $cgi_cpu ($cgi_program) | $fast_rate | $fast_p50 / $fast_p99 | $fast_cpu ($fast_program) | $ratio$errors |"
    done
    read -r rate p50 p99 errors _ <<< "$(run "$LIRAWEB_BASE${kinds[1]#*|}" 64 "$LIRAWEB_INSTALL")"
    echo
    echo "FastCGI, ${kinds[1]%%|*}, 64 clients: $rate req/s, p50 $p50, p99 $p99, errors $errors"
    exit 0
    ;;
esac

books=${1:-100000}
build_dir=$(cd "${2:-$source_root/build}" && pwd)
command -v wrk > /dev/null || { echo "wrk is missing: tools/install-deps.sh bench" >&2; exit 1; }
catalogue=$(mktemp "${TMPDIR:-/tmp}/liraweb-fastcgi-books.XXXXXX")
trap 'rm -f "$catalogue"' EXIT
export BENCH_POSTGRES BENCH_FACETS BENCH_WRK_THREADS BENCH_MAX_PROCS
if [ -n "${BENCH_CATALOGUE_DB:-}${BENCH_POSTGRES:-}" ]; then
  export BENCH_CATALOGUE_DB
  cp "$source_root/site/catalogue/books.tsv" "$catalogue"
else
  "$build_dir/catalog_generator" --count "$books" --seed 1 --output "$catalogue"
fi
echo "FastCGI against CGI: $books books${BENCH_CATALOGUE_DB:+ ($BENCH_CATALOGUE_DB)}${BENCH_POSTGRES:+ (PostgreSQL)}, load average $(cut -d' ' -f1-3 /proc/loadavg), wrk threads ${BENCH_WRK_THREADS:-2}, max-procs ${BENCH_MAX_PROCS:-as installed}, commit $(git -C "$source_root" rev-parse --short HEAD 2> /dev/null || echo '?')," \
  "$(nproc) cores, $(date -u '+%Y-%m-%d %H:%M UTC')"
LIRAWEB_SERVE_SECONDS=1800 LIRAWEB_CATALOGUE=$catalogue LIRAWEB_MODE=cgi \
  "$source_root/tests/e2e/with_site.sh" "$build_dir" "$source_root/bench/fastcgi_bench.sh" \
  --cgi-site "$build_dir"
