// Brings the sort order the search index keeps for a column up to date with rows written
// since it was computed, without sorting the table: the stored sequence, less the rows
// written, keeps its order; each written row is placed into it by comparing its value
// with the values of a few groups of equal rank (a binary search, as SQLite compares
// them: the column's collation, NULL lowest), and the ranks are numbered anew.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tools {

// Calls emit with the id and data of every row of the order table that the sort order
// of the column (its place k) has for the rows of the table now, given the rowids written
// since the stored order was computed (ascending; existing or not, each in [0, 2^32)).
// Gives the same rows as computing the order from every row of the table. Raises
// ECatalogError, with "damaged" in its message when the stored order cannot be read.
void MergeWrittenRows(sqlite3* db, const std::string& table, const std::string& column, int k,
                      const std::vector<std::int64_t>& written,
                      const std::function<void(std::int64_t, const std::string&)>& emit);

}  // namespace tools
