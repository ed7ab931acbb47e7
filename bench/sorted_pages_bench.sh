#!/usr/bin/env bash
# Every sort choice, words of three characters and two conditions on a realistic
# catalogue (catalog_generator --realistic), whole CGI requests of another version of the
# program and of this one side by side in one run, each on its own indexed copy of the
# catalogue (an index is read only by the version that wrote its format). Writes a
# Markdown report on stdout; the "scan" columns are the older version's.
#
# Usage: bench/sorted_pages_bench.sh [--build DIR] [--runs N] [--kinds TEXT] [--work DIR]
#                                    [--older-kinds N] --older DIR OLDER_CATALOGUE CATALOGUE
#   --older  build folder of the other version (its liraweb and libkvconf.so)
#   OLDER_CATALOGUE  the catalogue indexed by the other version's catalog_index
#   CATALOGUE        the same catalogue indexed by this build's catalog_index
#   --kinds  only the query kinds whose name holds TEXT ("DESC", "page 50", "3 chars")
#   --older-kinds  run the other version for the first N kinds only (at 10,000,000 books
#            its sorted pages take many seconds)
#   --set KEY=VALUE  a setting of liraweb.conf for both installations (FACETS=0, say)
set -euo pipefail
source_root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$source_root/build
runs=5
older_kinds=1000
kinds=""
older=""
work=""
files=()
settings=()
while (($#)); do
  case "$1" in
    --build) build_dir=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --kinds) kinds=$2; shift 2 ;;
    --older-kinds) older_kinds=$2; shift 2 ;;
    --older) older=$(cd "$2" && pwd); shift 2 ;;
    --work) work=$2; shift 2 ;;
    --set) settings+=("$2"); shift 2 ;;
    *) files+=("$(realpath "$1")"); shift ;;
  esac
done
if [ -z "$older" ] || ((${#files[@]} != 2)); then
  sed -n '2,17p' "$0" >&2
  exit 2
fi
source "$source_root/bench/bench_setup.sh"
report_header "Sorted pages and long words, $older against this build"

# The index the benchmark reads is folded: both sites match FOLDED.
install_bench_site "$work/site-older" "${files[0]}" FOLDED
install_bench_site "$work/site-this" "${files[1]}" FOLDED
for file in liraweb libkvconf.so; do cp "$older/$file" "$work/site-older/cgi-bin/"; done
for setting in "${settings[@]}"; do
  for site in "$work/site-older" "$work/site-this"; do
    sed -i "s/^${setting%%=*}=.*/$setting/" "$site/cgi-bin/liraweb.conf"
  done
  echo "- setting: $setting"
done
# The filters with counts read every hit of a search (bench/facet_bench.sh measures
# them): left out here, so that the figures are those of the sorted page itself.
sed -i '/^FACETS=/d' "$work/site-older/cgi-bin/liraweb.conf" "$work/site-this/cgi-bin/liraweb.conf"
echo
echo "- books: $(sqlite3 "${files[1]}" 'SELECT count(*) FROM BOOKMAST')"
echo
"$build_dir/search_index_bench" --realistic "$work/site-older" "$work/site-this" "$runs" "$older_kinds" "$kinds"
rm -rf "$work/site-older" "$work/site-this"
