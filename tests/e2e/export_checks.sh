# Records and searches for other programs, sourced by http_test.sh (its fetch and expect
# helpers): the downloads of one book, the feeds of a search and the SRU endpoint. The
# answers are UTF-8; the catalogue file (UTF-8) is the oracle, YAZ's MARC reader and
# SRU client and xmllint read them as other programs would.

# The percent encoding of a UTF-8 text, every byte escaped.
utf8_url() { printf '%s' "$1" | od -An -tx1 -v | tr -d ' \n' | tr a-f A-F | sed 's/../%&/g'; }
catalogue_field() { awk -F'\t' -v id="$1" -v c="$2" '$1 == id { print $c }' "$catalogue"; }
# Books of the catalogue file with a word in one of the columns FROM..TO, for each group
# of words separated by "|" (every group must match): count_books "2 3 猫 坊|6 6 新潮社".
count_books() {
  awk -F'\t' -v wanted="$1" '
    $1 ~ /^[0-9]+$/ { groups = split(wanted, g, "|"); ok = 1
      for (i = 1; i <= groups; i++) {
        n = split(g[i], w, " "); held = 0
        for (k = 3; k <= n; k++) for (c = w[1]; c <= w[2]; c++) held += index($c, w[k]) > 0
        if (!held) ok = 0
      }
      found += ok }
    END { print found + 0 }' "$catalogue"
}
expect_body() { checks=$((checks + 1)); grep -qF -- "$1" "$work/body" || fail "body lacks: $1"; }
expect_equal() { checks=$((checks + 1)); [ "$1" = "$2" ] || fail "$3: $1, expected $2"; }
expect_xml() {
  checks=$((checks + 1))
  xmllint --noout ${1:+--schema "$1"} "$work/body" 2> "$work/xmllint" || fail "not valid: $(head -3 "$work/xmllint")"
}
xpath() { xmllint --xpath "$1" "$work/body" 2> /dev/null; }

if ! command -v xmllint > /dev/null || ! command -v yaz-client > /dev/null; then
  echo "xmllint or yaz-client is missing (tools/install-deps.sh check installs them)"
  checks=$((checks + 1))
  fail "the checks of the exports need xmllint and yaz-client"
  return 0
fi

