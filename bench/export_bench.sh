#!/usr/bin/env bash
# Feeds and SRU beside the HTML page of the same search: whole CGI requests on the example
# site (MATCH=LOOSE, WORDS=AND, with its loose search index) over a catalogue file, each
# search as /list, /list.atom, /list.rss, /list.json and /sru (the same conditions as CQL,
# the same 20 books as MARCXML), run in turn, alternating, so that the machine's load
# falls on all alike. Also the top page, which must not pay for the SRU path's plug-in.
# With --fastcgi the same requests go to one FastCGI process of the program (started on
# a Unix socket, answered through a small FastCGI client) instead of a CGI run each.
# With --baseline DIR a second installation runs the build in DIR over the same file,
# each request alternating between the two. Each figure is the median wall time in ms
# and, after the slash, the median CPU time of the program (the CGI process's user and
# system time; the FastCGI process's run time over the request).
#
# Usage: bench/export_bench.sh [--build DIR] [--baseline DIR] [--work DIR] [--runs N]
#                              [--fastcgi] CATALOGUE.sqlite
# The catalogue gets a loose search index when it has none (the file is changed).
set -euo pipefail
source_root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$source_root/build
baseline=""
runs=15
work=""
catalogue=""
mode=cgi
while (($#)); do
  case "$1" in
    --build) build_dir=$2; shift 2 ;;
    --baseline) baseline=$(cd "$2" && pwd); shift 2 ;;
    --work) work=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --fastcgi) mode=fastcgi; shift ;;
    *) catalogue=$(cd "$(dirname "$1")" && pwd)/$(basename "$1"); shift ;;
  esac
done
[ -f "$catalogue" ] || { echo "usage: $0 [--build DIR] [--baseline DIR] [--work DIR] [--runs N] [--fastcgi] CATALOGUE.sqlite" >&2; exit 2; }
source "$source_root/bench/bench_setup.sh"
report_header "Feeds and SRU beside the HTML page of the same search ($(basename "$catalogue"))"

if ! sqlite3 "$catalogue" "SELECT 1 FROM liraidx_meta LIMIT 1" > /dev/null 2>&1; then
  "$build_dir/catalog_index" build --no-progress --match loose "$catalogue" > /dev/null
fi
install_bench_site "$work/site" "$catalogue" LOOSE
sites=("new=$work/site/cgi-bin")
if [ -n "$baseline" ]; then
  build_dir=$baseline install_bench_site "$work/base" "$catalogue" LOOSE
  sites=("before=$work/base/cgi-bin" "${sites[@]}")
fi

python3 - "$runs" "$mode" "${sites[@]}" <<'PY'
import os, socket, statistics, struct, subprocess, sys, tempfile, time, urllib.parse

runs, mode = int(sys.argv[1]), sys.argv[2]
sites = [tuple(site.split("=", 1)) for site in sys.argv[3:]]  # (name, cgi-bin folder)

def sjis(text):
    return urllib.parse.quote(text.encode("cp932"))

def utf8(text):
    return urllib.parse.quote(text.encode("utf-8"))

servers = {}  # site name -> (FastCGI process, socket path)
if mode == "fastcgi":
    for name, cgi_bin in sites:
        socket_path = os.path.join(tempfile.mkdtemp(), "liraweb.sock")
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        listener.bind(socket_path)
        listener.listen(16)
        servers[name] = (subprocess.Popen(["./liraweb"], cwd=cgi_bin, stdin=listener.fileno(),
                                          env={"PATH": os.environ["PATH"]}), socket_path)
        listener.close()

def record(kind, content):
    return struct.pack(">BBHHBx", 1, kind, 1, len(content), 0) + content

def fastcgi(env, socket_path):
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

def run_time_ns(pid):
    # Time on a CPU of every thread of the process, in ns (the scheduler's own count).
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/schedstat" % (pid, task)) as stat:
            total += int(stat.read().split()[0])
    return total

def run(site, path, query):
    """One request: (wall ms, CPU ms of the program)."""
    name, cgi_bin = site
    env = {"GATEWAY_INTERFACE": "CGI/1.1", "SERVER_PROTOCOL": "HTTP/1.1", "REQUEST_METHOD": "GET",
           "HTTP_HOST": "127.0.0.1", "SCRIPT_NAME": "/cgi-bin/liraweb", "PATH_INFO": path,
           "QUERY_STRING": query, "PATH": os.environ["PATH"]}
    if servers:
        server, socket_path = servers[name]
        before = run_time_ns(server.pid)
        start = time.perf_counter()
        out = fastcgi(env, socket_path)
        elapsed = (time.perf_counter() - start) * 1000
        cpu = (run_time_ns(server.pid) - before) / 1e6
    else:
        start = time.perf_counter()
        child = subprocess.Popen(["./liraweb"], cwd=cgi_bin, env=env, stdout=subprocess.PIPE)
        out = child.stdout.read()
        _, status, usage = os.wait4(child.pid, 0)
        elapsed = (time.perf_counter() - start) * 1000
        child.returncode = os.waitstatus_to_exitcode(status)
        child.stdout.close()
        cpu = (usage.ru_utime + usage.ru_stime) * 1000
    assert out.startswith(b"Status: 200"), (name, path, query, out[:200])
    return elapsed, cpu

def median(samples):
    return "%.1f / %.1f" % (statistics.median(s[0] for s in samples),
                            statistics.median(s[1] for s in samples))

# (name, list fields, CQL query)
searches = [
    ("title 夜旅", "BOOKNAME=" + sjis("夜旅"), "dc.title=" + utf8("夜旅")),
    ("any 東京", "ANY=" + sjis("東京"), "cql.serverChoice=" + utf8("東京")),
    ("author 山田 and title 日本", "CHOSYA=" + sjis("山田") + "&BOOKNAME=" + sjis("日本"),
     utf8("dc.creator=山田 and dc.title=日本")),
]
print()
print("| Search | build | /list | /list.atom | /list.rss | /list.json | /sru (MARCXML) |")
print("|---|---|---|---|---|---|---|")
for name, fields, cql in searches:
    kinds = [("/list", "PAGENUM=0&" + fields), ("/list.atom", "PAGENUM=0&" + fields),
             ("/list.rss", "PAGENUM=0&" + fields), ("/list.json", "PAGENUM=0&" + fields),
             ("/sru", "version=1.2&operation=searchRetrieve&maximumRecords=20&query=" + cql)]
    for site in sites:
        for path, query in kinds:
            run(site, path, query)  # warm the file cache
    times = {(site, path): [] for site in sites for path, _ in kinds}
    for _ in range(runs):
        for path, query in kinds:
            for site in sites:
                times[(site, path)].append(run(site, path, query))
    for site in sites:
        print("| %s | %s | %s |" % (name, site[0],
                                    " | ".join(median(times[(site, p)]) for p, _ in kinds)))
print()
top = {site: [] for site in sites}
for _ in range(runs):
    for site in sites:
        top[site].append(run(site, "/", ""))
for site in sites:
    linked = subprocess.run(["ldd", os.path.join(site[1], "liraweb")], capture_output=True).stdout
    print("Top page, %s: %s ms over %d runs; libraries the program loads: %s" % (
        site[0], median(top[site]), runs, "no YAZ" if b"yaz" not in linked else "YAZ"))
for server, _ in servers.values():
    server.terminate()
    server.wait()
PY
