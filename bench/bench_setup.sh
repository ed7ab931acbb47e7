# Sourced by the search benchmarks after they have read their options: the set-up and the
# report header they share. Needs source_root, build_dir, runs and work (may be empty).

build_dir=$(cd "$build_dir" && pwd)
# The folder for catalogues and sites: the one given (kept between runs) or a temporary
# one removed at the end.
if [ -z "$work" ]; then
  work=$(mktemp -d /tmp/liraweb-bench.XXXXXX)
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"

# Usage: install_bench_site PREFIX CATALOGUE MATCH
# The example site at PREFIX reading CATALOGUE (an SQLite file) with the alias's MATCH.
install_bench_site() {
  "$source_root/tools/site-install.sh" --build "$build_dir" --prefix "$1" --no-index > /dev/null
  ln -sf "$2" "$1/data/catalog.db"
  sed -i "s/^MATCH=.*/MATCH=$3/" "$1/cgi-bin/dbengine.conf"
}

# Usage: synthetic_catalogue BOOKS CATALOGUE
# The SQLite file CATALOGUE of BOOKS synthetic books (seed 1), made unless it is there.
synthetic_catalogue() {
  [ ! -f "$2" ] || return 0
  "$build_dir/catalog_generator" --count "$1" --seed 1 --output "$2.tsv"
  "$build_dir/catalog_loader" --no-progress --no-index --sqlite "$2" "$2.tsv" > /dev/null
  rm -f "$2.tsv"
}

# Usage: report_header TITLE
# The lines every report opens with, so that a figure can always be traced to its
# machine, date, commit and load.
report_header() {
  echo "# $1"
  echo
  echo "- date: $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "- commit: $(git -C "$source_root" rev-parse --short HEAD)$(git -C "$source_root" diff --quiet || echo ' (with changes)')"
  echo "- machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)," \
    "$(free -g | awk '/Mem:/ {print $2}') GB memory; load average at start $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "- requests: each kind $runs times on each installation, alternately; whole CGI requests"
  echo "  (a new process each, as the web server runs them), wall time in ms"
}

# A query string of NAME=VALUE pairs, the values percent-encoded in Shift_JIS.
encode() {
  python3 -c 'import sys, urllib.parse as u
print("&".join(k + "=" + u.quote(v, encoding="cp932")
               for k, v in (p.split("=", 1) for p in sys.argv[1].split("&"))))' "$1"
}

# "wall (cpu)": the medians of FILE's two columns, the wall and the processor times, in ms.
median() {
  for column in 1 2; do
    sort -n -k"$column,$column" "$1" |
      awk -v c="$column" '{ v[NR] = $c } END { printf (c == 1 ? "%.1f (" : "%.1f)"), v[int((NR + 1) / 2)] / 1000 }'
  done
}

# Usage: timed_request SITE QUERY PAGE
# One /list request to the site, its page written to PAGE; prints its wall and processor
# times in µs, and fails when the program logged a failure (a search stopped at the
# alias's TIME_LIMIT), showing the log.
timed_request() {
  "$build_dir/cgi_request_timer" "$1" /list "$2" "$3"
  if [ -e "$1/cgi-bin/Error.txt" ]; then
    iconv -c -f CP932 -t UTF-8 "$1/cgi-bin/Error.txt" | tail -n 1 >&2
    rm "$1/cgi-bin/Error.txt"
    return 1
  fi
}
