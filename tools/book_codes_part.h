// The part of the search index that keeps a small code of a few columns of every book
// (db/sqlite/book_codes.h): written by a build, added by a refresh to an index that
// lacks it, kept current for the rows a refresh folds, compared by a check.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "db/sqlite/book_codes.h"

namespace tools {

// The columns a build codes unless told otherwise: those the facets count and filter
// by (class digit, year, location, and the book's part of the loan state).
std::vector<db::searchindex::CodedColumn> DefaultBookCodes();

// Creates the part's tables, empty. Raises ECatalogError.
void CreateBookCodes(sqlite3* db);

// Writes the codes of every book of the columns the table has, replacing what the part
// held, and answers the columns coded: a column of more distinct values than a code
// holds is left out, and none are when a rowid lies outside [0, 2^32). Raises
// ECatalogError.
std::vector<db::searchindex::CodedColumn> WriteBookCodes(
    sqlite3* db, const std::string& bookTable,
    const std::vector<db::searchindex::CodedColumn>& wanted);

// Writes the codes of the rows written (rowids ascending) anew, from their values now
// (a deleted row gets none). False, having written nothing, when a rowid lies outside
// the part or a column would need more codes than it holds: the part is then to be
// written whole. Raises ECatalogError.
bool UpdateBookCodes(sqlite3* db, const std::string& bookTable,
                     const std::vector<db::searchindex::CodedColumn>& columns,
                     const std::vector<std::int64_t>& written);

// Removes the part's tables; nothing when there are none. Raises ECatalogError.
void DropBookCodes(sqlite3* db);

// Compares the codes with the rows, reporting each book whose code stands for another
// value, each book without codes and each code kept for a rowid no book has; gives how
// many differ. Raises ECatalogError.
std::int64_t CheckBookCodes(sqlite3* db, const std::string& bookTable,
                            const std::vector<db::searchindex::CodedColumn>& columns,
                            const std::function<void(const std::string&)>& report);

}  // namespace tools
