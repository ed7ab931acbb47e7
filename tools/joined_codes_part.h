// The part of the search index that keeps a one-byte code of a column of the table
// joined one row a book (the borrower of the loans, db/sqlite/joined_codes.h) for every
// book: written by a build and a refresh from the loans' books, compared by a check.
// The triggers of the loans' books (joined_books_part.h) note the books whose loan is
// written in between.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "db/sqlite/book_codes.h"
#include "db/sqlite/search_index_format.h"

namespace tools {

// The column a build codes unless told otherwise: the borrower, by its first byte, all
// the loan state reads of the loan.
db::searchindex::CodedColumn DefaultJoinedCodes();

// Creates the part's tables, empty. Raises ECatalogError.
void CreateJoinedCodes(sqlite3* db);

// Writes the code of every book's joined row, from the loans' books and the joined
// table now, replacing what the part held, and empties the notes of books written
// since. Answers the column coded: nullopt, writing no codes, when the joined table
// has no such column, a book meets two joined rows, a book rowid lies outside [0, 2^32)
// or the values outnumber the codes. Raises ECatalogError.
std::optional<db::searchindex::CodedColumn> WriteJoinedCodes(
    sqlite3* db, const db::searchindex::OneRowJoin& join,
    const db::searchindex::CodedColumn& wanted);

// Removes the part's tables; nothing when there are none. Raises ECatalogError.
void DropJoinedCodes(sqlite3* db);

// Compares the codes with the joined rows, reporting each book (not noted as written
// since) whose code stands for another value than its joined row holds; gives how many
// differ. Raises ECatalogError.
std::int64_t CheckJoinedCodes(sqlite3* db, const db::searchindex::OneRowJoin& join,
                              const db::searchindex::CodedColumn& coded,
                              const std::function<void(const std::string&)>& report);

}  // namespace tools
