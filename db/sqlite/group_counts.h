// Counting the rows of a narrowed search by the values of some of its columns without
// reading a book row: a column of the book table by the ranks the index keeps for it
// (a rank stands for one value, and a prefix of a text is a run of ranks), a column of
// a table joined one row a book by reading that table, which is small beside the books.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/driver.h"
#include "db/sqlite/book_codes.h"
#include "db/sqlite/row_bitmap.h"
#include "db/sqlite/search_index_format.h"

namespace db::searchindex {

// A joined table read whole for the state of the file of a data version: each row's
// book rowid and the slot of its column's value (cut to the prefix) in values, by
// book rowid.
struct JoinedRead {
  std::string sql;
  std::size_t prefix = 0;
  unsigned dataVersion = 0;
  std::vector<std::pair<std::int64_t, std::uint32_t>> rows;
  std::vector<ColumnValue> values;
};

// What the rows of a narrowed search can be counted from.
struct GroupingSource {
  std::string table;                      // the book table
  std::vector<std::string> orderColumns;  // its columns whose order the index keeps
  std::vector<OneRowJoin> joins;          // every join of the head
  std::int64_t books = 0;                 // book rows when the index was built
  // The join whose rows' books the index keeps (kJoinedBooksTable), if any.
  std::optional<OneRowJoin> joinedBooks;
  // The joined table the connection read whole last, kept for the next count or filter
  // of the same state (the loan table, read by the filter and again by the counts);
  // null to keep nothing.
  std::shared_ptr<JoinedRead> lastJoinedRead;
  // The columns the index keeps codes of (book_codes.h), read before the ranks; empty
  // when it keeps none.
  std::vector<CodedColumn> bookCodes;
  // The column of the joinedBooks join the index keeps codes of (joined_codes.h), if any.
  std::optional<CodedColumn> joinedCodes;
};

// A column to count by, named by the table it comes from.
struct GroupedColumn {
  std::string table, column;
  std::size_t prefix = 0;  // as GroupColumn::Prefix
};

// True when both name the same column by the same prefix (names compared as SQL
// compares them).
bool SameColumn(const GroupedColumn& a, const GroupedColumn& b);
// True when both name the same columns, in order.
bool SameColumns(const std::vector<GroupedColumn>& a, const std::vector<GroupedColumn>& b);

// Counts of sets of columns taken in the walk that decided the rows they count (the
// filters' walk, asked to count along): what CountGroupSetsByRank answers for the rows.
struct CountedAlong {
  std::vector<std::vector<GroupedColumn>> sets;
  std::vector<std::vector<GroupCount>> counts;
};

// True when the rows are fewer than 16,384, or than a 64th of the books: reading
// them (about 2 us a row) costs less than reading their ranks, which cost about as much
// a candidate and a column when they are scattered.
bool FewRows(const RowBitmap& rows, const GroupingSource& source);

// True when the rows are fewer than 16 a chunk of rowids they fall in: the codes of a
// chunk (book_codes.h, joined_codes.h) cost about as many page reads as reading 10 rows
// with their loans.
bool FewRowsForCodes(const RowBitmap& rows);

// The rows counted by the values of each set of columns, as GROUP BY would count them:
// an answer a set. The rows must be the exact rows of the search in the state the
// connection reads, with nothing pending, so that the stored ranks and codes are those of
// the rows. Where every column of every set is coded the sets are counted in one walk of
// the rows' codes. nullopt when a column is neither a kept column of the book table nor
// one of a table joined once, or is not compared as bytes, and for so few rows that
// reading them costs less. Raises OrderUnreadable when the stored order or codes cannot
// be read.
std::optional<std::vector<std::vector<GroupCount>>> CountGroupSetsByRank(
    sqlite3* db, const RowBitmap& rows, const GroupingSource& source,
    const std::vector<std::vector<GroupedColumn>>& sets);

// Values of the columns that candidates hold, and a candidate that holds them.
struct ValueTuple {
  std::vector<ColumnValue> values;  // one a column, a text cut to its prefix
  std::int64_t row = -1;            // -1 when no candidate holds them
};

// The candidates told apart by the values of the columns: groups of distinct values,
// and the group of each tuple id that TupleOfEachRow visits.
inline constexpr std::uint32_t kNoGroup = UINT32_MAX;
struct RowTuples {
  std::vector<std::uint32_t> groupOf;  // tuple id -> index in groups; kNoGroup for an
                                       // id no candidate met
  std::vector<ValueTuple> groups;
};

// The rows of one chunk of rowids, in rowid order, with the tuple id of each. Where
// valueIds, every column is read from the codes of the books or a joined table and an
// id stands for one set of values; a rank stands for a value of a column whole, so
// several ids may hold the values cut to a prefix.
struct ChunkTuples {
  const std::vector<std::int64_t>& rows;
  const std::vector<std::uint32_t>& ids;
  bool valueIds = false;
};
using TupleVisit = std::function<void(const ChunkTuples&)>;

// Calls visit for each chunk's rows, in rowid order, a tuple id a row standing for the
// values of the columns the row holds (several ids may hold equal values), read from
// the stored ranks and the joined tables as CountGroupSetsByRank reads them; then answers
// what each id stands for. nullopt, and raises, as CountGroupSetsByRank, however few the
// rows are.
std::optional<RowTuples> TupleOfEachRow(sqlite3* db, const RowBitmap& rows,
                                        const GroupingSource& source,
                                        const std::vector<GroupedColumn>& columns,
                                        const TupleVisit& visit);

}  // namespace db::searchindex
