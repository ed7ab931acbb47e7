// Reading one gram's posting list of the search index, every chunk of it, into a set
// of rowids: what the searches and the ranking of their rows read of the lists.
#pragma once

#include <sqlite3.h>

#include <cstdint>

#include "db/sqlite/row_bitmap.h"

namespace db::searchindex {

// Reads the posting list of the gram in the column into rows. select is
// "SELECT chunk, data FROM <postings> WHERE col = ?1 AND gram = ?2 ORDER BY chunk".
// False when the list cannot be read or is damaged.
bool ReadList(sqlite3_stmt* select, int column, std::int64_t gram, RowBitmap& rows);

}  // namespace db::searchindex
