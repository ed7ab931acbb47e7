// Deciding a word of three or more units from the search index alone (see
// long_word_grams.h): the rows whose column holds it, without reading the rows, except
// the few that repeat a pair the proof needs to be unique, which LIKE decides.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "db/sqlite/row_bitmap.h"
#include "db/sqlite/search_index.h"

namespace db::searchindex {

// Reads the posting list of the gram in the column into rows; false when it cannot be
// read or is damaged.
using ListReader = std::function<bool(int column, std::int64_t gram, RowBitmap& rows)>;

// More rows than this left to LIKE, and the word is left to the statement's own LIKE.
inline constexpr std::int64_t kMostRowsDecidedByLike = 4096;

// The rows of the book table whose column (an indexed one, term.column) matches
// term.pattern, a run of the units between "%"s: exactly the rows a scan finds, as long
// as the lists are those of the rows (nothing pending). The rows that repeat a shared
// pair are decided by the connection's LIKE, one rowid lookup each. nullopt when a list
// cannot be read or too many rows are left to LIKE.
std::optional<RowBitmap> LongWordRows(sqlite3* db, const IndexInfo& info, const LikeTerm& term,
                                      const std::vector<std::uint32_t>& units,
                                      const ListReader& read);

}  // namespace db::searchindex
