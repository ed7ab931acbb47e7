#!/usr/bin/env bash
# `make demo`: installs what is missing, builds what the demo serves (the program, its
# settings library, the catalogue loader and the index tool), creates a fresh example installation with
# the sample catalogue outside the source tree, and serves it with lighttpd on
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

# True when something already answers on the port.
port_taken() { (exec 3<> "/dev/tcp/127.0.0.1/$1") 2> /dev/null; }
port_busy_message() {
  echo "demo: port $port is taken by another program; choose another one, for example" >&2
  echo "      LIRAWEB_DEMO_PORT=$((port + 1)) make demo" >&2
}
if port_taken "$port"; then
  port_busy_message
  exit 1
fi

tools/install-deps.sh demo
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build_dir" --target liraweb kvconf catalog_loader catalog_index
tools/site-install.sh --build "$build_dir" --prefix "$demo_dir" --port "$port"

lighttpd=$(command -v lighttpd || echo /usr/sbin/lighttpd)
"$lighttpd" -D -f "$demo_dir/lighttpd.conf" &
server=$!
trap 'kill "$server" 2> /dev/null; wait "$server" 2> /dev/null; exit 0' INT TERM

# Say where the demo is served only once lighttpd answers there; if it stops instead
# (the port was taken meanwhile, a bad setting), show why from its own log.
for _ in $(seq 100); do
  kill -0 "$server" 2> /dev/null || break
  port_taken "$port" && break
  sleep 0.1
done
if ! kill -0 "$server" 2> /dev/null; then
  wait "$server" 2> /dev/null || true
  echo "demo: lighttpd stopped without serving the demo; its log says:" >&2
  tail -n 5 "$demo_dir/log/lighttpd-error.log" >&2 2> /dev/null || true
  port_taken "$port" && port_busy_message
  exit 1
fi

cat <<MSG

  The example library is served at  http://127.0.0.1:$port/
  Try a title word such as 猫 or こころ, an author such as 夏目 (or its reading なつめ),
  or a publisher such as 岩波. A book's page is its permalink, for example
  http://127.0.0.1:$port/cgi-bin/liraweb/data?ID=100003
  Installation: $demo_dir   (log/, cgi-bin/Error.txt)
  Press Ctrl-C to stop.

MSG
wait "$server"
