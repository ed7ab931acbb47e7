#!/usr/bin/env bash
# `make demo` as a newcomer runs it: from an empty build folder, into a folder of its
# own, on a free port. Waits until the demo serves, searches through it for the README's
# examples, stops it as Ctrl-C would and checks that nothing is left serving.
#
# Usage: tests/e2e/demo_test.sh   (run by `make check`; DEMO_TEST_MINUTES bounds the wait
# for the build, default 30)
set -uo pipefail

source_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/liraweb-demo-test.XXXXXX")
demo_pid=""
# Started as root, lighttpd serves as www-data, which must reach the demo folder.
chmod 755 "$work"

finish() {
  local status=$?
  if [ -n "$demo_pid" ] && kill -0 "$demo_pid" 2> /dev/null; then
    kill -TERM -- "-$demo_pid" 2> /dev/null
    wait "$demo_pid" 2> /dev/null
  fi
  [ "$status" -ne 0 ] && tail -n 30 "$work/demo.log" >&2
  rm -rf "$work"
  exit "$status"
}
trap finish EXIT
trap 'exit 130' INT TERM

fail() {
  echo "demo_test: $*" >&2
  exit 1
}
port_taken() { (exec 3<> "/dev/tcp/127.0.0.1/$1") 2> /dev/null; }
for _ in $(seq 20); do
  port=$((20000 + RANDOM % 40000))
  port_taken "$port" || break
done

# A process group of its own, so that stopping it reaches make, the script and lighttpd
# as a terminal's Ctrl-C reaches them all.
setsid env BUILD_DIR="$work/build" LIRAWEB_DEMO_DIR="$work/demo" LIRAWEB_DEMO_PORT="$port" \
  make -C "$source_root" demo > "$work/demo.log" 2>&1 < /dev/null &
demo_pid=$!

base="http://127.0.0.1:$port"
deadline=$((SECONDS + 60 * ${DEMO_TEST_MINUTES:-30}))
until grep -q "is served at" "$work/demo.log"; do
  kill -0 "$demo_pid" 2> /dev/null || fail "make demo ended before serving"
  ((SECONDS < deadline)) || fail "make demo did not serve within ${DEMO_TEST_MINUTES:-30} minutes"
  sleep 1
done

status=$(curl -s -o "$work/top" -w '%{http_code}' --max-time 10 "$base/")
[ "$status" = 302 ] || [ "$status" = 301 ] || fail "/ answered $status, not a redirect"

# The searches the README and the demo's greeting suggest, each in its field: every one
# finds books of the sample catalogue.
sjis() { printf '%s' "$1" | iconv -f UTF-8 -t CP932 | od -An -tx1 -v | tr -d ' \n' | sed 's/../%&/g'; }
while read -r field word; do
  curl -s -o "$work/list" --max-time 10 "$base/cgi-bin/liraweb/list?PAGENUM=0&$field=$(sjis "$word")"
  hits=$(iconv -f CP932 -t UTF-8 "$work/list" | sed -nE 's/.*<strong id="hit-count">([0-9]+)<.*/\1/p')
  [ "${hits:-0}" -gt 0 ] || fail "$field=$word found no book"
done <<'SEARCHES'
BOOKNAME 猫
BOOKNAME こころ
CHOSYA 夏目
CHOSYA なつめ
SYUPAN 岩波
SEARCHES

# The demo script stops its server when told and ends well, and make with it. make itself
# is not signalled: a signal that reaches make while its recipe is ending makes it fail
# with "wait: No child processes" at random.
pkill -TERM -g "$demo_pid" -f "^(/usr/bin/|/bin/)?bash tools/demo.sh" || fail "no demo script to stop"
wait "$demo_pid"
demo_status=$?
kill -TERM -- "-$demo_pid" 2> /dev/null || true  # anything the demo left in its group
demo_pid=""
[ "$demo_status" = 0 ] || fail "make demo ended with status $demo_status"
for _ in $(seq 50); do
  port_taken "$port" || break
  sleep 0.1
done
port_taken "$port" && fail "something still serves on port $port after the demo stopped"
[ -x "$work/build/liraweb" ] || fail "the demo did not build into its BUILD_DIR"
echo "demo_test: make demo built from an empty folder, served the searches and stopped"
