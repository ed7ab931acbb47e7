// Narrowing the program's search statement with the search index. The statement is the
// head of the search SQL file, a WHERE line with LIKE conditions (each "col LIKE '...'"
// or "( col LIKE '...' OR col LIKE '...' )", joined by AND) and an optional ORDER BY
// line. The narrowed statement keeps every condition and adds
//   <book>.rowid IN (<candidates>)
// (or joins the book table to the candidates on it) so it gives the rows of the scan,
// and no others, whenever the candidates hold every matching row. The rows come in the scan's
// order: rowids ascending, and a sort column as "+col" so that SQLite sorts (as the scan does)
// instead of walking an index.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/sqlite/search_index.h"

namespace db::searchindex {

// "LEFT JOIN table [alias] ON a = b" in the head, each side [qualifier.]column.
struct JoinOn {
  std::string table, alias;
  std::string leftQualifier, leftColumn, rightQualifier, rightColumn;
};

// A search statement taken apart.
struct SearchShape {
  std::string head;            // up to the WHERE line, as written
  std::string bookQualifier;   // the book table's alias in the head, or its name
  std::string conditionsText;  // the conditions, as written
  LikeConditions conditions;   // the same, with columns as positions in the index
  // After the LIKE conditions, the other conditions on the row (each a parenthesized
  // group, its text inside the parentheses without the blanks around it); each is an
  // empty entry of conditions, which narrows nothing.
  std::vector<std::string> rowConditions;
  std::string orderColumn;      // empty without ORDER BY
  std::string orderKind;        // ASC, DESC or empty
  std::string orderBookColumn;  // the sort column's name when it is the book table's
  // A sort by a list of expressions that does not begin with a plain column (the
  // best-match ranking), written as it stands: no index gives its order, so SQLite sorts.
  std::string orderList;
  // The head's joins when all have the form of JoinOn; nullopt for any other.
  std::optional<std::vector<JoinOn>> joins;
  // Where the book table's name stands in the head after FROM, when the select list
  // names its columns (no "*", which would also give the candidates' column).
  std::optional<std::size_t> bookTableAt;
};

// The shape of sql when it is a search statement over the indexed book table whose head
// the narrowing cannot change the meaning of: one FROM of the book table, joins only to
// other tables, no subquery, function, grouping, DISTINCT, compound or limit; and no
// sort on a column in info.unsafeSortColumns. nullopt otherwise.
std::optional<SearchShape> ParseSearchStatement(std::string_view sql, const IndexInfo& info);

// A condition on the row made of LIKE terms joined by AND and OR, with parentheses.
struct LikeExpression {
  enum class Kind { kTerm, kAnd, kOr };
  Kind kind = Kind::kTerm;
  LikeTerm term;                      // for kTerm
  std::vector<LikeExpression> parts;  // for kAnd and kOr
};

// The best-match order "[CASE WHEN c1 THEN n1 ... ELSE m END,] Y IS NULL, Y DESC, K":
// tiers of LIKE conditions on the book row, then the year newest first, then the key.
struct RankingOrder {
  std::string caseText;  // the CASE expression as written; empty without tiers
  std::vector<std::pair<LikeExpression, std::int64_t>> tiers;  // each WHEN, in order
  std::int64_t elseValue = 0;
  std::string yearColumn, keyColumn;  // columns of the book table
};

// The ranking of a sort list (SearchShape::orderList) when it has exactly that form,
// every column naming the book table (bare or by qualifier) and every LIKE term an
// indexed column, each THEN and the ELSE an integer; nullopt for anything else.
std::optional<RankingOrder> ParseRankingOrder(std::string_view orderList,
                                              const std::string& qualifier, const IndexInfo& info);

// The statement narrowed to the rows of candidateTable (a table-valued function call
// whose column liraidx_rowid gives rowids, ascending). When the head allows, the
// function leads the join ("FROM <candidates> AS liraidx_c CROSS JOIN <book> ...
// WHERE <book>.rowid = liraidx_c.liraidx_rowid"), so that rows come one candidate at a
// time and a page needs only the candidates up to its own; otherwise the condition
// is "<book>.rowid IN (SELECT liraidx_rowid FROM <candidates>)", which SQLite reads
// whole before the first row. With candidatesSorted (only for the first form) the
// candidates come in the statement's order and the statement sorts nothing.
std::string NarrowedStatement(const SearchShape& shape, std::string_view candidateTable,
                              bool candidatesSorted = false);

// True when the rows of NarrowedStatement(shape, ..., candidatesSorted) come in the order
// of its candidates, as they come: the candidates lead the join and nothing sorts.
bool RowsInCandidateOrder(const SearchShape& shape, bool candidatesSorted);

}  // namespace db::searchindex
