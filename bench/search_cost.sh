#!/usr/bin/env bash
# Wall time of the costly searches of a SQLite installation under TIME_LIMIT=2: many
# words (one repeated, many distinct), a long POST and a long ISBN, each run as a CGI
# request of the installed program. Prints one line a case: seconds, bytes of the
# page, and the page's count or notice.
#
# Usage: bench/search_cost.sh INSTALL_DIR
# INSTALL_DIR is an installation made by tools/site-install.sh (WORDS=AND, as the
# example site); its dbengine.conf gets TIME_LIMIT=2 for the run and back after.
set -euo pipefail

install_dir=$(cd "$1" && pwd)
cgi="$install_dir/cgi-bin"
conf="$cgi/dbengine.conf"
cp "$conf" "$conf.saved"
trap 'mv "$conf.saved" "$conf"' EXIT
sed -i 's/^TIME_LIMIT=.*/TIME_LIMIT=2/' "$conf"

no='%82%CC'  # の in Shift_JIS
repeat() {  # TEXT COUNT: TEXT COUNT times, joined by "+"
  local out="$1"
  for ((i = 1; i < $2; i++)); do out+="+$1"; done
  printf '%s' "$out"
}
distinct() {  # COUNT: words w0 w1 ... joined by "+"
  local out="w0"
  for ((i = 1; i < $1; i++)); do out+="+w$i"; done
  printf '%s' "$out"
}

kana() {  # COUNT LENGTH: COUNT distinct words of LENGTH hiragana, joined by "+"
  local out="" word
  for ((i = 0; i < $1; i++)); do
    word=""
    for ((k = 0; k < $2; k++)); do word+=$(printf '%%82%%%02X' $((0x9F + (i * 7 + k * 13) % 83))); done
    out+="${out:++}$word"
  done
  printf '%s' "$out"
}

run() {  # NAME METHOD DATA
  local name=$1 method=$2 data=$3 start end page
  start=$(date +%s.%N)
  if [ "$method" = GET ]; then
    page=$(cd "$cgi" && REQUEST_METHOD=GET QUERY_STRING="$data" PATH_INFO=/list \
      SCRIPT_NAME=/cgi-bin/liraweb SERVER_NAME=localhost ./liraweb | iconv -f CP932 -t UTF-8)
  else
    page=$(cd "$cgi" && printf '%s' "$data" | REQUEST_METHOD=POST CONTENT_LENGTH=${#data} \
      CONTENT_TYPE=application/x-www-form-urlencoded PATH_INFO=/list \
      SCRIPT_NAME=/cgi-bin/liraweb SERVER_NAME=localhost ./liraweb | iconv -f CP932 -t UTF-8)
  fi
  end=$(date +%s.%N)
  local summary
  summary=$(printf '%s' "$page" | grep -o -E '[0-9]+</strong> 件|検索条件が大きすぎます|しばらくしてから|見付かりませんでした|データベースエラー' | head -1 || true)
  printf '%-44s %6.2f s  %7d bytes  %s\n' "$name" "$(echo "$end - $start" | bc)" "${#page}" "$summary"
}

run "one word の" GET "BOOKNAME=$no&PAGENUM=0"
run "997 x の (GET, 3 KB)" GET "BOOKNAME=$(repeat "$no" 997)&PAGENUM=0"
run "1000 x の in every field" GET "BOOKNAME=$(repeat "$no" 1000)&CHOSYA=$(repeat "$no" 1000)&SYUPAN=$(repeat "$no" 1000)&KENMEI=$(repeat "$no" 1000)&PAGENUM=0"
run "64 distinct words" GET "BOOKNAME=$(distinct 64)&PAGENUM=0"
run "64 distinct kana, one each" GET "BOOKNAME=$(kana 64 1)&PAGENUM=0"
run "64 distinct kana pairs, WORDS=AND" GET "BOOKNAME=$(kana 64 2)&PAGENUM=0"
run "64 distinct 3-kana words" GET "BOOKNAME=$(kana 64 3)&PAGENUM=0"
run "5 fields of 12 distinct 3-kana words" GET "BOOKNAME=$(kana 12 3)&CHOSYA=$(kana 12 3)&SYUPAN=$(kana 12 3)&KENMEI=$(kana 12 3)&ISBN=4&PAGENUM=0"
run "one word of 512 kana (1024 bytes)" GET "BOOKNAME=$(kana 1 512 | sed 's/+//g')&PAGENUM=0"
run "998 distinct words" GET "BOOKNAME=$(distinct 998)&PAGENUM=0"
run "50,000 x の (POST, 350 KB)" POST "BOOKNAME=$(repeat "$no" 50000)&PAGENUM=0"
run "50,000 distinct words (POST)" POST "BOOKNAME=$(distinct 50000)&PAGENUM=0"
run "100,000-digit ISBN (POST)" POST "ISBN=$(printf '9%.0s' $(seq 100000))&PAGENUM=0"
