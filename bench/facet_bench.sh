#!/usr/bin/env bash
# Filters with counts: what the facet counts add to a search, and a filtered search beside
# the same search unfiltered. Three installations of the example site read one SQLite
# catalogue (MATCH=FOLDED; give it a folded search index for the indexed figures):
# "plain" without FACETS (its facet block writes nothing), "facets" with FACETS=1, and
# "filters" with FACETS=1 and the list without its facet block. For each word, in turn
# and alternating: the plain search, the same with counts, the search on "filters"
# unfiltered, then with AVAILABLE=1 and with CLASS=9&DECADE=1990. Medians of whole CGI
# requests, in ms, one table row a word.
#
# Usage: bench/facet_bench.sh [--build DIR] [--work DIR] [--runs N] CATALOGUE WORD...
# A WORD is given percent-encoded Shift_JIS (%83%93 for ン).
set -euo pipefail
source_root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$source_root/build
runs=9
work=""
args=()
while (($#)); do
  case "$1" in
    --build) build_dir=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    *) args+=("$1"); shift ;;
  esac
done
catalogue=$(realpath "${args[0]:?usage: $0 [--build DIR] [--work DIR] [--runs N] CATALOGUE WORD...}")
words=("${args[@]:1}")
source "$source_root/bench/bench_setup.sh"
report_header "Facet counts and filters: $(basename "$catalogue")"

for site in plain facets filters; do
  install_bench_site "$work/$site" "$catalogue" FOLDED
done
sed -i '/^FACETS=/d' "$work/plain/cgi-bin/liraweb.conf"
sed -i '/<aside class="facets"/,/<\/aside>/d' "$work/filters/templates/list.html"

# Usage: timed SITE QUERY: the request's wall time in ms; its page in $work/page.html.
timed() {
  local start end
  start=$(date +%s%N)
  (cd "$work/$1/cgi-bin" && env -i SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=GET HTTP_HOST=127.0.0.1 \
    SCRIPT_NAME=/cgi-bin/liraweb PATH_INFO=/list QUERY_STRING="$2" ./liraweb > "$work/page.html")
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo
echo "| word (hits) | plain | with counts | added | unfiltered | AVAILABLE=1 (hits) | CLASS=9&DECADE=1990 (hits) |"
echo "|---|---|---|---|---|---|---|"
for word in "${words[@]}"; do
  kinds=("plain PAGENUM=0&ANY=$word" "facets PAGENUM=0&ANY=$word" "filters PAGENUM=0&ANY=$word"
         "filters PAGENUM=0&ANY=$word&AVAILABLE=1" "filters PAGENUM=0&ANY=$word&CLASS=9&DECADE=1990")
  declare -A times=() hits=()
  for ((run = 0; run < runs; run++)); do
    for k in "${!kinds[@]}"; do
      read -r site query <<< "${kinds[$k]}"
      times[$k]+="$(timed "$site" "$query") "
      hits[$k]=$(grep -o 'id="hit-count">[0-9]*' "$work/page.html" | cut -d'>' -f2)
    done
  done
  for k in "${!kinds[@]}"; do m[$k]=$(tr ' ' '\n' <<< "${times[$k]}" | sed '/^$/d' | median); done
  echo "| $word (${hits[0]}) | ${m[0]} | ${m[1]} | $((m[1] - m[0])) | ${m[2]} | ${m[3]} (${hits[3]}) | ${m[4]} (${hits[4]}) |"
  unset times hits
done
