#!/usr/bin/env bash
# Known-item searches: can a patron who knows a book find it on the first result page?
# A realistic generated catalogue (catalog_generator --realistic, seed 1) on the example
# site (MATCH=LOOSE, WORDS=AND, with its loose search index). A few hundred books, evenly
# spread over the catalogue, are each searched in the any-field box as a patron would
# type them, in turn: the whole title; the title with its first word left out, with the
# author's family name; the title's reading in hiragana instead of kanji; the title
# and the author's name. Each search is run in registration order (no ORDER) and
# best match first (ORDER=RELEVANCE); the report gives recall at 20 (the book on the
# first page) and the mean reciprocal rank within the first 20 (1/rank, 0 when not there).
# --baseline DIR also runs best match first with the program of another build folder (an
# older ranking) on the same catalogue. --pick N draws the books at random with seed N
# instead of evenly, so that rankings tuned on one draw can be judged on another.
# --ranks FILE writes each search with the wanted book's rank in each order.
#
# Usage: bench/known_item_bench.sh [--build DIR] [--work DIR] [--searches N]
#          [--baseline DIR] [--pick N] [--ranks FILE] BOOKS
set -euo pipefail
source_root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$source_root/build
runs=1
work=""
books=100000
searches=300
baseline=""
pick=0
ranks=/dev/null
while (($#)); do
  case "$1" in
    --build) build_dir=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --searches) searches=$2; shift 2 ;;
    --baseline) baseline=$(cd "$2" && pwd); shift 2 ;;
    --pick) pick=$2; shift 2 ;;
    --ranks) ranks=$2; shift 2 ;;
    *) books=$1; shift ;;
  esac
done
source "$source_root/bench/bench_setup.sh"
report_header "Known-item benchmark: $searches searches in a realistic catalogue of $books books"

catalogue=$work/realistic.db
if [ ! -f "$catalogue" ]; then
  "$build_dir/catalog_generator" --count "$books" --seed 1 --realistic --output "$catalogue.tsv"
  "$build_dir/catalog_loader" --no-progress --no-index --sqlite "$catalogue" "$catalogue.tsv" > /dev/null
  "$build_dir/catalog_index" build --no-progress --match loose "$catalogue" > /dev/null
fi
[ -f "$catalogue.tsv" ] || { echo "the catalogue file $catalogue.tsv is missing" >&2; exit 1; }
install_bench_site "$work/site" "$catalogue" LOOSE
if [ -n "$baseline" ]; then
  build_dir=$baseline install_bench_site "$work/baseline-site" "$catalogue" LOOSE
fi

python3 - "$catalogue.tsv" "$work/site/cgi-bin" "$searches" "${baseline:+$work/baseline-site/cgi-bin}" \
  "$pick" "$ranks" <<'PY'
import random, re, subprocess, sys, urllib.parse

tsv, cgi_bin, searches = sys.argv[1], sys.argv[2], int(sys.argv[3])
baseline_bin, pick, ranks_file = sys.argv[4], int(sys.argv[5]), sys.argv[6]
rows = [line.rstrip("\n").split("\t") for line in open(tsv, encoding="utf-8")
        if not line.startswith("#")][1:]

def hiragana(text):
    return "".join(chr(ord(c) - 0x60) if "\u30a1" <= c <= "\u30f6" else c for c in text)

def query(book, kind):
    title, reading, author, author_kana = book[1], book[2], book[3], book[4]
    family = author[:-2]  # the given names are two kanji
    if kind == 0:
        return title
    if kind == 1:
        parts = re.split("[のとに―]", title, maxsplit=1)
        rest = parts[1] if len(parts) > 1 else parts[0]
        return rest + " " + family
    if kind == 2:
        return hiragana(reading)
    return title + " " + author

def ranked_ids(text, order, cgi_bin):
    fields = {"PAGENUM": "0", "ANY": text}
    if order:
        fields["ORDER"] = order
    encoded = urllib.parse.urlencode(fields, encoding="cp932")
    out = subprocess.run(["./liraweb"], cwd=cgi_bin, capture_output=True, check=True,
                         env={"SERVER_PROTOCOL": "HTTP/1.1", "REQUEST_METHOD": "GET",
                              "HTTP_HOST": "127.0.0.1", "SCRIPT_NAME": "/cgi-bin/liraweb",
                              "PATH_INFO": "/list", "QUERY_STRING": encoded}).stdout
    return re.findall(rb"data\?ID=([0-9]+)&", out)

kinds = ["whole title", "a word left out, with the family name", "reading in hiragana",
         "title and author"]
step = max(1, len(rows) // searches)
picked = (range(0, step * searches, step) if pick == 0
          else sorted(random.Random(pick).sample(range(len(rows)), searches)))
orders = [("registration", "", cgi_bin), ("RELEVANCE", "RELEVANCE", cgi_bin)]
if baseline_bin:
    orders.insert(1, ("RELEVANCE, baseline", "RELEVANCE", baseline_bin))
results = {}
with open(ranks_file, "w", encoding="utf-8") as log:
    for n, i in enumerate(picked):
        book, kind = rows[i], n % len(kinds)
        text = query(book, kind)
        found = []
        for label, order, program in orders:
            ids = ranked_ids(text, order, program)
            wanted = book[0].encode()
            rank = ids.index(wanted) + 1 if wanted in ids else 0
            results.setdefault((label, kind), []).append(rank)
            found.append(str(rank))
        print(kind, book[0], text, *found, sep="\t", file=log)

print()
print("| search | order | searches | recall@20 | MRR@20 |")
print("|---|---|---|---|---|")
for kind in range(len(kinds) + 1):
    for order, _, _ in orders:
        ranks = (sum((results[(order, k)] for k in range(len(kinds))), []) if kind == len(kinds)
                 else results[(order, kind)])
        recall = sum(1 for r in ranks if r) / len(ranks)
        mrr = sum(1 / r for r in ranks if r) / len(ranks)
        name = "all" if kind == len(kinds) else kinds[kind]
        print(f"| {name} | {order} | {len(ranks)} | {recall:.3f} | {mrr:.3f} |")
PY
