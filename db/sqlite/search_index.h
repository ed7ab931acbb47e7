// Reading the n-gram search index of a SQLite catalogue: whether the catalogue holds
// one that is current, and which book rows can match a set of LIKE conditions. Any
// doubt (no index, a schema changed since the build, too many pending rows, bytes that
// are no posting list, a failing read) answers "no index" with its reason, and the
// caller searches by scan as it would without one.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "db/driver.h"
#include "db/sqlite/book_codes.h"
#include "db/sqlite/search_index_format.h"

namespace db::searchindex {

// What the index says about itself.
struct IndexInfo {
  std::string table;                 // the book table
  std::vector<std::string> columns;  // the indexed columns, in their col order
  std::int64_t rows = 0;             // book rows when it was built
  // Columns that lead an index of the book table other than a unique one on a NOT NULL
  // column: SQLite may walk that index for ORDER BY, and the order of ties would then
  // be the index's, which a narrowed statement cannot repeat.
  std::vector<std::string> unsafeSortColumns;
  // Columns of the book table whose sort order the index keeps (see OrderKey), so that
  // a page sorted by one needs neither every hit nor a sort.
  std::vector<std::string> orderColumns;
  // The matching mode whose folding the grams hold (see IndexServes).
  MatchMode match = MatchMode::kFolded;
  // Whether the lists hold the column start grams and end grams (see kStartGramBit and
  // kEndGramBit).
  EdgeGrams edgeGrams;
  // Columns of the book table whose order, ties by rowid, is the rowid order.
  std::vector<std::string> rowidOrderColumns;
  // The year and key columns whose best-match ties the index keeps in one order (see
  // kYearKeyOrderPlace); empty when it keeps none.
  std::vector<std::string> yearKeyOrder;
  // True when the index holds the grams that decide words of three or more units
  // (long_word_grams.h).
  bool longWords = false;
  // The join whose rows' books the index keeps (kJoinedBooksTable), if any.
  std::optional<OneRowJoin> joinedBooks;
  // The columns whose values it keeps as codes a book (book_codes.h); empty for none.
  std::vector<CodedColumn> bookCodes;
  // The column of the joinedBooks join it keeps codes of (joined_codes.h), if any.
  std::optional<CodedColumn> joinedCodes;
};

// One column compared with one LIKE pattern.
struct LikeTerm {
  int column = -1;  // position in IndexInfo::columns; -1 for a column not indexed
  std::string pattern;
  bool operator==(const LikeTerm&) const = default;
};

// Conditions joined by AND, each the OR of its terms.
using LikeConditions = std::vector<std::vector<LikeTerm>>;

// The index of the catalogue when it is current: built for this schema version, with
// no more pending rows than its limit. Otherwise nullopt, and `why` (when given) says
// which it is not; kTooManyPending only for an index that is current but for its pending
// rows. Never throws.
std::optional<IndexInfo> ReadCurrentIndex(sqlite3* db, IndexUnused* why = nullptr);

// The rows a search may have to read.
struct Candidates {
  std::vector<std::int64_t> rows;  // rowids, ascending
  // True when the rows are exactly the book rows that meet the conditions: every term
  // reads one unit or pair in the folded or loose mode, and no row is pending.
  bool exact = false;
};

// The rowids of every book row that can match the conditions (and of every pending
// row); nullopt when the index narrows nothing (no condition has a literal character
// in an indexed column, or only characters held by more than most rows) or cannot be
// read; `why` (when given) then tells kNotNarrowable from kDamaged. Never throws.
std::optional<Candidates> CandidateRows(sqlite3* db, const LikeConditions& conditions,
                                        MatchMode mode, std::size_t most,
                                        IndexUnused* why = nullptr);

// True when the text is one of the names, letter case ignored (SQL identifiers).
bool NameIn(const std::string& name, const std::vector<std::string>& names);

}  // namespace db::searchindex
