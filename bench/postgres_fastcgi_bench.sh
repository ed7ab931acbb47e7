#!/usr/bin/env bash
# PostgreSQL searches through lighttpd and one FastCGI process, one request at a time
# (curl): selective words of the title field, and a middle word's any-field search and
# best-match pages, for two builds side by side: the example site (MATCH=LOOSE, no filters with
# counts) of BUILD_DIR, and the same with the PostgreSQL plug-in of BEFORE_DIR. For each
# word: the median wall time, and the processor time a request of the FastCGI process
# and of the server (its backends, kept between requests, and any that ended).
#
# Usage: bench/postgres_fastcgi_bench.sh CONNINFO [REQUESTS] [BUILD_DIR] [BEFORE_DIR]
#   CONNINFO  a database on this host holding the catalogue with its loose indexes
set -euo pipefail
source_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

if [ "${1:-}" = --site ]; then
  # Inside with_site.sh: $2 is the way's name; the outer site, if any, is in OUTER_*.
  printf '[catalog]\r\nDRIVER=POSTGRES\r\nCONNINFO=%s\r\nMATCH=LOOSE\r\n' "$BENCH_POSTGRES" \
    > "$LIRAWEB_INSTALL/cgi-bin/dbengine.conf"
  sed -i '/^FACETS=/d' "$LIRAWEB_INSTALL/cgi-bin/liraweb.conf"
  if [ "$2" = before ]; then
    [ -z "$BENCH_BEFORE" ] || cp "$BENCH_BEFORE/libdbengine_pg.so" "$LIRAWEB_INSTALL/cgi-bin/"
    OUTER_BASE=$LIRAWEB_BASE OUTER_INSTALL=$LIRAWEB_INSTALL LIRAWEB_MODE=fastcgi \
      exec "$source_root/tests/e2e/with_site.sh" "$BENCH_BUILD" "$0" --site after
  fi
  psql=$(ls -d /usr/lib/postgresql/*/bin/psql 2>/dev/null | sort -V | tail -n 1)
  postmaster=$(head -n 1 "$("$psql" "$BENCH_POSTGRES" -Atc "SHOW data_directory")/postmaster.pid")
  # Clock ticks of the server (its processes and the ended ones) and of a site's program.
  server_ticks() {
    { cat "/proc/$postmaster/stat"; for pid in $(pgrep -P "$postmaster"); do cat "/proc/$pid/stat" 2> /dev/null || true; done; } |
      awk '{ sub(/^.*\) /, ""); total += $12 + $13 + $14 + $15 } END { print total + 0 }'
  }
  program_ticks() {
    for pid in $(pgrep -f "$1/cgi-bin/liraweb" || true); do cat "/proc/$pid/stat" 2> /dev/null || true; done |
      awk '{ sub(/^.*\) /, ""); total += $12 + $13 } END { print total + 0 }'
  }
  hz=$(getconf CLK_TCK)
  echo "| request | books | before: p50 ms, CPU ms program + server | after: p50 ms, CPU ms program + server |"
  echo "|---|---|---|---|"
  # Blocks of 20 requests, the two sites in turn, so that a busy machine slows both alike.
  while IFS='|' read -r name query; do
    path="/cgi-bin/liraweb/list?$(python3 -c 'import sys, urllib.parse as u
print("&".join(k + "=" + u.quote(v, encoding="cp932")
               for k, v in (p.split("=", 1) for p in sys.argv[1].split("&"))))' "$query")"
    declare -A server=([before]=0 [after]=0) program=([before]=0 [after]=0)
    for way in before after; do
      base=$LIRAWEB_BASE install=$LIRAWEB_INSTALL
      [ "$way" = after ] || { base=$OUTER_BASE; install=$OUTER_INSTALL; }
      curl -s -o "$install/page" "$base$path"
      : > "$install/times"
    done
    books=$(LC_ALL=C grep -o 'id="hit-count">[0-9]*' "$LIRAWEB_INSTALL/page" | LC_ALL=C grep -o '[0-9]*$')
    for ((block = 0; block < BENCH_REQUESTS / 20; block++)); do
      for way in before after; do
        base=$LIRAWEB_BASE install=$LIRAWEB_INSTALL
        [ "$way" = after ] || { base=$OUTER_BASE; install=$OUTER_INSTALL; }
        s=$(server_ticks) p=$(program_ticks "$install")
        for ((r = 0; r < 20; r++)); do
          curl -s -o /dev/null -w '%{time_total}\n' "$base$path"
        done >> "$install/times"
        server[$way]=$((server[$way] + $(server_ticks) - s))
        program[$way]=$((program[$way] + $(program_ticks "$install") - p))
      done
    done
    line="| $name | $books"
    for way in before after; do
      install=$LIRAWEB_INSTALL
      [ "$way" = after ] || install=$OUTER_INSTALL
      line+=" | $(sort -n "$install/times" | awk '{ v[NR] = $1 } END { printf "%.1f", v[int((NR + 1) / 2)] * 1000 }')"
      line+=", $(awk -v p="${program[$way]}" -v s="${server[$way]}" -v n="$(wc -l < "$install/times")" -v hz="$hz" \
        'BEGIN { printf "%.2f + %.2f", p * 1000 / hz / n, s * 1000 / hz / n }')"
    done
    echo "$line |"
  done <<'ROWS'
title field, 銀夢|PAGENUM=0&BOOKNAME=銀夢
title field, 恋黒|PAGENUM=0&BOOKNAME=恋黒
title field, 恋黒海|PAGENUM=0&BOOKNAME=恋黒海
title field, 夜旅|PAGENUM=0&BOOKNAME=夜旅
any field, 夜旅|PAGENUM=0&ANY=夜旅
best match, 夜旅|PAGENUM=0&ANY=夜旅&ORDER=RELEVANCE
title field, 夜旅, page 50|PAGENUM=50&BOOKNAME=夜旅
best match, 夜旅, page 50|PAGENUM=50&ANY=夜旅&ORDER=RELEVANCE
ROWS
  exit 0
fi

export BENCH_POSTGRES=${1:?usage: $0 CONNINFO [REQUESTS] [BUILD_DIR] [BEFORE_DIR]}
export BENCH_REQUESTS=${2:-200}
export BENCH_BUILD=$(cd "${3:-$source_root/build}" && pwd)
export BENCH_BEFORE=${4:+$(cd "$4" && pwd)}
echo "PostgreSQL through FastCGI, one request at a time: load average $(cut -d' ' -f1-3 /proc/loadavg)," \
  "commit $(git -C "$source_root" rev-parse --short HEAD), $(date -u '+%Y-%m-%d %H:%M UTC')"
LIRAWEB_SERVE_SECONDS=1800 LIRAWEB_MODE=fastcgi "$source_root/tests/e2e/with_site.sh" "$BENCH_BUILD" "$0" --site before
