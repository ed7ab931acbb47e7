#!/usr/bin/env bash
# Installs what building, testing, fuzzing and the demo need on Debian 12, skipping
# what is already there. Usage: tools/install-deps.sh [build|check|demo|fuzz|bench]
set -euo pipefail

build_packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev libfcgi-dev
                libsqlite3-dev libpq-dev sqlite3
                libyaz-dev)  # MARC 21 files for the catalogue tools; CQL for the SRU plug-in
server_packages=(lighttpd postgresql pgbouncer)
# A second compiler, the browser tests, curl for the end-to-end requests, yaz (an SRU
# client, and yaz-marcdump, which reads the MARC files and downloads the tests write) and
# xmllint (libxml2-utils) for the feed and SRU checks.
check_packages=(clang chromium fonts-ipafont-gothic curl yaz libxml2-utils)

case "${1:-check}" in
  build) wanted=("${build_packages[@]}") ;;
  demo)  wanted=("${build_packages[@]}" "${server_packages[@]}") ;;
  check) wanted=("${build_packages[@]}" "${server_packages[@]}" "${check_packages[@]}") ;;
  fuzz)  wanted=("${build_packages[@]}" clang libclang-rt-14-dev) ;;
  bench) wanted=("${build_packages[@]}" "${server_packages[@]}" wrk curl) ;;  # bench/load_test.sh
  *) echo "usage: $0 [build|check|demo|fuzz|bench]" >&2; exit 2 ;;
esac

# Node.js may come from elsewhere than Debian (with its own npm, which Debian's npm
# package conflicts with): a working node and npm are enough.
if [ "${1:-check}" = check ] && ! { command -v node && command -v npm; } >/dev/null; then
  wanted+=(nodejs npm)
fi

missing=()
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done

if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
