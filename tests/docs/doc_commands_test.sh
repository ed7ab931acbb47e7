#!/usr/bin/env bash
# Runs the shell blocks (```sh) of the operator documents as an operator would, so that
# the commands they show keep working: README.md, docs/DEPLOY.md, docs/CATALOGUE.md and
# docs/SEARCH_INDEX.md. A block that cannot run on one machine (it needs a PostgreSQL
# server elsewhere, serves until stopped, or takes minutes) has the line
#   <!-- not run: REASON -->
# right before it. The blocks of one document run in order in one shell (set -e), in a
# folder of their own that holds `build` (the build folder), `site` and `tools` (of the
# source tree) and `books.tsv` (the sample catalogue); the installation folder
# /srv/liraweb they name is a folder inside it.
#
# Usage: doc_commands_test.sh BUILD_DIR. Exit 77 (skipped) when not run as root: the
# documents set up an installation as root.
set -uo pipefail

build_dir=$(cd "$1" && pwd)
source_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
if [ "$(id -u)" != 0 ]; then
  echo "the documented set-up runs as root; skipping"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/liraweb-docs.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Started as root, lighttpd and the program run as www-data, which must reach the folder.
chmod 755 "$work"

# The shell blocks of a document, each ended by a line holding the byte 0x1E;
# blocks marked "not run" are left out, with a "skipped: REASON" line on stderr.
blocks() {
  awk '
    /^<!-- not run:/ { skip = $0; next }
    /^```(sh|bash)[[:space:]]*$/ { inblock = 1; if (skip != "") { print "skipped: " skip > "/dev/stderr" } next }
    /^```/ { if (inblock) { if (skip == "") printf "\036\n"; inblock = 0; skip = "" } ; next }
    inblock && skip == "" { print; next }
    !inblock && NF > 0 { skip = "" }
  ' "$1"
}

failures=0
ran=0
for doc in README.md docs/DEPLOY.md docs/CATALOGUE.md docs/SEARCH_INDEX.md; do
  folder="$work/$(basename "$doc" .md)"
  mkdir -p "$folder/srv"
  ln -s "$build_dir" "$folder/build"
  ln -s "$source_root/site" "$folder/site"
  ln -s "$source_root/tools" "$folder/tools"
  cp "$source_root/site/catalogue/books.tsv" "$folder/books.tsv"
  script="$folder/commands.sh"
  {
    echo 'set -euo pipefail'
    blocks "$source_root/$doc" | sed "s|/srv/liraweb|$folder/srv/liraweb|g" |
      awk '/^\036$/ { print "echo \"---- block " ++n " done\""; next } { print }'
  } > "$script"
  count=$(grep -c '^echo "---- block' "$script")
  ran=$((ran + count))
  echo "== $doc: $count block(s)"
  if ! (cd "$folder" && bash "$script") > "$folder/output" 2>&1; then
    echo "FAIL: $doc: a command of its shell blocks failed; the output:"
    tail -n 20 "$folder/output"
    failures=$((failures + 1))
  fi
done
echo "$ran blocks run, $failures document(s) failed"
[ "$failures" -eq 0 ] && [ "$ran" -gt 0 ]
