#include "module/facet_filters.h"

#include <vector>

#include "db/database_error.h"
#include "db/sql_scanner.h"
#include "module/result_row.h"
#include "platform/text_compare.h"

namespace module {

using platform::FieldValue;
using platform::TStringList;

namespace {

// The value of a text of one to `most` ASCII digits (a leading "-" allowed with
// `signed`); nullopt for any other text, blanks and signs included.
std::optional<std::int64_t> DecimalValue(std::string_view text, std::size_t most,
                                         bool allowSign = false) {
  bool negative = false;
  if (allowSign && !text.empty() && text.front() == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > most) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

std::optional<std::int32_t> YearValue(std::string_view text) {
  if (auto value = DecimalValue(text, 4)) return static_cast<std::int32_t>(*value);
  return std::nullopt;
}

// A year column compared as a number: SQLite sorts a text after every number, so a
// year written as text (a mistyped "19xx") would pass a lower bound alone.
db::RowFilter YearRange(std::int32_t first, std::int32_t afterLast) {
  return {"MS_SYUNEN >= " + std::to_string(first) + " AND MS_SYUNEN < " + std::to_string(afterLast),
          {{"MS_SYUNEN", 0}}};
}

}  // namespace

FacetFilters ReadFacetFilters(const TStringList& fields) {
  FacetFilters filters;
  filters.Available = FieldValue(fields, "AVAILABLE") == "1";
  filters.Decade = YearValue(FieldValue(fields, "DECADE"));
  if (filters.Decade && *filters.Decade % 10 != 0) filters.Decade.reset();
  filters.YearFrom = YearValue(FieldValue(fields, "YEAR_FROM"));
  filters.YearTo = YearValue(FieldValue(fields, "YEAR_TO"));
  const std::string classText = FieldValue(fields, "CLASS");
  if (classText.size() == 1 && classText[0] >= '0' && classText[0] <= '9')
    filters.Class = classText[0];
  filters.Location = DecimalValue(FieldValue(fields, "LOCATION"), 9, true);
  return filters;
}

std::optional<std::string> FilterFieldValue(const FacetFilters& filters, std::string_view name) {
  auto number = [](const auto& value) { return value ? std::to_string(*value) : std::string(); };
  if (name == "AVAILABLE") return filters.Available ? "1" : "";
  if (name == "YEAR_FROM") return number(filters.YearFrom);
  if (name == "YEAR_TO") return number(filters.YearTo);
  if (name == "DECADE") return number(filters.Decade);
  if (name == "CLASS") return filters.Class ? std::string(1, *filters.Class) : "";
  if (name == "LOCATION") return number(filters.Location);
  return std::nullopt;
}

std::string FilterQueryFields(const FacetFilters& filters) {
  std::string text;
  for (std::string_view name : kFilterFieldNames) {
    const std::string value = *FilterFieldValue(filters, name);
    if (!value.empty()) text += "&" + std::string(name) + "=" + value;
  }
  return text;
}

std::string LoanStateExpression(char kintai) {
  const auto byte = static_cast<unsigned char>(kintai);
  if (byte >= 0x80) {
    throw db::EDatabaseError("KINTAI must be an ASCII character where the loan state is counted");
  }
  // A loan kind whose first byte is kintai; an empty one when kintai is NUL, as the
  // rows read an empty kind as a NUL byte. A quote is doubled inside its literal.
  std::string kind;
  if (kintai == '\0') {
    kind = "COALESCE(MS_KKUBUN, '') = ''";
  } else {
    const std::string literal = kintai == '\'' ? "''''" : "'" + std::string(1, kintai) + "'";
    kind = "substr(COALESCE(MS_KKUBUN, ''), 1, 1) = " + literal;
  }
  // A column the rows read as empty text is NULL or empty here; a number is never empty.
  return "CASE WHEN COALESCE(KA_USERID, '') <> '' THEN 1"
         " WHEN COALESCE(MS_TMARK, '') = '' AND COALESCE(CAST(MS_TFMSUU AS TEXT), '') <> ''"
         " THEN 2 WHEN " +
         kind + " THEN 2 ELSE 0 END";
}

std::vector<db::RowFilter> FilterParts(const FacetFilters& filters, char kintai) {
  std::vector<db::RowFilter> parts;
  if (filters.Available)
    parts.push_back({"( " + LoanStateExpression(kintai) + " ) = 0", kLoanStateColumns});
  if (filters.Decade) parts.push_back(YearRange(*filters.Decade, *filters.Decade + 10));
  if (filters.YearFrom) parts.push_back(YearRange(*filters.YearFrom, 10000));
  if (filters.YearTo) parts.push_back(YearRange(0, *filters.YearTo + 1));
  // The first byte of the call number: substr takes a character, which for an ASCII
  // digit is that byte.
  if (filters.Class)
    parts.push_back(
        {std::string("substr(MS_SEIKYU, 1, 1) = '") + *filters.Class + "'", {{"MS_SEIKYU", 1}}});
  if (filters.Location)
    parts.push_back({"MS_SYOZAI = " + std::to_string(*filters.Location), {{"MS_SYOZAI", 0}}});
  return parts;
}

std::string FilterCondition(const FacetFilters& filters, char kintai) {
  std::string condition;
  for (const db::RowFilter& part : FilterParts(filters, kintai))
    condition += (condition.empty() ? "( " : " AND ( ") + part.Condition + " )";
  return condition;
}

TStringList FacetRowsStatement(const TStringList& search) {
  std::string text;
  for (const std::string& line : search) text += line + "\r\n";
  // The first word must be SELECT (DISTINCT would count other rows than the list
  // shows), and the select list ends at the first FROM outside parentheses.
  std::size_t selectEnd = std::string::npos, fromStart = std::string::npos;
  int depth = 0;
  for (std::size_t at = 0; at < text.size() && fromStart == std::string::npos;) {
    const db::SqlToken token = db::ScanSqlToken(text, at);
    const std::string_view word(text.data() + token.start, token.end - token.start);
    at = token.end;
    if (token.kind == db::SqlTokenKind::kBlank || token.kind == db::SqlTokenKind::kComment)
      continue;
    if (selectEnd == std::string::npos) {
      if (token.kind != db::SqlTokenKind::kWord || !platform::SameTextIgnoringCase(word, "SELECT"))
        break;
      selectEnd = token.end;
      const std::size_t nextAt = text.find_first_not_of(" \t\r\n", at);
      if (nextAt == std::string::npos) break;
      const db::SqlToken next = db::ScanSqlToken(text, nextAt);
      const std::string_view nextWord(text.data() + next.start, next.end - next.start);
      if (platform::SameTextIgnoringCase(nextWord, "DISTINCT")) break;
    } else if (token.kind == db::SqlTokenKind::kSymbol) {
      depth += word == "(" ? 1 : word == ")" ? -1 : 0;
    } else if (depth == 0 && token.kind == db::SqlTokenKind::kWord &&
               platform::SameTextIgnoringCase(word, "FROM")) {
      fromStart = token.start;
    }
  }
  if (fromStart == std::string::npos) {
    throw db::EDatabaseError(
        "the search statement is no plain SELECT ... FROM; facets cannot count it");
  }
  TStringList lines = {
      "SELECT MS_SYUNEN, MS_SEIKYU, MS_SYOZAI, KA_USERID, MS_TMARK, MS_TFMSUU, MS_KKUBUN"};
  const std::string rest = text.substr(fromStart);
  for (std::size_t at = 0; at < rest.size();) {
    const std::size_t end = std::min(rest.find("\r\n", at), rest.size());
    lines.push_back(rest.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

namespace {

void CountYear(FacetCounts& counts, std::string_view year, std::int64_t rows) {
  if (auto value = DecimalValue(year, 4))
    counts.Decades[static_cast<std::int32_t>(*value / 10 * 10)] += rows;
}

void CountCallNumber(FacetCounts& counts, std::string_view callNumber, std::int64_t rows) {
  if (!callNumber.empty() && callNumber[0] >= '0' && callNumber[0] <= '9')
    counts.Classes[callNumber[0]] += rows;
}

void CountLocation(FacetCounts& counts, std::string_view location, std::int64_t rows) {
  if (auto value = DecimalValue(location, 18, true)) counts.Locations[*value] += rows;
}

}  // namespace

void CountFacetRow(FacetCounts& counts, std::uint8_t loanState, std::string_view year,
                   std::string_view callNumber, std::string_view location, std::int64_t rows) {
  if (loanState == kLoanAvailable) counts.Available += rows;
  CountYear(counts, year, rows);
  CountCallNumber(counts, callNumber, rows);
  CountLocation(counts, location, rows);
}

std::optional<FacetCounts> CountFacetsWithoutRows(db::TQuery& facetRows, char kintai) {
  // Each facet is a set of columns of its own, the loan state the four it reads together,
  // all counted in one go where the database can; the first byte of a text is all the
  // rules look at (empty or not, the kind, the class digit).
  const auto sets = facetRows.CountGroupSets(kFacetCountSets);
  if (!sets) return std::nullopt;
  const std::vector<db::TGroupCount>& loans = (*sets)[0];
  const std::vector<db::TGroupCount>& years = (*sets)[1];
  const std::vector<db::TGroupCount>& classes = (*sets)[2];
  const std::vector<db::TGroupCount>& locations = (*sets)[3];
  FacetCounts counts;
  for (const db::TGroupCount& group : loans) {
    const auto& v = group.Values;
    if (DecideLoanState(v[0], v[1], v[2], v[3], kintai) == kLoanAvailable)
      counts.Available += group.Rows;
  }
  for (const db::TGroupCount& group : years) CountYear(counts, group.Values[0], group.Rows);
  for (const db::TGroupCount& group : classes)
    CountCallNumber(counts, group.Values[0], group.Rows);
  for (const db::TGroupCount& group : locations)
    CountLocation(counts, group.Values[0], group.Rows);
  return counts;
}

}  // namespace module
