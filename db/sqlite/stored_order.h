// The rows of a candidate set one by one, in rowid order or in a sort order the index
// keeps for a column: a page sorted by that column then reads only the rows up to its
// own, and nothing is sorted but the ranks of a few candidates.
//
// The order is the one SQLite's sorter gives a statement that reads the rows in rowid
// order and sorts them by the column: values by the column's collation, NULL first,
// rows of equal value in rowid order, in ASC and in DESC alike (the sorter keeps the
// order in which rows come).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/sqlite/kept_statements.h"
#include "db/sqlite/row_bitmap.h"

namespace db::searchindex {

// A sort of the book table's rows by a column whose order the index keeps.
struct IndexedSort {
  // The order's place: that of the column in IndexInfo::orderColumns, or
  // kYearKeyOrderPlace.
  int orderColumn = 0;
  bool descending = false;
  std::string table, column;  // the book table and the column, for rows still pending
};

// Raised when the stored order cannot be read or does not fit the rows (a damaged index).
class OrderUnreadable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct OrderStatementCloser {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
// A statement reading the stored order (or the rows beside it), finalized when it goes.
using OrderStatement = std::unique_ptr<sqlite3_stmt, OrderStatementCloser>;

// Prepares a statement that reads the stored order. Raises OrderUnreadable.
OrderStatement PrepareOrderRead(sqlite3* db, const std::string& sql);
// The same for a statement of fixed text, which the connection keeps prepared between
// searches (kept_statements.h). Raises OrderUnreadable.
KeptStatement KeptOrderRead(sqlite3* db, const std::string& sql);
// Steps it once: true on a row, false at its end. Raises OrderUnreadable.
bool StepOrderRead(sqlite3* db, sqlite3_stmt* statement);
// The name as an SQL identifier in double quotes.
std::string QuotedName(const std::string& name);

// True when an update of the column logs its row as pending: the index's update trigger
// compares it, so that while nothing is pending its stored order is that of the rows.
// An index built before the trigger compared kept columns answers false for a column
// it does not index. Never throws (false when the trigger cannot be read).
bool OrderFollowsUpdates(sqlite3* db, const std::string& column);

class RowSequence {
 public:
  virtual ~RowSequence() = default;
  // The next rowid, or nullopt past the last. Raises OrderUnreadable.
  virtual std::optional<std::int64_t> Next() = 0;
  // Passes over the next `rows` rows, as that many calls of Next would. Raises
  // OrderUnreadable.
  virtual void Skip(std::int64_t rows) {
    for (; rows > 0 && Next(); --rows) {
    }
  }
};

// True when rows written by other programs wait to be folded into the index: its lists
// and stored orders are then not those of the rows. Raises OrderUnreadable.
bool RowsPending(sqlite3* db);

// The rows of the list, in its order.
std::unique_ptr<RowSequence> ListedSequence(std::vector<std::int64_t> rows);

// The rows of the set, which must outlive the sequence, in rowid order or, with sort, in
// its order. While rows are pending the stored order is not theirs: the rows are then
// sorted by SQLite, reading the column. A few candidates are put in order by their
// ranks; many walk the stored sequence, as far as the rows are asked for, keeping the
// candidates. Raises OrderUnreadable.
std::unique_ptr<RowSequence> CandidateSequence(sqlite3* db, const RowBitmap& rows,
                                               const std::optional<IndexedSort>& sort);

}  // namespace db::searchindex
