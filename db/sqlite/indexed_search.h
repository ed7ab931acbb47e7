// Where the SQLite driver decides between a search by the index and a search by scan:
// a statement is narrowed only when it is a search statement over the book table of a
// current index and the index leaves few enough rows to read.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/driver.h"
#include "db/sqlite/candidate_table.h"
#include "db/sqlite/group_counts.h"

namespace db::searchindex {

// Above this share of the book table (1/N) candidates that are not exact are left to a
// scan: fetching that many rows one by one by rowid costs about as much as reading them
// in order, and the lists a request holds in memory stay bounded. Exact candidates are
// narrowed to however many they are: their count needs no row and an unsorted page
// reads only the rows up to its own.
inline constexpr std::int64_t kNarrowedShareDivisor = 8;

// A search statement narrowed by the index.
struct NarrowedSearch {
  std::string sql;
  int setNumber = 0;                  // of its candidates in the registry
  std::shared_ptr<CandidateSet> set;  // the same candidates
  // True when the head gives one row a book (its joins meet at most one row each), so
  // that exact candidates are also the count of the result.
  bool oneRowPerBook = false;
  // True when the rows come in the order of the candidates (see RowsInCandidateOrder).
  bool inCandidateOrder = false;
  // With oneRowPerBook, what exact candidates can be counted by column values from.
  GroupingSource grouping;
};

// True when the table has a unique index on the column alone, or the column is the
// table's whole primary key.
bool UniqueColumn(sqlite3* db, const std::string& table, const std::string& column);

// True when the join meets at most one row of its table for a book: its equality
// compares a book column with a column of the joined table that a unique index covers,
// both of one declared type and compared as bytes, so that the equality means what the
// index means.
bool JoinMeetsOneRow(sqlite3* db, const std::string& bookTable, const OneRowJoin& join);

// The statement narrowed by the catalogue's search index, its candidates registered;
// nullopt to run sql as written. For a statement that may be a search, `why` (when
// given) is set to the reason the index was not used, kNone when it was; other
// statements leave it as it was. Never throws.
// Row conditions after the LIKE conditions that are all conditions of filters are
// decided for exact candidates by RowsMeetingFilters, so that the candidates stay exact,
// with the rows that meet them counted by the sets of countAlong where it can.
std::optional<NarrowedSearch> NarrowSearchStatement(sqlite3* db, std::string_view sql,
                                                    MatchMode mode, CandidateRegistry& registry,
                                                    IndexUnused* why = nullptr,
                                                    const std::vector<RowFilter>& filters = {},
                                                    const std::vector<std::vector<GroupColumn>>& countAlong = {});

}  // namespace db::searchindex
