#!/usr/bin/env bash
# Creates a complete liraweb installation from the example site and a build folder:
# the program with its libraries and settings in cgi-bin/, the templates, the SQL
# files, the static files, a SQLite catalogue loaded from a catalogue file, and a
# lighttpd.conf that serves it all. Used by `make demo` and by the end-to-end tests.
#
# Usage: tools/site-install.sh --build DIR --prefix DIR [--port N] [--bind ADDR]
#                              [--catalogue FILE] [--no-index] [--user NAME]
#                              [--mode fastcgi|cgi]
#   --build      build folder holding liraweb and libkvconf.so (default: build)
#   --prefix     installation folder; recreated when it holds an earlier installation
#   --port       port lighttpd listens on (default 8080)
#   --bind       address lighttpd listens on (default 127.0.0.1)
#   --catalogue  tab-separated catalogue file (default: site/catalogue/books.tsv)
#   --no-index   leave the catalogue without its search index (searches read every book)
#   --user       the user lighttpd runs the program as when it is started as root
#                (default www-data); the installation's group is then that user's group,
#                and cgi-bin/ (Error.txt), log/ and run/ (the FastCGI sockets) are
#                writable for it
#   --mode       how lighttpd runs the program: fastcgi (default, one process answering
#                request after request) or cgi (a process for every request)
set -euo pipefail

source_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=build
prefix=""
port=8080
bind=127.0.0.1
catalogue="$source_root/site/catalogue/books.tsv"
marker=.liraweb-installation
index=1
user=www-data
mode=fastcgi

while (($#)); do
  case "$1" in
    --build) build_dir=$2; shift 2 ;;
    --prefix) prefix=$2; shift 2 ;;
    --port) port=$2; shift 2 ;;
    --bind) bind=$2; shift 2 ;;
    --catalogue) catalogue=$2; shift 2 ;;
    --no-index) index=0; shift ;;
    --user) user=$2; shift 2 ;;
    --mode) mode=$2; shift 2 ;;
    *) echo "site-install: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -n "$prefix" ] || { echo "site-install: --prefix is required" >&2; exit 2; }
case "$mode" in
  fastcgi|cgi) ;;
  *) echo "site-install: --mode is fastcgi or cgi, not $mode" >&2; exit 2 ;;
esac
build_dir=$(cd "$build_dir" && pwd)

for file in liraweb libkvconf.so catalog_loader catalog_index; do
  [ -x "$build_dir/$file" ] || [ -f "$build_dir/$file" ] ||
    { echo "site-install: $build_dir/$file is missing; build first (make build)" >&2; exit 1; }
done

# Recreate the folder, but never wipe a folder that is not an installation of ours.
if [ -e "$prefix" ]; then
  if [ -e "$prefix/$marker" ] || [ -z "$(ls -A "$prefix")" ]; then
    rm -rf "$prefix"
  else
    echo "site-install: $prefix exists and is not a liraweb installation; not touching it" >&2
    exit 1
  fi
fi
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)
touch "$prefix/$marker"
mkdir -p "$prefix"/{cgi-bin,templates,sql,data,htdocs,log,lighttpd,run}

# The program and what it loads at start sit side by side (RPATH $ORIGIN).
install -m 755 "$build_dir/liraweb" "$prefix/cgi-bin/liraweb"
install -m 644 "$build_dir/libkvconf.so" "$prefix/cgi-bin/"
for plugin in libdbengine_pg.so libliraweb_cql.so; do
  if [ -f "$build_dir/$plugin" ]; then install -m 644 "$build_dir/$plugin" "$prefix/cgi-bin/"; fi
done
install -m 644 "$source_root/site/liraweb.conf" "$source_root/site/dbengine.conf" "$prefix/cgi-bin/"

install -m 644 "$source_root"/site/templates/*.html "$source_root"/site/templates/*.xml "$prefix/templates/"
install -m 644 "$source_root/site/sql/Find.sql" "$source_root/site/sql/Prop.sql" "$prefix/sql/"
cp -R "$source_root/site/htdocs/." "$prefix/htdocs/"
install -m 644 "$source_root"/site/lighttpd/*.conf "$prefix/lighttpd/"

"$build_dir/catalog_loader" --no-progress --no-index \
  --sqlite "$prefix/data/catalog.db" "$catalogue" > /dev/null
# The search index lets searches read only the books that can match; after the
# library's own system writes the catalogue, `catalog_index refresh` folds the changes in.
# The index answers the matching mode of the catalogue's alias (MATCH=LOOSE needs one
# built for it).
if ((index)); then
  match=folded
  if LC_ALL=C grep -qi '^MATCH *= *LOOSE' "$prefix/cgi-bin/dbengine.conf"; then match=loose; fi
  # Beside the sort columns, the orders of the loan-kind columns let the facets count
  # "can be borrowed now" without reading the books.
  "$build_dir/catalog_index" build --no-progress --match "$match" \
    --order-columns MS_SYOKANA,MS_CHOKANA,MS_SEIKYU,MS_SYUNEN,MS_SYOZAI,MS_KKUBUN,MS_TMARK,MS_TFMSUU \
    "$prefix/data/catalog.db" > /dev/null
fi

# lighttpd started as root runs itself and every CGI process as this user; started as
# anyone else it stays that user and ignores the two lines.
id -u "$user" > /dev/null 2>&1 ||
  { echo "site-install: there is no user $user to run the program as (--user)" >&2; exit 1; }
group=$(id -gn "$user")
if [ "$(id -u)" = 0 ]; then
  chown -R "root:$group" "$prefix"
  chmod -R g+rX,o-rwx "$prefix"
  chmod g+w "$prefix/cgi-bin" "$prefix/log" "$prefix/run"
  # A folder above the installation that is closed to the user stops lighttpd later
  # with a bare "Permission denied"; say so now (the program run directly as root, as
  # some tests and benchmarks do, needs no such access).
  if command -v runuser > /dev/null && ! runuser -u "$user" -- test -w "$prefix/log"; then
    echo "site-install: warning: $user cannot reach $prefix, so lighttpd started as root" \
      "cannot serve it; open the folders above it to $user" >&2
  fi
fi

cat > "$prefix/lighttpd.conf" <<CONF
# Generated by tools/site-install.sh
var.install_root = "$prefix"
var.bind         = "$bind"
var.port         = $port
server.username  = "$user"
server.groupname = "$group"
include "$prefix/lighttpd/liraweb-site.conf"
include "$prefix/lighttpd/liraweb-$mode.conf"
CONF

echo "site-install: installation ready in $prefix"
