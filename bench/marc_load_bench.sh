#!/usr/bin/env bash
# MARC loads beside catalogue file loads: writes the books of a catalogue file as ISO 2709
# (catalog_export), then loads the catalogue file and the MARC file into fresh SQLite
# files with the search index, alternating, ROUNDS times each; then applies a night's
# changes (8,000 changed records, 1,000 new, 1,000 keys to remove) to a copy of the
# MARC-loaded catalogue ROUNDS times. Prints each time in seconds and the medians.
#
# Usage: bench/marc_load_bench.sh CATALOGUE.tsv WORK_DIR [BUILD_DIR] [ROUNDS]
set -euo pipefail
tsv=$1
work=$2
build_dir=${3:-build}
rounds=${4:-3}
mkdir -p "$work"
loader=$build_dir/catalog_loader
seconds() { local start=$(date +%s.%N); "$@" >"$work/last.out"; echo "$(date +%s.%N) - $start" | bc; }
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

"$loader" --no-progress --no-index --sqlite "$work/base.db" "$tsv" >/dev/null
"$build_dir/catalog_export" --sqlite "$work/base.db" --format iso2709 --output "$work/all.mrc"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
: >"$work/tsv.times"
: >"$work/marc.times"
for round in $(seq "$rounds"); do
  rm -f "$work/tsv.db" "$work/marc.db"
  seconds "$loader" --no-progress --sqlite "$work/tsv.db" "$tsv" | tee -a "$work/tsv.times" |
    sed "s/^/round $round tsv load: /"
  seconds "$loader" --no-progress --sqlite "$work/marc.db" "$work/all.mrc" |
    tee -a "$work/marc.times" | sed "s/^/round $round marc load: /"
done
sed 's/^/last run: /' "$work/last.out"
rm -f "$work/tsv.db"
echo "median tsv load: $(median <"$work/tsv.times") s; median marc load: $(median <"$work/marc.times") s"

# The night: every 125th book changed, 1,000 new books, 1,000 others removed by key.
# The change load and the index refresh after it are timed apart (--no-index, then
# catalog_index refresh), and together.
cp "$work/base.db" "$work/night.db"
sqlite3 "$work/night.db" <"$(dirname "$0")/night_changes.sql"
sqlite3 "$work/base.db" "SELECT MS_BOOKID FROM BOOKMAST WHERE rowid % 1000 = 501" >"$work/removed.txt"
"$build_dir/catalog_export" --sqlite "$work/night.db" --format iso2709 --output "$work/night.mrc"
: >"$work/changes.times"
: >"$work/refresh.times"
for round in $(seq "$rounds"); do
  cp "$work/marc.db" "$work/changed.db"
  seconds "$loader" --no-progress --no-index --changes --sqlite "$work/changed.db" \
    "$work/night.mrc" --delete "$work/removed.txt" | tee -a "$work/changes.times" |
    sed "s/^/round $round night of changes, one transaction: /"
  cp "$work/last.out" "$work/changes.out"
  seconds "$build_dir/catalog_index" refresh "$work/changed.db" | tee -a "$work/refresh.times" |
    sed "s/^/round $round index refresh after it: /"
done
sed 's/^/last run: /' "$work/changes.out" "$work/last.out"
echo "median night of changes: $(median <"$work/changes.times") s; index refresh after it: $(median <"$work/refresh.times") s"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
