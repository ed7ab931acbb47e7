// What a database driver gives the engine: a database, statements prepared on it and
// forward-only cursors over their results. The SQLite driver is part of the program;
// the PostgreSQL driver is a plug-in module built against the same header, so these
// classes are pure interfaces and failures are DriverError values.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/database_error.h"
#include "matching/match_mode.h"

namespace db {

// A failure inside a driver: the engine's code and the entries for its error stack.
struct DriverError {
  std::uint16_t Code = 0;
  std::vector<TDBError> Entries;
};

// How LIKE compares text, an alias setting; the matching layer defines it.
using matching::MatchMode;

// One value of the current row, owned by the cursor until it moves.
struct ColumnValue {
  enum class Kind { kNull, kInteger, kFloat, kText, kOther };
  Kind ValueKind = Kind::kNull;
  std::int64_t Integer = 0;
  double Float = 0;
  std::string Text;  // bytes of a text value, or the driver's text form for kOther
};

// A column of a result whose rows are counted by its values: a text or blob value
// counts by its first Prefix bytes (0: the whole value), any other value whole.
struct GroupColumn {
  std::string Name;
  std::size_t Prefix = 0;
  bool operator==(const GroupColumn&) const = default;
};

// A condition of a statement's WHERE, written there as it stands, restated for a driver
// that can decide it without reading each row: its truth for a row depends only on the
// values of Columns (named as the statement names them, unqualified; a text or blob by
// its first Prefix bytes), so it can be decided once for each distinct set of values. A
// driver may narrow the rows it reads to those that meet it; one that cannot ignores it,
// since the statement holds the condition anyway.
struct RowFilter {
  std::string Condition;
  std::vector<GroupColumn> Columns;
  bool operator==(const RowFilter& other) const {
    if (Condition != other.Condition || Columns.size() != other.Columns.size()) return false;
    for (std::size_t i = 0; i < Columns.size(); ++i) {
      if (Columns[i].Name != other.Columns[i].Name || Columns[i].Prefix != other.Columns[i].Prefix)
        return false;
    }
    return true;
  }
};

// One group of a result's rows: the value of each grouped column (in the order they
// were asked for, a text or blob cut to its prefix) and how many rows hold them.
struct GroupCount {
  std::vector<ColumnValue> Keys;
  std::int64_t Rows = 0;
};

// A forward-only result. Right after Execute it stands on the first row, if any.
class Cursor {
 public:
  virtual ~Cursor() = default;

  // Names of the result's columns, in order.
  virtual const std::vector<std::string>& ColumnNames() const = 0;

  // True while the cursor stands on a row it has read.
  virtual bool OnRow() const = 0;

  // Reads the next row. Returns false (and keeps the last row's values) at the end.
  // Throws DriverError.
  virtual bool Next() = 0;

  // Moves past `rows` rows, as that many calls of Next would (and from the last row it
  // stays there): a driver that knows where a row lies without reading the rows before
  // it reads only the row it lands on. True while it stands on a row. Throws DriverError.
  virtual bool Skip(std::int64_t rows) {
    for (; rows > 0; --rows) {
      if (!Next()) return false;
    }
    return OnRow();
  }

  // The values of the row read last, one per column; all null when no row was read (an
  // empty result), so that a field of an empty result reads as null.
  virtual const std::vector<ColumnValue>& Row() const = 0;

  // The number of rows of the whole result, counted by the database without reading
  // them here. Throws DriverError when the database cannot count it this way.
  virtual std::int64_t CountRows() = 0;

  // The number of rows, counted by stepping through a second run of the statement
  // without keeping rows. Throws DriverError.
  virtual std::int64_t CountRowsByStepping() = 0;

  // The rows of the whole result counted by the values of the columns, as a GROUP BY of
  // them would count (texts compared as bytes), in no particular order, answered from
  // what the database keeps beside the rows without reading them. nullopt when the
  // driver cannot count them so: the caller then reads the rows. Throws DriverError.
  virtual std::optional<std::vector<GroupCount>> CountGroups(const std::vector<GroupColumn>&) {
    return std::nullopt;
  }

  // CountGroups for each set of columns, an answer a set, which a driver may count in one
  // pass over what it keeps; nullopt when it cannot count any one of them so. Throws
  // DriverError.
  virtual std::optional<std::vector<std::vector<GroupCount>>> CountGroupSets(
      const std::vector<std::vector<GroupColumn>>& sets) {
    std::vector<std::vector<GroupCount>> counts;
    for (const std::vector<GroupColumn>& columns : sets) {
      std::optional<std::vector<GroupCount>> one = CountGroups(columns);
      if (!one) return std::nullopt;
      counts.push_back(std::move(*one));
    }
    return counts;
  }
};

// An SQL text with "?" markers, prepared once and executed any number of times; only
// one cursor of a statement is open at a time.
class Statement {
 public:
  virtual ~Statement() = default;

  // Runs the statement with the texts bound to its markers in order. Returns its
  // result, or null when the statement gave no result set. Throws DriverError.
  virtual std::unique_ptr<Cursor> Execute(const std::vector<std::string>& params) = 0;
};

// An open database.
// Why a search statement was not narrowed by the catalogue's search index and reads
// every book instead.
enum class IndexUnused {
  kNone,            // it was narrowed
  kNoIndex,         // the catalogue holds no search index
  kHalfBuilt,       // a build is running, or one stopped before it ended
  kOtherFormat,     // the index was written in another format than this program reads
  kSchemaChanged,   // the catalogue's schema changed since the build
  kTooManyPending,  // more rows were written since the last refresh than its limit
  kDamaged,         // the index's description or a posting list cannot be read
  kOtherMode,       // the index was built for another matching mode than the search's
  kOlderFolding,    // a loose index built with an older loose folding than this program's
  kNotNarrowable,   // the statement is not one the index narrows, or its words are too common
};

// The reason in a few words, as catalog_index check and the program's log give it.
std::string_view IndexUnusedText(IndexUnused reason);

class Database {
 public:
  virtual ~Database() = default;

  // Prepares an SQL text with "?" markers. Throws DriverError.
  virtual std::unique_ptr<Statement> Prepare(std::string_view sql) = 0;

  // Prepares sql whose WHERE holds some of the filters' conditions; a driver that can
  // decide them from what it keeps beside the rows reads only the rows that meet them.
  // countAlong names sets of columns (as the filters name theirs) whose counts of those
  // rows a later CountGroupSets of the same search will ask: a driver that walks the
  // rows to decide the filters may count them in the same walk. Throws DriverError.
  virtual std::unique_ptr<Statement> PrepareFiltered(
      std::string_view sql, const std::vector<RowFilter>&,
      const std::vector<std::vector<GroupColumn>>& /*countAlong*/) {
    return Prepare(sql);
  }

  // Why the search statement last prepared was not narrowed by a search index; kNoIndex
  // for a database that keeps none, or before any search was prepared.
  virtual IndexUnused LastIndexUnused() const { return IndexUnused::kNoIndex; }

  // A long-lived process keeps a database between requests when it can. Whether nothing
  // of the request just ended is left on it (an open transaction, a statement half read)
  // so that the next request may use it; false unless the driver knows.
  virtual bool KeptForNextRequest() const { return false; }

  // Readies a kept database for the next request: its time limit counts from now and
  // nothing the request before saw shows (why its search passed the index by). False
  // when the database cannot serve it (its connection was lost) and must be opened again.
  virtual bool StartRequest() { return false; }
};

}  // namespace db
