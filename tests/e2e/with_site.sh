#!/usr/bin/env bash
# Runs one end-to-end test against a fresh installation served by lighttpd.
#
# Usage: with_site.sh BUILD_DIR COMMAND [ARGS...]
# Creates an installation in a temporary folder with tools/site-install.sh (the same
# installer as `make demo`), starts lighttpd on a free loopback port, runs COMMAND
# with LIRAWEB_BASE (http://127.0.0.1:PORT), LIRAWEB_INSTALL (the folder) and
# LIRAWEB_BUILD (the build folder) in its environment, then stops lighttpd and removes the folder. Exits with COMMAND's
# status, or 77 (skipped) when lighttpd is not installed. LIRAWEB_CATALOGUE names
# another catalogue file to install (the load test's synthetic one), and
# LIRAWEB_SERVE_SECONDS how long lighttpd may run at most (default 300), LIRAWEB_MODE how
# lighttpd runs the program (cgi, the default here, or fastcgi), and LIRAWEB_FASTCGI_PROCS
# how many FastCGI processes it starts (the example set-up's max-procs otherwise).
set -euo pipefail

build_dir=$(cd "$1" && pwd)
shift
source_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

lighttpd=$(command -v lighttpd || echo /usr/sbin/lighttpd)
if [ ! -x "$lighttpd" ]; then
  echo "lighttpd is not installed (tools/install-deps.sh check installs it); skipping"
  exit 77
fi

install_dir=$(mktemp -d "${TMPDIR:-/tmp}/liraweb-e2e.XXXXXX")
server_pid=""

stop_server() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
  fi
}

finish() {
  local status=$?
  stop_server
  if [ "$status" -ne 0 ] && [ "$status" -ne 77 ]; then
    for log in "$install_dir/log/lighttpd-error.log" "$install_dir/cgi-bin/Error.txt"; do
      [ -f "$log" ] || continue
      echo "---- $log"
      iconv -f CP932 -t UTF-8 "$log" | tail -n 20 || true
    done
  fi
  rm -rf "$install_dir"
  exit "$status"
}
trap finish EXIT
trap 'exit 130' INT TERM

server_ready() {
  curl -s -o /dev/null --max-time 1 "http://127.0.0.1:$1/liraweb/liraweb.css"
}

# A port may be taken between choosing and binding it: try a few.
for attempt in 1 2 3 4 5 6 7 8; do
  port=$((20000 + RANDOM % 40000))
  "$source_root/tools/site-install.sh" --build "$build_dir" --prefix "$install_dir" \
    --port "$port" --mode "${LIRAWEB_MODE:-cgi}" \
    ${LIRAWEB_CATALOGUE:+--catalogue "$LIRAWEB_CATALOGUE"} > /dev/null
  [ -z "${LIRAWEB_FASTCGI_PROCS:-}" ] ||
    sed -i "s/\"max-procs\" *=> *[0-9]*/\"max-procs\"   => $LIRAWEB_FASTCGI_PROCS/" \
      "$install_dir/lighttpd/liraweb-fastcgi.conf"
  # The time limit ends lighttpd even if this script is killed before it can stop it.
  timeout --kill-after=5 "${LIRAWEB_SERVE_SECONDS:-300}" "$lighttpd" -D -f "$install_dir/lighttpd.conf" \
    > "$install_dir/log/lighttpd-stdout.log" 2>&1 < /dev/null &
  server_pid=$!
  for _ in $(seq 50); do
    server_ready "$port" && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  server_ready "$port" && break
  cat "$install_dir/log/lighttpd-stdout.log" >&2 || true
  stop_server
done
[ -n "$server_pid" ] || { echo "lighttpd did not start" >&2; exit 1; }

export LIRAWEB_BASE="http://127.0.0.1:$port"
export LIRAWEB_INSTALL="$install_dir"
export LIRAWEB_BUILD="$build_dir"
"$@"
