// Small codes of one column of the table joined one row a book (the borrower of a
// loan), an optional part of the search index kept beside the books of the loans
// (kJoinedBooksTable), so that the loan state of a broad search's books is read as a
// byte a book instead of the loan table row by row.
//
// The table kJoinedCodesTable (chunk INTEGER PRIMARY KEY, data BLOB NOT NULL) holds,
// for a chunk of 2^16 book rowids that any joined row meets, one byte a rowid: 0 where
// no joined row meets the book or its value is NULL, code c >= 1 the value
// kJoinedCodeValuesTable (code INTEGER PRIMARY KEY, value) holds, cut to the coded
// prefix; a chunk without a row holds 0 for every rowid. The triggers of the loans'
// books write to kJoinedChangesTable (book_rowid) each book whose joined row was
// written since the codes were: the codes of those books are read from the rows. The
// settings entry kJoinedCodesSetting names the coded column of the join's table,
// "NAME" or "NAME:PREFIX"; empty or absent, the index keeps no such codes.
#pragma once

#include <sqlite3.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/driver.h"
#include "db/sqlite/book_codes.h"
#include "db/sqlite/search_index_format.h"
#include "db/sqlite/stored_order.h"

namespace db::searchindex {

inline constexpr char kJoinedCodesTable[] = "liraidx_joined_codes";
inline constexpr char kJoinedCodeValuesTable[] = "liraidx_joined_code_values";
inline constexpr char kJoinedChangesTable[] = "liraidx_joined_changes";
inline constexpr char kJoinedCodesSetting[] = "joined_codes";
// A code is one byte.
inline constexpr std::uint32_t kMostJoinedCode = 0xFF;

// The kept codes of the joined column with the books written since, a chunk at a time.
class JoinedCodeReader {
 public:
  // The codes of `coded` (the column the part codes) for the join of the book table,
  // read at prefix; null when the part cannot stand for the rows now: an entry of the
  // loans' books left by a joined row a REPLACE deleted, a book written since that
  // meets two joined rows, or more values than codes. Raises OrderUnreadable.
  static std::unique_ptr<JoinedCodeReader> Open(sqlite3* db, const std::string& bookTable,
                                                const OneRowJoin& join, const CodedColumn& coded,
                                                std::size_t prefix);

  // Slot -> value, cut to the prefix read; slot 0 is NULL.
  const std::vector<ColumnValue>& Values() const { return values_; }
  // The slots of the 2^16 rowids of the chunk, by their low bits. Raises OrderUnreadable.
  const std::array<std::uint8_t, kChunkRows>& Read(std::int64_t chunk);

 private:
  explicit JoinedCodeReader(sqlite3* db);

  sqlite3* db_;
  OrderStatement select_;
  std::vector<ColumnValue> values_;
  std::map<std::int64_t, std::uint8_t> written_;  // book rowid -> its code now
  std::array<std::uint8_t, kChunkRows> chunk_{};
};

}  // namespace db::searchindex
