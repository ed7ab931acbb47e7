#include "db/sqlite/joined_codes.h"

#include <cstring>
#include <unordered_map>

namespace db::searchindex {

namespace {

[[noreturn]] void Unreadable(const std::string& what) {
  throw OrderUnreadable("cannot read the codes of the loans: " + what);
}

// True when the loans' books hold no entry of a joined row that is gone: every joined
// row has its entry (the triggers write it), so the entries are as many as the rows
// exactly when no REPLACE left one behind, whose book's code would still count it.
bool NoEntryLeftBehind(sqlite3* db, const OneRowJoin& join) {
  OrderStatement counts =
      PrepareOrderRead(db, std::string("SELECT (SELECT count(*) FROM ") + kJoinedBooksTable +
                               ") = (SELECT count(*) FROM " + QuotedName(join.table) + ")");
  return StepOrderRead(db, counts.get()) && sqlite3_column_int(counts.get(), 0) == 1;
}

// True when the joined table has no uniqueness but that of its key column (and its
// rowid): a REPLACE then deletes only a row of the same key, whose book the triggers
// note, or of the same rowid, whose entry they note before overwriting it, so an entry
// left behind never stands for a book whose code is read.
bool KeyAloneUnique(sqlite3* db, const OneRowJoin& join) {
  OrderStatement others =
      PrepareOrderRead(db,
                       "SELECT count(*) FROM pragma_index_list(?1) AS l WHERE l.\"unique\" AND NOT"
                       " (SELECT count(*) = 1 AND max(name) = ?2 COLLATE NOCASE"
                       " FROM pragma_index_info(l.name))");
  sqlite3_bind_text(others.get(), 1, join.table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(others.get(), 2, join.joinedColumn.c_str(), -1, SQLITE_TRANSIENT);
  return StepOrderRead(db, others.get()) && sqlite3_column_int(others.get(), 0) == 0;
}

}  // namespace

JoinedCodeReader::JoinedCodeReader(sqlite3* db)
    : db_(db),
      select_(PrepareOrderRead(
          db, std::string("SELECT data FROM ") + kJoinedCodesTable + " WHERE chunk = ?1")) {}

std::unique_ptr<JoinedCodeReader> JoinedCodeReader::Open(sqlite3* db, const std::string& bookTable,
                                                         const OneRowJoin& join,
                                                         const CodedColumn& coded,
                                                         std::size_t prefix) {
  if (!KeyAloneUnique(db, join) && !NoEntryLeftBehind(db, join)) return nullptr;
  std::unique_ptr<JoinedCodeReader> reader(new JoinedCodeReader(db));
  // The kept values, cut to the coded prefix, by the bytes GROUP BY tells them apart by.
  std::vector<ColumnValue> kept(1);
  std::unordered_map<std::string, std::uint8_t> codeOf;
  OrderStatement values = PrepareOrderRead(
      db, std::string("SELECT code, value FROM ") + kJoinedCodeValuesTable + " ORDER BY code");
  while (StepOrderRead(db, values.get())) {
    if (sqlite3_column_int64(values.get(), 0) != static_cast<std::int64_t>(kept.size()) ||
        kept.size() > kMostJoinedCode) {
      Unreadable("the values of the codes are not numbered from 1");
    }
    kept.push_back(ReadColumnValue(values.get(), 1));
    codeOf.emplace(GroupKeyBytes(kept.back()), static_cast<std::uint8_t>(kept.size() - 1));
  }
  // The books whose joined row was written since the codes were: their value now, by
  // the join's equality, as the search's join finds it.
  OrderStatement written =
      PrepareOrderRead(db, std::string("SELECT DISTINCT book_rowid FROM ") + kJoinedChangesTable +
                               " WHERE book_rowid IS NOT NULL ORDER BY book_rowid");
  OrderStatement now = PrepareOrderRead(
      db, "SELECT " + QuotedName(coded.name) + " FROM " + QuotedName(join.table) + " WHERE " +
              QuotedName(join.joinedColumn) + " = (SELECT " + QuotedName(join.bookColumn) +
              " FROM " + QuotedName(bookTable) + " WHERE rowid = ?1)");
  while (StepOrderRead(db, written.get())) {
    const std::int64_t book = sqlite3_column_int64(written.get(), 0);
    sqlite3_reset(now.get());
    sqlite3_bind_int64(now.get(), 1, book);
    std::uint8_t code = 0;
    if (StepOrderRead(db, now.get())) {
      const ColumnValue value = CutValue(ReadColumnValue(now.get(), 0), coded.prefix);
      if (StepOrderRead(db, now.get())) return nullptr;  // two joined rows meet the book
      if (value.ValueKind != ColumnValue::Kind::kNull) {
        auto [at, added] =
            codeOf.emplace(GroupKeyBytes(value), static_cast<std::uint8_t>(kept.size()));
        if (added) {
          if (kept.size() > kMostJoinedCode) return nullptr;
          kept.push_back(value);
        }
        code = at->second;
      }
    }
    reader->written_[book] = code;
  }
  for (ColumnValue& value : kept) reader->values_.push_back(CutValue(std::move(value), prefix));
  return reader;
}

const std::array<std::uint8_t, kChunkRows>& JoinedCodeReader::Read(std::int64_t chunk) {
  sqlite3_reset(select_.get());
  sqlite3_bind_int64(select_.get(), 1, chunk);
  if (StepOrderRead(db_, select_.get())) {
    if (sqlite3_column_bytes(select_.get(), 0) != kChunkRows)
      Unreadable("a chunk of the wrong size");
    std::memcpy(chunk_.data(), sqlite3_column_blob(select_.get(), 0), kChunkRows);
  } else {
    chunk_.fill(0);
  }
  for (auto at = written_.lower_bound(chunk * kChunkRows);
       at != written_.end() && ChunkOf(at->first) == chunk; ++at) {
    chunk_[LowBits(at->first)] = at->second;
  }
  return chunk_;
}

}  // namespace db::searchindex
