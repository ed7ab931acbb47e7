# How an end-to-end script sends a request to an installed program, sourced by it. With
# LIRAWEB_MODE=fastcgi the program answers as FastCGI: four processes of it on one socket
# in its own folder (build/fastcgi_request --serve), started at the folder's first request
# and kept to the end, so that each request finds what the ones before kept (the database
# connection). They are no children of the script (its `wait` does not wait for them):
# `stop_fastcgi_sites WORK_FOLDER` ends every one below that folder and belongs in the
# script's EXIT trap. Otherwise each request is a CGI process. Needs build_dir.

# run_liraweb CGI_BIN SECONDS INPUT OUT ERR NAME=VALUE...: one request to CGI_BIN/liraweb
# with exactly those variables and INPUT as its body, its answer in OUT, within SECONDS.
run_liraweb() {
  local folder=$1 seconds=$2 input=$3 out=$4 err=$5
  shift 5
  if [ "${LIRAWEB_MODE:-cgi}" != fastcgi ]; then
    (cd "$folder" && env -i "$@" timeout "$seconds" ./liraweb < "$input" > "$out" 2> "$err")
    return
  fi
  local socket=$folder/fastcgi.socket
  if [ ! -S "$socket" ]; then
    (cd "$folder" && {
      env -i "$build_dir/fastcgi_request" --serve "$socket" ./liraweb 4 > fastcgi.log 2>&1 < /dev/null &
      echo $! > fastcgi.pid
    })
    for _ in $(seq 100); do [ -S "$socket" ] && break; sleep 0.05; done
  fi
  timeout "$seconds" "$build_dir/fastcgi_request" "$socket" "$@" < "$input" > "$out" 2> "$err"
}

stop_fastcgi_sites() {
  local file pid
  while IFS= read -r file; do
    pid=$(cat "$file")
    kill "$pid" 2> /dev/null || continue
    for _ in $(seq 40); do kill -0 "$pid" 2> /dev/null || break; sleep 0.05; done
  done < <(find "$1" -name fastcgi.pid 2> /dev/null)
}
