#include "db/sqlite/long_word_rows.h"

#include <algorithm>
#include <memory>

#include "db/sqlite/long_word_grams.h"
#include "db/sqlite/search_index_format.h"

namespace db::searchindex {

namespace {

// The rows of every list of the keys (united, or intersected when `all`); nullopt when
// one cannot be read.
std::optional<RowBitmap> ReadLists(std::vector<std::int64_t> keys, int column, bool all,
                                   const ListReader& read) {
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  std::optional<RowBitmap> rows;
  for (std::int64_t key : keys) {
    RowBitmap list;
    if (!read(column, key, list)) return std::nullopt;
    if (!rows) {
      rows = std::move(list);
    } else if (all) {
      rows->Intersect(list);
    } else {
      rows->Unite(list);
    }
  }
  return rows;
}

}  // namespace

std::optional<RowBitmap> LongWordRows(sqlite3* db, const IndexInfo& info, const LikeTerm& term,
                                      const std::vector<std::uint32_t>& units,
                                      const ListReader& read) {
  // Every matching text holds each triple of the word.
  std::vector<std::int64_t> triples, shared;
  for (std::size_t k = 2; k < units.size(); ++k) {
    triples.push_back(TripleKey(units[k - 2], units[k - 1], units[k]));
    if (k >= 3) shared.push_back(RepeatedPairKey(BigramKey(units[k - 2], units[k - 1])));
  }
  std::optional<RowBitmap> rows = ReadLists(triples, term.column, true, read);
  if (!rows || shared.empty()) return rows;
  // A row that holds each shared pair once holds the word; one that repeats a shared
  // pair may hold the triples in places that do not join up.
  std::optional<RowBitmap> doubtful = ReadLists(shared, term.column, false, read);
  if (!doubtful) return std::nullopt;
  doubtful->Intersect(*rows);
  if (doubtful->Count() > kMostRowsDecidedByLike) return std::nullopt;
  rows->Subtract(*doubtful);
  sqlite3_stmt* raw = nullptr;
  char* sql = sqlite3_mprintf("SELECT 1 FROM \"%w\" WHERE rowid = ?1 AND \"%w\" LIKE ?2",
                              info.table.c_str(),
                              info.columns[static_cast<std::size_t>(term.column)].c_str());
  const int prepared = sql ? sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) : SQLITE_NOMEM;
  sqlite3_free(sql);
  if (prepared != SQLITE_OK) {
    sqlite3_finalize(raw);
    return std::nullopt;
  }
  const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> select(raw, sqlite3_finalize);
  sqlite3_bind_text(raw, 2, term.pattern.data(), static_cast<int>(term.pattern.size()),
                    SQLITE_STATIC);
  std::vector<std::int64_t> matching;
  for (std::optional<std::int64_t> rowid = doubtful->First(); rowid;
       rowid = doubtful->After(*rowid)) {
    sqlite3_reset(raw);
    sqlite3_bind_int64(raw, 1, *rowid);
    const int rc = sqlite3_step(raw);
    if (rc == SQLITE_ROW) {
      matching.push_back(*rowid);
    } else if (rc != SQLITE_DONE) {
      return std::nullopt;
    }
  }
  rows->Add(matching);
  return rows;
}

}  // namespace db::searchindex
