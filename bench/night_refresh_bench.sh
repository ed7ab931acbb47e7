#!/usr/bin/env bash
# A night's changes into an indexed catalogue, two builds side by side: 8,000 changed
# books (every 125th, title changed), 1,000 new ones and 1,000 keys removed, as one
# ISO 2709 file and a list of keys. Each round copies the catalogue for each build, runs
# the change load (--no-index) and then `catalog_index refresh`, alternating the builds.
# The new build's copy carries an index of its own build (same columns and orders).
# Ends with `catalog_index check` of the new build's last result.
#
# Usage: bench/night_refresh_bench.sh INDEXED.db BASE_BUILD NEW_BUILD WORK_DIR [ROUNDS]
set -euo pipefail
indexed=$1
base=$2
new=$3
work=$4
rounds=${5:-3}
mkdir -p "$work"
seconds() { local start=$(date +%s.%N); "$@" >"$work/last.out"; echo "$(date +%s.%N) - $start" | bc; }
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
orders=$(sqlite3 "$indexed" "SELECT value FROM liraidx_meta WHERE key = 'order_columns'")

cp --reflink=auto "$indexed" "$work/night.db"
sqlite3 "$work/night.db" <"$(dirname "$0")/night_changes.sql"
sqlite3 "$indexed" "SELECT MS_BOOKID FROM BOOKMAST WHERE rowid % 1000 = 501" >"$work/removed.txt"
"$new/catalog_export" --sqlite "$work/night.db" --format iso2709 --output "$work/night.mrc"
rm -f "$work/night.db"
cp --reflink=auto "$indexed" "$work/new.db"
"$new/catalog_index" build --order-columns "$orders" "$work/new.db" >/dev/null
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
for side in base new; do : >"$work/$side.load" ; : >"$work/$side.refresh"; done
for round in $(seq "$rounds"); do
  for side in base new; do
    build=$base source=$indexed
    [ "$side" = new ] && build=$new source=$work/new.db
    cp --reflink=auto "$source" "$work/changed.db"
    seconds "$build/catalog_loader" --no-progress --no-index --changes --sqlite \
      "$work/changed.db" "$work/night.mrc" --delete "$work/removed.txt" |
      tee -a "$work/$side.load" | sed "s/^/round $round $side change load: /"
    seconds "$build/catalog_index" refresh "$work/changed.db" | tee -a "$work/$side.refresh" |
      sed "s/^/round $round $side refresh: /"
    sed "s/^/  /" "$work/last.out"
  done
done
for side in base new; do
  echo "median $side: change load $(median <"$work/$side.load") s, refresh $(median <"$work/$side.refresh") s"
done
"$new/catalog_index" check "$work/changed.db" | tail -2
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
rm -f "$work/changed.db" "$work/new.db"
