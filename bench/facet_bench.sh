#!/usr/bin/env bash
# Filters with counts: what the facet counts add to a search, and a filtered search beside
# the same search unfiltered. Three installations of the example site read one SQLite
# catalogue (MATCH=FOLDED; give it a folded search index for the indexed figures):
# "plain" without FACETS (its facet block writes nothing), "facets" with FACETS=1, and
# "filters" with FACETS=1 and the list without its facet block. For each word, in turn
# and alternating: the plain search, the same with counts, the search on "filters"
# unfiltered, then with AVAILABLE=1 and with CLASS=9&DECADE=1990, and the list with counts
# filtered by AVAILABLE=1 (as a patron narrows on the example site). Medians of whole CGI
# requests, in ms, one table row a word.
#
# With --baseline BUILD:CATALOGUE a fourth installation, "base", runs another build (main's,
# say) with FACETS=1 on another catalogue (the same books with that build's index), its
# counted request alternating with the others; and with perf at hand each request's CPU
# time (task-clock, ms) is measured too, which a loaded machine disturbs far less. The
# baseline's filtered searches (without the facet block, as on "filters") alternate too:
# "base filtered" columns, beside this build's.
#
# Usage: bench/facet_bench.sh [--build DIR] [--work DIR] [--runs N] [--baseline BUILD:CATALOGUE]
#        CATALOGUE WORD...
# A WORD is given percent-encoded Shift_JIS (%83%93 for ン).
set -euo pipefail
source_root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$source_root/build
runs=9
work=""
baseline=""
args=()
while (($#)); do
  case "$1" in
    --build) build_dir=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --baseline) baseline=$2; shift 2 ;;
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
if [ -n "$baseline" ]; then
  "$source_root/tools/site-install.sh" --build "${baseline%%:*}" --prefix "$work/base" --no-index \
    > /dev/null
  ln -sf "$(realpath "${baseline#*:}")" "$work/base/data/catalog.db"
  sed -i "s/^MATCH=.*/MATCH=FOLDED/" "$work/base/cgi-bin/dbengine.conf"
  cp -a "$work/base" "$work/basefilters"
  sed -i '/<aside class="facets"/,/<\/aside>/d' "$work/basefilters/templates/list.html"
fi
# A broad word at 10,000,000 books may run longer than the example's time limit on a
# loaded machine: the figure measured, not the limit's error page.
sed -i 's/^TIME_LIMIT=.*/TIME_LIMIT=600/' "$work"/*/cgi-bin/dbengine.conf
perf=$(command -v perf || true)
sed -i '/<aside class="facets"/,/<\/aside>/d' "$work/filters/templates/list.html"

# Usage: timed SITE QUERY: the request's wall time in ms, and with perf its CPU time in ms
# after a blank; its page in $work/page.html.
timed() {
  local start end cpu=""
  start=$(date +%s%N)
  (cd "$work/$1/cgi-bin" && env -i SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=GET HTTP_HOST=127.0.0.1 \
    SCRIPT_NAME=/cgi-bin/liraweb PATH_INFO=/list QUERY_STRING="$2" \
    ${perf:+"$perf" stat -x, -e task-clock -o "$work/cpu.txt" --} ./liraweb > "$work/page.html")
  end=$(date +%s%N)
  [ -z "$perf" ] || cpu=$(awk -F, '/task-clock/ { printf "%.1f", $1 }' "$work/cpu.txt")
  echo "$(((end - start) / 1000000)) $cpu"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo
echo "Wall ms, and CPU ms after the slash (with perf):"
echo
echo "| word (hits) | plain | with counts | added |${baseline:+ base with counts | base added |} unfiltered | AVAILABLE=1 (hits) | CLASS=9&DECADE=1990 (hits) |${baseline:+ base AVAILABLE=1 | base CLASS=9&DECADE=1990 |} counts and AVAILABLE=1 |${baseline:+ base counts and AVAILABLE=1 |}"
echo "|---|---|---|---|${baseline:+---|---|}---|---|---|${baseline:+---|---|}---|${baseline:+---|}"
for word in "${words[@]}"; do
  kinds=("plain PAGENUM=0&ANY=$word" "facets PAGENUM=0&ANY=$word" "filters PAGENUM=0&ANY=$word"
         "filters PAGENUM=0&ANY=$word&AVAILABLE=1" "filters PAGENUM=0&ANY=$word&CLASS=9&DECADE=1990"
         "facets PAGENUM=0&ANY=$word&AVAILABLE=1")
  [ -z "$baseline" ] || kinds+=("base PAGENUM=0&ANY=$word" "basefilters PAGENUM=0&ANY=$word&AVAILABLE=1"
                              "basefilters PAGENUM=0&ANY=$word&CLASS=9&DECADE=1990"
                              "base PAGENUM=0&ANY=$word&AVAILABLE=1")
  declare -A times=() cpus=() hits=()
  for ((run = 0; run < runs; run++)); do
    for k in "${!kinds[@]}"; do
      read -r site query <<< "${kinds[$k]}"
      read -r wall cpu <<< "$(timed "$site" "$query")"
      times[$k]+="$wall "
      cpus[$k]+="${cpu:-0} "
      hits[$k]=$(grep -o 'id="hit-count">[0-9]*' "$work/page.html" | cut -d'>' -f2 || echo none)
    done
  done
  for k in "${!kinds[@]}"; do
    m[$k]=$(tr ' ' '\n' <<< "${times[$k]}" | sed '/^$/d' | median)
    c[$k]=$(tr ' ' '\n' <<< "${cpus[$k]}" | sed '/^$/d' | median)
  done
  cell() { echo "${m[$1]} / ${c[$1]}"; }
  added() { echo "$((m[$1] - m[0])) / $(awk -v a="${c[$1]}" -v b="${c[0]}" 'BEGIN { printf "%.1f", a - b }')"; }
  echo "| $word (${hits[0]}) | $(cell 0) | $(cell 1) | $(added 1) |${baseline:+ $(cell 6) | $(added 6) |}" \
    "$(cell 2) | $(cell 3) (${hits[3]}) | $(cell 4) (${hits[4]}) |${baseline:+ $(cell 7) (${hits[7]}) | $(cell 8) (${hits[8]}) |}" \
    "$(cell 5) |${baseline:+ $(cell 9) |}"
  unset times cpus hits
done
