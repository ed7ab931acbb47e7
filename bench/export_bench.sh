#!/usr/bin/env bash
# Feeds and SRU beside the HTML page of the same search: whole CGI requests on the example
# site (MATCH=LOOSE, WORDS=AND, with its loose search index) over a catalogue file, each
# search as /list, /list.atom, /list.rss, /list.json and /sru (the same conditions as CQL,
# the same 20 books as MARCXML), run in turn, alternating, so that the machine's load
# falls on all alike. Also the top page, which must not pay for the SRU path's plug-in.
# With --fastcgi the same requests go to one FastCGI process of the program (started on
# a Unix socket, answered through a small FastCGI client) instead of a CGI run each.
#
# Usage: bench/export_bench.sh [--build DIR] [--work DIR] [--runs N] [--fastcgi] CATALOGUE.sqlite
# The catalogue gets a loose search index when it has none (the file is changed).
set -euo pipefail
source_root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$source_root/build
runs=15
work=""
catalogue=""
mode=cgi
while (($#)); do
  case "$1" in
    --build) build_dir=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --fastcgi) mode=fastcgi; shift ;;
    *) catalogue=$(cd "$(dirname "$1")" && pwd)/$(basename "$1"); shift ;;
  esac
done
[ -f "$catalogue" ] || { echo "usage: $0 [--build DIR] [--work DIR] [--runs N] CATALOGUE.sqlite" >&2; exit 2; }
source "$source_root/bench/bench_setup.sh"
report_header "Feeds and SRU beside the HTML page of the same search ($(basename "$catalogue"))"

if ! sqlite3 "$catalogue" "SELECT 1 FROM liraidx_meta LIMIT 1" > /dev/null 2>&1; then
  "$build_dir/catalog_index" build --no-progress --match loose "$catalogue" > /dev/null
fi
install_bench_site "$work/site" "$catalogue" LOOSE

python3 - "$work/site/cgi-bin" "$runs" "$mode" <<'PY'
import os, socket, statistics, struct, subprocess, sys, tempfile, time, urllib.parse

cgi_bin, runs, mode = sys.argv[1], int(sys.argv[2]), sys.argv[3]

def sjis(text):
    return urllib.parse.quote(text.encode("cp932"))

def utf8(text):
    return urllib.parse.quote(text.encode("utf-8"))

server = None
if mode == "fastcgi":
    socket_path = os.path.join(tempfile.mkdtemp(), "liraweb.sock")
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(socket_path)
    listener.listen(16)
    server = subprocess.Popen(["./liraweb"], cwd=cgi_bin, stdin=listener.fileno(),
                              env={"PATH": os.environ["PATH"]})
    listener.close()

def record(kind, content):
    return struct.pack(">BBHHBx", 1, kind, 1, len(content), 0) + content

def fastcgi(env):
    params = b""
    for name, value in env.items():
        name, value = name.encode(), value.encode("latin-1")
        params += bytes([len(name)]) + (bytes([len(value)]) if len(value) < 128 else
                                        struct.pack(">I", len(value) | 0x80000000)) + name + value
    connection = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    connection.connect(socket_path)
    connection.sendall(record(1, struct.pack(">HB5x", 1, 0)) + record(4, params) + record(4, b"") +
                       record(5, b""))
    data, out = b"", b""
    while True:
        chunk = connection.recv(65536)
        if not chunk:
            break
        data += chunk
    connection.close()
    while len(data) >= 8:
        _, kind, _, length, padding = struct.unpack(">BBHHB", data[:7])
        if kind == 6:
            out += data[8:8 + length]
        data = data[8 + length + padding:]
    return out

def run(path, query):
    env = {"GATEWAY_INTERFACE": "CGI/1.1", "SERVER_PROTOCOL": "HTTP/1.1", "REQUEST_METHOD": "GET",
           "HTTP_HOST": "127.0.0.1", "SCRIPT_NAME": "/cgi-bin/liraweb", "PATH_INFO": path,
           "QUERY_STRING": query, "PATH": os.environ["PATH"]}
    start = time.perf_counter()
    if server:
        out = fastcgi(env)
    else:
        out = subprocess.run(["./liraweb"], cwd=cgi_bin, env=env, capture_output=True).stdout
    elapsed = (time.perf_counter() - start) * 1000
    assert out.startswith(b"Status: 200"), (path, query, out[:200])
    return elapsed

# (name, list fields, CQL query)
searches = [
    ("title 夜旅", "BOOKNAME=" + sjis("夜旅"), "dc.title=" + utf8("夜旅")),
    ("any 東京", "ANY=" + sjis("東京"), "cql.serverChoice=" + utf8("東京")),
    ("author 山田 and title 日本", "CHOSYA=" + sjis("山田") + "&BOOKNAME=" + sjis("日本"),
     utf8("dc.creator=山田 and dc.title=日本")),
]
print()
print("| Search | /list | /list.atom | /list.rss | /list.json | /sru (MARCXML) |")
print("|---|---|---|---|---|---|")
for name, fields, cql in searches:
    kinds = [("/list", "PAGENUM=0&" + fields), ("/list.atom", "PAGENUM=0&" + fields),
             ("/list.rss", "PAGENUM=0&" + fields), ("/list.json", "PAGENUM=0&" + fields),
             ("/sru", "version=1.2&operation=searchRetrieve&maximumRecords=20&query=" + cql)]
    for path, query in kinds:
        run(path, query)  # warm the file cache
    times = {path: [] for path, _ in kinds}
    for _ in range(runs):
        for path, query in kinds:
            times[path].append(run(path, query))
    print("| " + name + " | " + " | ".join("%.1f" % statistics.median(times[p]) for p, _ in kinds) + " |")
top = [run("/", "") for _ in range(runs)]
print()
print("Top page: median %.1f ms over %d runs; libraries the program loads: %s" % (
    statistics.median(top), runs,
    "no YAZ" if b"yaz" not in subprocess.run(["ldd", os.path.join(cgi_bin, "liraweb")], capture_output=True).stdout else "YAZ"))
if server:
    server.terminate()
    server.wait()
PY
