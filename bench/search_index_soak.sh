#!/usr/bin/env bash
# Soak of the SQLite search index: many random searches while another connection makes
# every kind of outside write (UPDATE OR REPLACE, INSERT OR REPLACE, upserts, rowid
# moves, deletes) and refreshes the index, half of the writes landing before a random
# statement of a search; every answer is compared with a scan of a committed state.
# Prints, for FOLDED and LOOSE, the searches, writes, refreshes and differences found.
#
# Usage: bench/search_index_soak.sh [BUILD_DIR] [SEARCHES_PER_MODE] [SEED]
# (defaults: build, 50000, 0); another seed gives other catalogues, writes and searches.
# The short version runs in ctest with 150 searches a mode.
set -euo pipefail
build_dir=${1:-build}
LIRAWEB_SOAK_SEARCHES=${2:-50000} LIRAWEB_SOAK_SEED=${3:-0} exec "$build_dir/search_index_tests" \
  --gtest_filter='SearchIndexSoak.*'
