// The part of the search index that keeps the book of each row of a table joined one
// row a book (the loans, db::searchindex::kJoinedBooksTable): its table and the
// triggers on the joined table that keep it current while other programs (the
// circulation system) write loans, so that the loan state of many books is read
// without a look-up of each book by its key.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "db/sqlite/search_index_format.h"

namespace tools {

// The join when the part can serve it: the joined table has rowids and the join meets
// at most one of its rows a book (db::searchindex::JoinMeetsOneRow), and the book
// column is unique, so that each joined row has at most one book. nullopt otherwise,
// and for a table or column that does not exist.
std::optional<db::searchindex::OneRowJoin> JoinedBooksServable(
    sqlite3* db, const std::string& bookTable, const db::searchindex::OneRowJoin& join);

// Creates the part's table, the table of the books whose joined row was written
// (db::searchindex::kJoinedChangesTable) and the triggers on the joined table that
// write both. A joined row written gets the book that has its key now: while a book row is pending no search reads the
// part, and a refresh writes it anew (WriteJoinedBooks). Raises ECatalogError.
void CreateJoinedBooks(sqlite3* db, const std::string& bookTable,
                       const db::searchindex::OneRowJoin& join);

// Writes the book of every joined row, replacing what the part held. Raises
// ECatalogError.
void WriteJoinedBooks(sqlite3* db, const std::string& bookTable,
                      const db::searchindex::OneRowJoin& join);

// Removes the part's triggers and table; nothing when there are none. Raises
// ECatalogError.
void DropJoinedBooks(sqlite3* db);

// Compares the part with the joined table's rows and the books now, reporting each
// joined row whose book differs through report; gives how many differ.
std::int64_t CheckJoinedBooks(sqlite3* db, const std::string& bookTable,
                              const db::searchindex::OneRowJoin& join,
                              const std::function<void(const std::string&)>& report);

}  // namespace tools
