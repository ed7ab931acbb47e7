#include "tools/joined_books_part.h"

#include "db/sqlite/indexed_search.h"
#include "db/sqlite/joined_codes.h"
#include "tools/catalog_error.h"
#include "tools/sqlite_names.h"

namespace tools {

namespace si = db::searchindex;

namespace {

constexpr const char* kTriggers[] = {"liraidx_joined_after_insert", "liraidx_joined_after_update",
                                     "liraidx_joined_after_delete"};

void Run(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string text = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    throw ECatalogError("cannot write the books of the joined rows: " + text);
  }
}

// The rowid of the book whose key the joined row `row` ("NEW", or a table alias) holds,
// as a subquery: the join's equality, so that it finds what the search's join finds.
std::string BookOf(const std::string& bookTable, const si::OneRowJoin& join,
                   const std::string& row) {
  return "(SELECT rowid FROM " + Quoted(bookTable) + " WHERE " + Quoted(join.bookColumn) + " = " +
         row + "." + Quoted(join.joinedColumn) + ")";
}

bool HasRowids(sqlite3* db, const std::string& table) {
  Statement select;
  sqlite3_stmt* prepared = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT wr FROM pragma_table_list WHERE name = ?1 AND type = 'table'",
                         -1, &prepared, nullptr) != SQLITE_OK) {
    return false;
  }
  select.reset(prepared);
  sqlite3_bind_text(prepared, 1, table.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(prepared) == SQLITE_ROW && sqlite3_column_int(prepared, 0) == 0;
}

}  // namespace

std::optional<si::OneRowJoin> JoinedBooksServable(sqlite3* db, const std::string& bookTable,
                                                  const si::OneRowJoin& join) {
  if (!HasRowids(db, join.table) || !si::JoinMeetsOneRow(db, bookTable, join) ||
      !si::UniqueColumn(db, bookTable, join.bookColumn)) {
    return std::nullopt;
  }
  return join;
}

void CreateJoinedBooks(sqlite3* db, const std::string& bookTable, const si::OneRowJoin& join) {
  const std::string part = si::kJoinedBooksTable;
  const std::string table = Quoted(join.table);
  Run(db, "CREATE TABLE " + part + " (joined_rowid INTEGER PRIMARY KEY, book_rowid INTEGER)");
  Run(db, std::string("CREATE TABLE ") + si::kJoinedChangesTable + " (book_rowid INTEGER)");
  // The book of a joined row's entry, before and after the entry is written, is noted
  // as written since the loans' codes were (db/sqlite/joined_codes.h); the entry a
  // REPLACE of the same rowid (an insert's, an update's new one) overwrites is noted so
  // too.
  auto note = [&](const std::string& rowid) {
    return std::string("INSERT INTO ") + si::kJoinedChangesTable + " SELECT book_rowid FROM " +
           part + " WHERE joined_rowid = " + rowid + " AND book_rowid IS NOT NULL;";
  };
  // Plain SQL, so that any program writing loans keeps the part current. A row that an
  // INSERT OR REPLACE deletes fires no delete trigger: its entry stays, and the readers
  // ignore entries of rows that do not exist.
  const std::string write = "INSERT OR REPLACE INTO " + part + " VALUES (NEW.rowid, " +
                            BookOf(bookTable, join, "NEW") + ");";
  const std::string erase = "DELETE FROM " + part + " WHERE joined_rowid = OLD.rowid;";
  Run(db, std::string("CREATE TRIGGER ") + kTriggers[0] + " AFTER INSERT ON " + table + " BEGIN " +
              note("NEW.rowid") + " " + write + " " + note("NEW.rowid") + " END");
  Run(db, std::string("CREATE TRIGGER ") + kTriggers[1] + " AFTER UPDATE ON " + table + " BEGIN " +
              note("OLD.rowid") + " " + note("NEW.rowid") + " " + erase + " " + write + " " +
              note("NEW.rowid") + " END");
  Run(db, std::string("CREATE TRIGGER ") + kTriggers[2] + " AFTER DELETE ON " + table + " BEGIN " +
              note("OLD.rowid") + " " + erase + " END");
}

void WriteJoinedBooks(sqlite3* db, const std::string& bookTable, const si::OneRowJoin& join) {
  Run(db, std::string("DELETE FROM ") + si::kJoinedBooksTable);
  Run(db, std::string("INSERT INTO ") + si::kJoinedBooksTable + " SELECT liraidx_j.rowid, " +
              BookOf(bookTable, join, "liraidx_j") + " FROM " + Quoted(join.table) +
              " AS liraidx_j");
}

void DropJoinedBooks(sqlite3* db) {
  for (const char* trigger : kTriggers) Run(db, std::string("DROP TRIGGER IF EXISTS ") + trigger);
  Run(db, std::string("DROP TABLE IF EXISTS ") + si::kJoinedBooksTable);
  Run(db, std::string("DROP TABLE IF EXISTS ") + si::kJoinedChangesTable);
}

std::int64_t CheckJoinedBooks(sqlite3* db, const std::string& bookTable, const si::OneRowJoin& join,
                              const std::function<void(const std::string&)>& report) {
  const std::string sql =
      "SELECT liraidx_j.rowid, liraidx_m.joined_rowid IS NULL, liraidx_m.book_rowid, " +
      BookOf(bookTable, join, "liraidx_j") + " FROM " + Quoted(join.table) +
      " AS liraidx_j LEFT JOIN " + si::kJoinedBooksTable +
      " AS liraidx_m ON liraidx_m.joined_rowid = liraidx_j.rowid";
  sqlite3_stmt* prepared = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &prepared, nullptr) != SQLITE_OK) {
    throw ECatalogError("cannot read the books of the joined rows: " +
                        std::string(sqlite3_errmsg(db)));
  }
  const Statement select(prepared);
  auto text = [&](int column) {
    return sqlite3_column_type(prepared, column) == SQLITE_NULL
               ? std::string("none")
               : std::to_string(sqlite3_column_int64(prepared, column));
  };
  std::int64_t differing = 0;
  int rc;
  while ((rc = sqlite3_step(prepared)) == SQLITE_ROW) {
    const std::string kept = text(2), now = text(3);
    const bool missing = sqlite3_column_int(prepared, 1) != 0;
    if (!missing && kept == now) continue;
    ++differing;
    report(join.table + " row " + text(0) + ": " +
           (missing ? "not in the index" : "its book kept as " + kept) + ", its book is " + now);
  }
  if (rc != SQLITE_DONE) {
    throw ECatalogError("cannot read the books of the joined rows: " +
                        std::string(sqlite3_errmsg(db)));
  }
  return differing;
}

}  // namespace tools
