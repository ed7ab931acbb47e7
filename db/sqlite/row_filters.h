// Deciding a search's filters (conditions on the row that the caller restated with the
// columns they read, see RowFilter) for exact candidates without reading each row: the
// candidates are told apart by the values of those columns, from the stored ranks of the
// book table and the joined tables read at request time, and each condition is run once
// for each distinct set of values, on one row that holds it. A filtered page then reads
// only its own rows, and its count is a count of bits.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/driver.h"
#include "db/sqlite/group_counts.h"
#include "db/sqlite/row_bitmap.h"

namespace db::searchindex {

// The filters whose conditions are the statement's row conditions, one each in the
// order of the conditions; nullopt when there is no row condition or one is no filter's.
std::optional<std::vector<RowFilter>> FiltersOfConditions(
    const std::vector<std::string>& rowConditions, const std::vector<RowFilter>& filters);

// Where the filters are decided.
struct FilterSource {
  GroupingSource grouping;    // the book table, its kept orders, the joins of one row
  std::string fromClause;     // the statement's FROM, from the book table on
  std::string bookQualifier;  // the book table's name or alias in it
  // Sets of columns (named as the statement names them) to count the rows that meet
  // the filters by, in the same walk, where the walk can.
  std::vector<std::vector<GroupColumn>> countAlong;
};

// The rows that meet the filters, and their counts by the sets asked to count along
// when they were counted.
struct FilteredRows {
  RowBitmap rows;
  std::shared_ptr<const CountedAlong> countedAlong;
};

// The rows that meet every filter, each decided for each distinct set of the values it
// reads. nullopt when a filter's columns cannot be told apart so (a column neither kept
// nor of a table joined once), or the rows are so few that the statement decides them
// faster on each row it reads (see TupleOfEachRow). The rows must be the exact
// candidates of a state with nothing pending. Raises OrderUnreadable.
std::optional<FilteredRows> RowsMeetingFilters(sqlite3* db, const RowBitmap& rows,
                                               const FilterSource& source,
                                               const std::vector<RowFilter>& filters);

}  // namespace db::searchindex
