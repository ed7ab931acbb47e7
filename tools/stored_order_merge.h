// Brings a sort order the search index keeps (by one column, or by a list of columns)
// up to date with rows written since it was computed, without sorting the table: the
// stored sequence, less the rows written, keeps its order; each written row is placed
// into it by comparing its values with those of a few groups of equal rank (a binary
// search, as SQLite compares them: each column's collation, NULL lowest, a DESC column
// reversed), and the ranks are numbered anew.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tools {

// One item of an ORDER BY list: a column of the table, ascending or descending.
struct OrderTerm {
  std::string column;
  bool descending = false;
};

// Calls emit with the id and data of every row of the order table that the sort order
// by the terms (its place k) has for the rows of the table now, given the rowids written
// since the stored order was computed (ascending; existing or not, each in [0, 2^32)).
// Gives the same rows as computing the order from every row of the table. Raises
// ECatalogError, with "damaged" in its message when the stored order cannot be read.
void MergeWrittenRows(sqlite3* db, const std::string& table, const std::vector<OrderTerm>& terms,
                      int k, const std::vector<std::int64_t>& written,
                      const std::function<void(std::int64_t, const std::string&)>& emit);

}  // namespace tools
