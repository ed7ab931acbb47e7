#!/usr/bin/env bash
# Installs playwright-core and axe-core from npm into DIR/node_modules (a folder of the
# build tree, never the source tree), once. Exits 77 (skipped) without node, npm or
# Chromium.
set -euo pipefail
dir=$1
# 1.61.1 is the last release whose engines allow Node.js 18, Debian 12's own; it
# drives Debian 12's Chromium.
version=${PLAYWRIGHT_CORE_VERSION:-1.61.1}
axe_version=${AXE_CORE_VERSION:-4.14.1}
for tool in node npm; do
  command -v "$tool" > /dev/null || { echo "$tool is not installed; skipping"; exit 77; }
done
[ -x "${CHROMIUM:-/usr/bin/chromium}" ] || { echo "chromium is not installed; skipping"; exit 77; }
installed() { grep -qs "\"version\": \"$2\"" "$dir/node_modules/$1/package.json"; }
if installed playwright-core "$version" && installed axe-core "$axe_version"; then
  exit 0
fi
mkdir -p "$dir"
# One install for both: a later --no-save install would prune the package of an earlier one.
npm install --prefix "$dir" --no-audit --no-fund --no-save --silent \
  "playwright-core@$version" "axe-core@$axe_version"
