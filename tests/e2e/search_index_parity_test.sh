#!/usr/bin/env bash
# The example site answers every search the same, byte for byte, with and without the
# search index: two installations of the sample catalogue, one built with --no-index,
# the program run as a CGI process with searches of every field, wildcards, sorts and
# pages, the any-field box, the best-match order and the other fields' counts of a
# search that finds nothing, in the three matching modes (the index built anew for
# each: a folded one for FOLDED and EXACT, a loose one for LOOSE). Only the search time
# may differ.
# Usage: search_index_parity_test.sh BUILD_DIR
set -uo pipefail
build_dir=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
source_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d /tmp/liraweb-index-parity.XXXXXX)
trap 'rm -rf "$work"' EXIT

"$source_root/tools/site-install.sh" --build "$build_dir" --prefix "$work/scan" --no-index \
  > /dev/null || exit 1
"$source_root/tools/site-install.sh" --build "$build_dir" --prefix "$work/index" > /dev/null ||
  exit 1
# Any sort column, not only those the example form offers: the statement is compared.
sed -i '/^ORDER_COLUMNS=/d' "$work/scan/cgi-bin/liraweb.conf" "$work/index/cgi-bin/liraweb.conf"
"$build_dir/catalog_index" check "$work/index/data/catalog.db" > /dev/null ||
  { echo "the installed index does not check"; exit 1; }

# Shift_JIS words, percent-encoded: 猫 (title), なつめ (author reading), 岩波 (publisher),
# ｶﾞ (half-width), ＡＢ (full-width), 表 (trail byte 0x5C), a wildcard; の, ノ and a,
# held by many books, also on pages far from the first. For the loose mode: two words
# (夏目 漱石), a word without its middle dot (ハリーポッター), variant kanji (渡邊, 髙), ISBN
# forms.
words=(%94L %82%C8%82%C2%82%DF %8A%E2%94g %B6%DE %82%60%82%61 %95%5C %25 a_ %82%CC
       %8F%AC%90%E0 zzzz %83m a %89%C4%96%DA+%9F%F9%90%CE
       %83n%83%8A%81%5B%83%7C%83b%83%5E%81%5B %93n%E7%B2 %FB%FC 9784101010014 4101010014)
queries=()
for word in "${words[@]}"; do
  queries+=("PAGENUM=0&BOOKNAME=$word" "PAGENUM=0&CHOSYA=$word" "PAGENUM=0&SYUPAN=$word"
            "PAGENUM=0&KENMEI=$word" "PAGENUM=0&ISBN=$word"
            "PAGENUM=1&BOOKNAME=$word&ORDER=MS_SYOKANA&ORDERKIND=DESC"
            "PAGENUM=0&BOOKNAME=$word&ORDER=MS_SYUPAN&ORDERKIND=ASC"
            "PAGENUM=0&BOOKNAME=$word&ORDER=MS_BOOKID&ORDERKIND=DESC"
            "PAGENUM=0&BOOKNAME=$word&CHOSYA=%82%A0"
            "PAGENUM=2&BOOKNAME=$word" "PAGENUM=9&BOOKNAME=$word"
            "PAGENUM=3&BOOKNAME=$word&ORDER=MS_SYOMEI&ORDERKIND=DESC"
            "PAGENUM=0&ANY=$word" "PAGENUM=0&ANY=$word&ORDER=RELEVANCE"
            "PAGENUM=2&ANY=$word&ORDER=RELEVANCE" "PAGENUM=0&CHOSYA=$word&ORDER=RELEVANCE")
done

request() {  # SITE QUERY: the response with the search time ("0.012 秒") and with it the
             # length of the response cut out
  (cd "$1/cgi-bin" && env -i SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=GET HTTP_HOST=127.0.0.1 \
    SCRIPT_NAME=/cgi-bin/liraweb PATH_INFO=/list QUERY_STRING="$2" ./liraweb) |
    LC_ALL=C sed 's/[0-9][0-9.]* \x95b//; s/^Content-Length: .*//'
}

failures=0
for mode in FOLDED EXACT LOOSE; do
  for site in scan index; do
    sed -i "s/^MATCH=.*/MATCH=$mode/" "$work/$site/cgi-bin/dbengine.conf"
  done
  match=folded
  [ "$mode" = LOOSE ] && match=loose
  "$build_dir/catalog_index" build --no-progress --match "$match" "$work/index/data/catalog.db" \
    > /dev/null || { echo "building the $match index failed"; exit 1; }
  for query in "${queries[@]}"; do
    if ! cmp -s <(request "$work/scan" "$query") <(request "$work/index" "$query"); then
      echo "MATCH=$mode $query: the responses differ:"
      diff <(request "$work/scan" "$query") <(request "$work/index" "$query") | head -n 6
      failures=$((failures + 1))
    fi
  done
done
echo "$((3 * ${#queries[@]})) searches compared, $failures differ"
((failures == 0))
