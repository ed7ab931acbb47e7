# Sourced by the scripts that start private PostgreSQL services for the tests (the
# server, the pooler): each keeps its working folder's name in a state folder ($state)
# and defines stop_in FOLDER, which stops its service running there.

# Runs a command as the postgres user when run as root (the server refuses root).
as_postgres() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

# Stops the service the state folder names, if any, and removes its folders.
stop_service() {
  [ -f "$state/workdir" ] || return 0
  local old
  old=$(cat "$state/workdir")
  stop_in "$old"
  rm -rf "$old" "$state"
}

# A fresh working folder /tmp/PREFIX.XXXXXX ($work), named in the state folder. A
# service started earlier with the same state folder (a run that was cut short, or a
# start repeated by ctest --repeat) is stopped first rather than left running.
new_workdir() {
  stop_service
  mkdir -p "$state"
  work=$(mktemp -d "/tmp/$1.XXXXXX")
  echo "$work" > "$state/workdir"
  [ "$(id -u)" -ne 0 ] || chown postgres: "$work"
  # The socket's folder must be reachable by whoever runs the tests and the web server.
  chmod 755 "$work"
}
