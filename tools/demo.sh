#!/usr/bin/env bash
# `make demo`: installs what is missing, builds, creates a fresh example installation
# with the sample catalogue outside the source tree, and serves it with lighttpd on
# http://127.0.0.1:8080/ until Ctrl-C.
#
# Environment: BUILD_DIR (default build), LIRAWEB_DEMO_DIR (default /tmp/liraweb-demo),
# LIRAWEB_DEMO_PORT (default 8080).
set -euo pipefail

source_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$source_root"
build_dir=${BUILD_DIR:-build}
demo_dir=${LIRAWEB_DEMO_DIR:-/tmp/liraweb-demo}
port=${LIRAWEB_DEMO_PORT:-8080}

tools/install-deps.sh demo
make build BUILD_DIR="$build_dir"
tools/site-install.sh --build "$build_dir" --prefix "$demo_dir" --port "$port"

lighttpd=$(command -v lighttpd || echo /usr/sbin/lighttpd)
cat <<MSG

  The example library is served at  http://127.0.0.1:$port/
  Try a title word such as 猫 or こころ, an author such as 夏目 (or its reading なつめ),
  or a publisher such as 岩波.
  Installation: $demo_dir   (log/, cgi-bin/Error.txt)
  Press Ctrl-C to stop.

MSG
exec "$lighttpd" -D -f "$demo_dir/lighttpd.conf"
