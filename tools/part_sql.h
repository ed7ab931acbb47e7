// The statements of a part of the search index that a tool writes or compares, each
// failure raised as ECatalogError beginning with what the part was doing ("cannot
// write the codes of the books").
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "tools/catalog_error.h"
#include "tools/sqlite_names.h"

namespace tools {

class PartSql {
 public:
  PartSql(sqlite3* db, std::string doing) : db_(db), doing_(std::move(doing)) {}

  [[noreturn]] void Fail(const std::string& what) const {
    throw ECatalogError(doing_ + ": " + what + ": " + sqlite3_errmsg(db_));
  }
  void Run(const std::string& sql) const {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sql);
  }
  Statement Prepare(const std::string& sql) const {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      sqlite3_finalize(statement);
      Fail(sql.substr(0, 60));
    }
    return Statement(statement);
  }
  // True on a row, false at the end.
  bool Step(sqlite3_stmt* statement) const {
    const int rc = sqlite3_step(statement);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) Fail("a statement failed");
    return rc == SQLITE_ROW;
  }

 private:
  sqlite3* db_;
  std::string doing_;
};

// True when the table has the column.
inline bool HasColumn(sqlite3* db, const std::string& table, const std::string& column) {
  return sqlite3_table_column_metadata(db, "main", table.c_str(), column.c_str(), nullptr, nullptr,
                                       nullptr, nullptr, nullptr) == SQLITE_OK;
}

// True when a part whose chunks are addressed by 32-bit rowids can hold the rowid.
inline bool RowidInPart(std::int64_t rowid) {
  return rowid >= 0 && rowid < (std::int64_t{1} << 32);
}

}  // namespace tools
