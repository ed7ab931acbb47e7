#include "db/sqlite/posting_reader.h"

#include <climits>
#include <string_view>
#include <vector>

#include "db/sqlite/search_index_format.h"

namespace db::searchindex {

bool ReadList(sqlite3_stmt* select, int column, std::int64_t gram, RowBitmap& rows) {
  sqlite3_reset(select);
  sqlite3_bind_int(select, 1, column);
  sqlite3_bind_int64(select, 2, gram);
  std::vector<std::int64_t> chunkRows;
  chunkRows.reserve(kChunkRows);  // a chunk never holds more
  std::int64_t lastChunk = INT64_MIN;
  int rc;
  while ((rc = sqlite3_step(select)) == SQLITE_ROW) {
    const std::int64_t chunk = sqlite3_column_int64(select, 0);
    const char* data = static_cast<const char*>(sqlite3_column_blob(select, 1));
    const int size = sqlite3_column_bytes(select, 1);
    if (chunk <= lastChunk || !data) return false;
    const std::string_view list(data, size);
    if (const std::string_view bits = PostingBitmap(list, {column, gram, chunk}); !bits.empty()) {
      rows.AddChunkBits(chunk, bits);
    } else {
      if (!DecodePosting(list, {column, gram, chunk}, chunkRows)) return false;
      rows.Add(chunkRows);
      chunkRows.clear();
    }
    lastChunk = chunk;
  }
  return rc == SQLITE_DONE;
}

}  // namespace db::searchindex
