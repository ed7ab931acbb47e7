// The filters that narrow a search (can be borrowed now, publication year, subject
// class, shelf location) and the statement that counts the rows of a search by the same
// values: both are written as SQL that SQLite and PostgreSQL read alike, so the counts
// and the filtered rows agree on every engine.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/query.h"
#include "platform/string_list.h"

namespace module {

// The filters a request asks for; a field whose value is not of its form is not applied.
struct FacetFilters {
  bool Available = false;                // AVAILABLE=1: can be borrowed now
  std::optional<std::int32_t> Decade;    // DECADE=1990: the years 1990 to 1999
  std::optional<std::int32_t> YearFrom;  // YEAR_FROM=1995
  std::optional<std::int32_t> YearTo;    // YEAR_TO=2005
  std::optional<char> Class;             // CLASS=3: the call number begins with 3
  std::optional<std::int64_t> Location;  // LOCATION=<SY_CODE>

  bool Empty() const {
    return !Available && !Decade && !YearFrom && !YearTo && !Class && !Location;
  }
};

// The filters of the request fields. AVAILABLE applies only as "1", a year as one to
// four ASCII digits (a decade also a multiple of ten), CLASS as one digit, LOCATION as
// one to nine digits (a leading "-" allowed).
FacetFilters ReadFacetFilters(const platform::TStringList& fields);

// The request field names of the filters, in the order the links write them.
inline constexpr std::string_view kFilterFieldNames[] = {"AVAILABLE", "YEAR_FROM", "YEAR_TO",
                                                         "DECADE",    "CLASS",     "LOCATION"};

// The value of the filter field `name` as the links write it, empty when the filter is
// not applied; nullopt when `name` is no filter field.
std::optional<std::string> FilterFieldValue(const FacetFilters& filters, std::string_view name);

// "&AVAILABLE=1&DECADE=1990...": the applied filters as query fields, in the order of
// kFilterFieldNames; empty when none is applied.
std::string FilterQueryFields(const FacetFilters& filters);

// The loan state of a row in SQL, as the result rows decide it (0 can be borrowed, 1
// lent out, 2 not for loan): a loan record with a borrower; no attachment mark with an
// attachment count; the first byte of the loan kind equal to kintai. Raises
// EDatabaseError for a kintai that is no ASCII character, which the two engines would
// compare differently.
std::string LoanStateExpression(char kintai);

// The columns the loan state reads, with the bytes of each that decide it (the first of
// a text: empty or not, the loan kind), in the order DecideLoanState takes them.
inline const std::vector<db::GroupColumn> kLoanStateColumns = {
    {"KA_USERID", 1}, {"MS_TMARK", 1}, {"MS_TFMSUU", 1}, {"MS_KKUBUN", 1}};

// The conditions of the applied filters, each with the columns it reads, so that a
// database that keeps those columns' order may decide them without reading the rows.
// Raises as LoanStateExpression when AVAILABLE is applied.
std::vector<db::RowFilter> FilterParts(const FacetFilters& filters, char kintai);

// The condition the filters add to the search, the parts (FilterParts) joined by AND;
// empty when none is applied. Raises as LoanStateExpression when AVAILABLE is applied.
std::string FilterCondition(const FacetFilters& filters, char kintai);

// The counts of a search's rows by each facet's values.
struct FacetCounts {
  std::int64_t Available = 0;                      // rows that can be borrowed now
  std::map<std::int32_t, std::int64_t> Decades;    // first year of the decade -> rows
  std::map<char, std::int64_t> Classes;            // '0'..'9' -> rows
  std::map<std::int64_t, std::int64_t> Locations;  // SY_CODE -> rows
};

// The search statement (without ORDER BY) with its select list replaced by the columns
// the facets read: MS_SYUNEN, MS_SEIKYU, MS_SYOZAI and the loan state's KA_USERID,
// MS_TMARK, MS_TFMSUU, MS_KKUBUN. A plain list of columns, so the search index narrows
// it as it narrows the search. Raises EDatabaseError when the statement does not begin
// with a plain SELECT or has no FROM outside parentheses.
platform::TStringList FacetRowsStatement(const platform::TStringList& search);

// Counts `rows` rows of the search: their loan state (as the result rows decide it) and
// their year, call number and location as text. A year of one to four digits counts for
// its decade, a call number beginning with a digit for its class, a location that is a
// number for it.
void CountFacetRow(FacetCounts& counts, std::uint8_t loanState, std::string_view year,
                   std::string_view callNumber, std::string_view location, std::int64_t rows = 1);

// The sets of columns the facets count a search's rows by: the loan state's four
// columns together, the year, the first byte of the call number, the location.
inline const std::vector<std::vector<db::GroupColumn>> kFacetCountSets = {
    kLoanStateColumns, {{"MS_SYUNEN", 0}}, {{"MS_SEIKYU", 1}}, {{"MS_SYOZAI", 0}}};

// The counts of the open facet statement (FacetRowsStatement) taken by the database from
// what it keeps beside the rows, by the same rules as CountFacetRow; nullopt when it
// cannot count them without reading the rows. Raises as TQuery::CountGroups.
std::optional<FacetCounts> CountFacetsWithoutRows(db::TQuery& facetRows, char kintai);

}  // namespace module