id=100001
title=$(catalogue_field $id 2)
begin "a book as RIS"
fetch GET "$program/data.ris?ID=$id"
expect_status 200
expect_header 'Content-Type: application/x-research-info-systems; charset=utf-8'
expect_header "Content-Disposition: attachment; filename=\"$id.ris\""
expect_exact_length
for tag_column in TI:2 AU:4 PB:6 SN:7 KW:8 CN:9 PY:11; do
  expect_body "${tag_column%%:*}  - $(catalogue_field $id "${tag_column#*:}")"$'\r'
done
checks=$((checks + 1))
! grep -qvE $'^[A-Z][A-Z0-9]  - .*\r$' "$work/body" || fail "a line that is no RIS tag line"

begin "a book as BibTeX"
fetch GET "$program/data.bib?ID=$id"
expect_header 'Content-Type: application/x-bibtex; charset=utf-8'
expect_header "Content-Disposition: attachment; filename=\"$id.bib\""
expect_body "@book{liraweb-$id,"
expect_body "  title = {$title},"

begin "a book as MARCXML, read back by YAZ"
fetch GET "$program/data.marcxml?ID=$id"
expect_header 'Content-Type: application/marcxml\+xml; charset=utf-8'
expect_xml
yaz-marcdump -i marcxml -o line "$work/body" > "$work/marc" 2>&1
# The catalogue's mapping (marc/marc_mapping.h) writes the text in the regular field and
# its reading in a linked 880; the catalogue tools read the record back with it.
for line in "001 $id" "245    \$6 880-01 \$a $title" "880    \$6 245-01 \$a $(catalogue_field $id 3)" \
  "100    \$6 880-02 \$a $(catalogue_field $id 4)" "880    \$6 100-02 \$a $(catalogue_field $id 5)" \
  "020    \$a $(catalogue_field $id 7) \$c $(catalogue_field $id 10)" \
  "084    \$a $(catalogue_field $id 9)" "650    \$a $(catalogue_field $id 8)" \
  "264    \$b $(catalogue_field $id 6) \$c $(catalogue_field $id 11)" \
  "852    \$b $(catalogue_field $id 15)"; do
  checks=$((checks + 1))
  grep -qxF -- "$line" "$work/marc" || fail "YAZ reads no line: $line"
done

begin "no book of the key"
fetch GET "$program/data.ris?ID=nothing"
expect_status 404
expect_header 'Content-Type: text/plain; charset=utf-8'

# A page of a search: what the catalogue holds with 夏目 in any column, 20 a page.
found=$(count_books "2 8 夏目")
shown=$((found < 20 ? found : 20))
for feed in atom rss; do
  begin "the search as $feed"
  fetch GET "$program/list.$feed?PAGENUM=0&ANY=$(sjis 夏目)"
  expect_status 200
  expect_xml
  if [ $feed = atom ]; then
    item="/*[local-name()='feed']/*[local-name()='entry']"
    for required in title id updated; do
      expect_equal "$(xpath "count(/*[local-name()='feed']/*[local-name()='$required'])")" 1 "feed $required"
      expect_equal "$(xpath "count($item/*[local-name()='$required'])")" "$shown" "entry $required"
    done
  else
    item="/rss/channel/item"
    for required in title link description; do
      expect_equal "$(xpath "count(/rss/channel/$required)")" 1 "channel $required"
    done
    expect_equal "$(xpath "count($item/link)")" "$shown" "item links"
  fi
  expect_equal "$(xpath "count($item)")" "$shown" "items"
  expect_equal "$(xpath "string(//*[local-name()='totalResults'])")" "$found" "totalResults"
  expect_equal "$(xpath "string(//*[local-name()='startIndex'])")" 1 "startIndex"
  expect_equal "$(xpath "string(//*[local-name()='itemsPerPage'])")" 20 "itemsPerPage"
done

begin "the search as JSON"
fetch GET "$program/list.json?PAGENUM=0&ANY=$(sjis 夏目)"
expect_header 'Content-Type: application/json; charset=utf-8'
expect_equal "$(python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print(d["totalResults"], len(d["items"]), d["items"][0]["title"] != "")' "$work/body" 2>&1)" \
  "$found $shown True" "totalResults, items, a title"

# The example site sets EXPORT_HOLDINGS=1: a feed item holds every field its list card
# shows (and the ISBN and subject), the Dublin Core record all but the location.
isbn=$(catalogue_field $id 7)
for feed in atom rss json; do
  begin "the $feed item of a book holds the fields of its list card"
  fetch GET "$program/list.$feed?PAGENUM=0&ISBN=$(sjis "$isbn")"
  for column in 2 4 6 7 8 9 11 15; do expect_body "$(catalogue_field $id $column)"; done
done
begin "the Dublin Core record of a book holds the fields of its list card"
fetch GET "$program/sru?version=1.2&operation=searchRetrieve&recordSchema=dc&query=$(utf8_url "isbn=$isbn")"
for column in 2 4 6 7 8 9 11; do expect_body "$(catalogue_field $id $column)"; done

begin "a search the list refuses is refused by the feed"
fetch GET "$program/list.atom?PAGENUM=0"
expect_status 400
expect_header 'Content-Type: text/plain; charset=utf-8'

# SRU: every answer against the response structure of its version.
for version in 1.2 2.0; do
  if [ $version = 2.0 ]; then
    ns=http://docs.oasis-open.org/ns/search-ws/sruResponse diag=http://docs.oasis-open.org/ns/search-ws/diagnostic packing=recordXMLEscaping
  else
    ns=http://www.loc.gov/zing/srw/ diag=http://www.loc.gov/zing/srw/diagnostic/ packing=recordPacking
  fi
  mkdir -p "$work/xsd$version"
  sed -e "s|@NS@|$ns|g" -e "s|@DIAG_NS@|$diag|g" -e "s|@PACKING@|$packing|g" \
    "$(dirname "${BASH_SOURCE[0]}")/sru_response.xsd.in" > "$work/xsd$version/sru.xsd"
  sed -e "s|@DIAG_NS@|$diag|g" "$(dirname "${BASH_SOURCE[0]}")/diagnostic.xsd.in" > "$work/xsd$version/diagnostic.xsd"
  schema=$work/xsd$version/sru.xsd
  sru="$program/sru?version=$version&operation=searchRetrieve"

  begin "SRU $version: title any, as Dublin Core"
  fetch GET "$sru&query=$(utf8_url 'dc.title any "猫 夜"')&recordSchema=dc&maximumRecords=2"
  expect_xml "$schema"
  expect_equal "$(xpath "string(//*[local-name()='numberOfRecords'])")" "$(count_books "2 3 猫 夜")" "numberOfRecords"
  expect_equal "$(xpath "count(//*[local-name()='dc']/*[local-name()='title'])")" 2 "dc titles"
  expect_equal "$(xpath "string(//*[local-name()='nextRecordPosition'])")" 3 "nextRecordPosition"

  begin "SRU $version: and, MARCXML from the second record"
  fetch GET "$sru&query=$(utf8_url 'dc.creator=夏目 and dc.publisher=新潮社')&startRecord=2"
  expect_xml "$schema"
  expect_equal "$(xpath "string(//*[local-name()='numberOfRecords'])")" "$(count_books "4 5 夏目|6 6 新潮社")" "numberOfRecords"
  expect_equal "$(xpath "string((//*[local-name()='recordPosition'])[1])")" 2 "first position"

  begin "SRU $version: a position past the result"
  fetch GET "$sru&query=$(utf8_url 'dc.creator=夏目')&startRecord=1000"
  expect_xml "$schema"
  expect_equal "$(xpath "string(//*[local-name()='numberOfRecords'])")" "$(count_books "4 5 夏目")" "numberOfRecords"
  expect_equal "$(xpath "string(//*[local-name()='uri'])")" info:srw/diagnostic/1/61 "diagnostic"
  expect_equal "$(xpath "count(//*[local-name()='record'])")" 0 "records"

  begin "SRU $version: diagnostics"
  for case in "dc.date=1:16" "title<1:19" "title=a*b:28" "a%20not%20b:37" "(a:10" "title=a%20sortby%20title:80"; do
    fetch GET "$sru&query=$(printf '%s' "${case%:*}" | sed 's/=/%3D/g; s/</%3C/g; s/\*/%2A/g')"
    expect_xml "$schema"
    expect_equal "$(xpath "string(//*[local-name()='uri'])")" "info:srw/diagnostic/1/${case##*:}" "diagnostic of ${case%:*}"
  done

  begin "SRU $version: explain"
  fetch GET "$program/sru?version=$version"
  expect_xml "$schema"
  expect_equal "$(xpath "count(//*[local-name()='explain']/*[local-name()='indexInfo']/*[local-name()='index'])")" 12 "indexes"
done

begin "yaz-client searches the endpoint"
printf 'sru get 1.2\nquerytype cql\nfind dc.creator=夏目\nshow 1\nquit\n' |
  timeout 30 yaz-client "$base$program/sru" > "$work/yaz" 2>&1
expect_equal "$(grep -m1 -oE 'Number of hits: [0-9]+' "$work/yaz")" "Number of hits: $(count_books "4 5 夏目")" "hits"
checks=$((checks + 1))
grep -qF '<controlfield tag="001">' "$work/yaz" || fail "yaz-client showed no MARCXML record"
