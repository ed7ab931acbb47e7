#include "tools/book_codes_part.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "db/sqlite/search_index.h"
#include "db/sqlite/search_index_format.h"
#include "db/sqlite/stored_order.h"
#include "tools/catalog_error.h"
#include "tools/part_sql.h"
#include "tools/sqlite_names.h"

namespace tools {

namespace si = db::searchindex;

namespace {

PartSql Sql(sqlite3* db) { return PartSql(db, "cannot write the codes of the books"); }

std::string SelectedColumns(const std::vector<si::CodedColumn>& columns) {
  std::string list;
  for (const si::CodedColumn& column : columns) list += ", " + Quoted(column.name);
  return list;
}

// The codes of one chunk, every column's by the rowids' low bits.
class ChunkCodes {
 public:
  explicit ChunkCodes(std::size_t columns) : codes_(columns * si::kChunkRows) {}

  std::uint16_t& At(std::size_t place, std::uint16_t low) {
    return codes_[place * si::kChunkRows + low];
  }
  std::uint16_t At(std::size_t place, std::uint16_t low) const {
    return codes_[place * si::kChunkRows + low];
  }
  void Clear() { std::fill(codes_.begin(), codes_.end(), 0); }
  // Takes a stripe's stored bytes as the column's codes; false for a stripe of the wrong
  // size.
  bool Take(std::size_t place, const void* bytes, std::size_t size) {
    return si::CodesOfStripe(static_cast<const unsigned char*>(bytes), size,
                             codes_.data() + place * si::kChunkRows);
  }
  // Writes every column's stripe of the chunk through the statement (stripe, data).
  void Write(sqlite3* db, sqlite3_stmt* insert, std::int64_t chunk) const;

 private:
  std::vector<std::uint16_t> codes_;
};

void ChunkCodes::Write(sqlite3* db, sqlite3_stmt* insert, std::int64_t chunk) const {
  for (std::size_t place = 0; place * si::kChunkRows < codes_.size(); ++place) {
    const std::vector<unsigned char> stripe =
        si::StripeOfCodes(codes_.data() + place * si::kChunkRows);
    sqlite3_reset(insert);
    sqlite3_bind_int64(insert, 1, si::StripeKey(chunk, place));
    sqlite3_bind_blob(insert, 2, stripe.data(), static_cast<int>(stripe.size()), SQLITE_STATIC);
    Sql(db).Step(insert);
  }
}

// The codes of each column's values, by the bytes GROUP BY tells them apart by; a new
// value gets the next code and is written to the values table at once.
class Dictionary {
 public:
  Dictionary(sqlite3* db, const std::vector<si::CodedColumn>& columns)
      : db_(db),
        columns_(columns),
        codes_(columns.size()),
        insert_(Sql(db).Prepare(std::string("INSERT INTO ") + si::kBookCodeValuesTable +
                                " VALUES (?1, ?2, ?3)")) {}

  // The codes the values table holds now.
  void Load() {
    Statement select =
        Sql(db_).Prepare(std::string("SELECT col, code, value FROM ") + si::kBookCodeValuesTable);
    while (Sql(db_).Step(select.get())) {
      const auto place = static_cast<std::size_t>(sqlite3_column_int64(select.get(), 0));
      if (place >= codes_.size()) throw ECatalogError("the codes of the books are damaged");
      codes_[place].emplace(si::GroupKeyBytes(si::ReadColumnValue(select.get(), 2)),
                            static_cast<std::uint32_t>(sqlite3_column_int64(select.get(), 1)));
    }
  }

  // The code of the value of the column at place in the row the statement stands on
  // (column place + 1); nullopt when the column holds as many values as codes.
  std::optional<std::uint32_t> CodeOf(std::size_t place, sqlite3_stmt* row) {
    const db::ColumnValue value =
        si::CutValue(si::ReadColumnValue(row, static_cast<int>(place) + 1), columns_[place].prefix);
    auto& codes = codes_[place];
    const std::string key = si::GroupKeyBytes(value);
    if (const auto found = codes.find(key); found != codes.end()) return found->second;
    if (codes.size() >= si::kMostCode) return std::nullopt;
    const auto code = static_cast<std::uint32_t>(codes.size() + 1);
    codes.emplace(key, code);
    sqlite3_reset(insert_.get());
    sqlite3_bind_int64(insert_.get(), 1, static_cast<std::int64_t>(place));
    sqlite3_bind_int64(insert_.get(), 2, code);
    db::searchindex::BindColumnValue(insert_.get(), 3, value);
    Sql(db_).Step(insert_.get());
    return code;
  }

 private:
  sqlite3* db_;
  const std::vector<si::CodedColumn>& columns_;
  std::vector<std::unordered_map<std::string, std::uint32_t>> codes_;
  Statement insert_;
};

// Puts the codes of the row the statement stands on, of low bits low, into the chunk's
// codes; the place of a column out of codes when one is.
std::optional<std::size_t> FillCodes(Dictionary& dictionary, sqlite3_stmt* row, std::size_t columns,
                                     std::uint16_t low, ChunkCodes& chunkCodes) {
  for (std::size_t place = 0; place < columns; ++place) {
    const std::optional<std::uint32_t> code = dictionary.CodeOf(place, row);
    if (!code) return place;
    chunkCodes.At(place, low) = static_cast<std::uint16_t>(*code);
  }
  return std::nullopt;
}

// Writes every book's codes of the columns; the place of a column out of codes, having
// written part of them, when one is.
std::optional<std::size_t> TryWriteAll(sqlite3* db, const std::string& bookTable,
                                       const std::vector<si::CodedColumn>& columns) {
  Sql(db).Run(std::string("DELETE FROM ") + si::kBookCodesTable);
  Sql(db).Run(std::string("DELETE FROM ") + si::kBookCodeValuesTable);
  Dictionary dictionary(db, columns);
  ChunkCodes chunkCodes(columns.size());
  Statement insert =
      Sql(db).Prepare(std::string("INSERT INTO ") + si::kBookCodesTable + " VALUES (?1, ?2)");
  std::int64_t chunk = -1;
  auto flush = [&] {
    if (chunk < 0) return;
    chunkCodes.Write(db, insert.get(), chunk);
    chunkCodes.Clear();
  };
  Statement rows = Sql(db).Prepare("SELECT rowid" + SelectedColumns(columns) + " FROM " +
                                   Quoted(bookTable) + " ORDER BY rowid");
  while (Sql(db).Step(rows.get())) {
    const std::int64_t rowid = sqlite3_column_int64(rows.get(), 0);
    if (si::ChunkOf(rowid) != chunk) {
      flush();
      chunk = si::ChunkOf(rowid);
    }
    if (const auto full =
            FillCodes(dictionary, rows.get(), columns.size(), si::LowBits(rowid), chunkCodes)) {
      return full;
    }
  }
  flush();
  return std::nullopt;
}

bool RowidsFit(sqlite3* db, const std::string& bookTable) {
  Statement bounds = Sql(db).Prepare("SELECT min(rowid), max(rowid) FROM " + Quoted(bookTable));
  Sql(db).Step(bounds.get());
  return RowidInPart(sqlite3_column_int64(bounds.get(), 0)) &&
         RowidInPart(sqlite3_column_int64(bounds.get(), 1));
}

}  // namespace

std::vector<si::CodedColumn> DefaultBookCodes() {
  return {{"MS_SEIKYU", 1}, {"MS_SYUNEN", 0}, {"MS_SYOZAI", 0},
          {"MS_TMARK", 1},  {"MS_TFMSUU", 1}, {"MS_KKUBUN", 1}};
}

void CreateBookCodes(sqlite3* db) {
  Sql(db).Run(std::string("CREATE TABLE ") + si::kBookCodesTable +
              " (stripe INTEGER PRIMARY KEY, data BLOB NOT NULL)");
  Sql(db).Run(std::string("CREATE TABLE ") + si::kBookCodeValuesTable +
              " (col INTEGER, code INTEGER, value, PRIMARY KEY (col, code)) WITHOUT ROWID");
}

std::vector<si::CodedColumn> WriteBookCodes(sqlite3* db, const std::string& bookTable,
                                            const std::vector<si::CodedColumn>& wanted) {
  std::vector<si::CodedColumn> columns;
  for (const si::CodedColumn& column : wanted) {
    if (columns.size() < si::kMostCodedColumns && HasColumn(db, bookTable, column.name))
      columns.push_back(column);
  }
  if (!RowidsFit(db, bookTable)) columns.clear();
  while (!columns.empty()) {
    const std::optional<std::size_t> full = TryWriteAll(db, bookTable, columns);
    if (!full) return columns;
    columns.erase(columns.begin() + static_cast<std::ptrdiff_t>(*full));
  }
  Sql(db).Run(std::string("DELETE FROM ") + si::kBookCodesTable);
  Sql(db).Run(std::string("DELETE FROM ") + si::kBookCodeValuesTable);
  return {};
}

bool UpdateBookCodes(sqlite3* db, const std::string& bookTable,
                     const std::vector<si::CodedColumn>& columns,
                     const std::vector<std::int64_t>& written) {
  if (columns.empty()) return true;
  if (!std::all_of(written.begin(), written.end(), RowidInPart)) return false;
  Sql(db).Run("SAVEPOINT liraidx_book_codes");
  Dictionary dictionary(db, columns);
  dictionary.Load();
  Statement readStripe = Sql(db).Prepare(std::string("SELECT data FROM ") + si::kBookCodesTable +
                                         " WHERE stripe = ?1");
  Statement writeStripe = Sql(db).Prepare(std::string("INSERT OR REPLACE INTO ") +
                                          si::kBookCodesTable + " VALUES (?1, ?2)");
  Statement readRow = Sql(db).Prepare("SELECT rowid" + SelectedColumns(columns) + " FROM " +
                                      Quoted(bookTable) + " WHERE rowid = ?1");
  ChunkCodes chunkCodes(columns.size());
  bool fits = true;
  for (std::size_t first = 0; fits && first < written.size();) {
    const std::int64_t chunk = si::ChunkOf(written[first]);
    chunkCodes.Clear();
    for (std::size_t place = 0; place < columns.size(); ++place) {
      sqlite3_reset(readStripe.get());
      sqlite3_bind_int64(readStripe.get(), 1, si::StripeKey(chunk, place));
      if (Sql(db).Step(readStripe.get()) &&
          !chunkCodes.Take(place, sqlite3_column_blob(readStripe.get(), 0),
                           static_cast<std::size_t>(sqlite3_column_bytes(readStripe.get(), 0)))) {
        throw ECatalogError("the codes of the books are damaged: a stripe of the wrong size");
      }
    }
    std::size_t next = first;
    for (; fits && next < written.size() && si::ChunkOf(written[next]) == chunk; ++next) {
      const std::uint16_t low = si::LowBits(written[next]);
      for (std::size_t place = 0; place < columns.size(); ++place) chunkCodes.At(place, low) = 0;
      sqlite3_reset(readRow.get());
      sqlite3_bind_int64(readRow.get(), 1, written[next]);
      if (Sql(db).Step(readRow.get()))
        fits = !FillCodes(dictionary, readRow.get(), columns.size(), low, chunkCodes);
    }
    chunkCodes.Write(db, writeStripe.get(), chunk);
    first = next;
  }
  readStripe.reset();
  writeStripe.reset();
  readRow.reset();
  Sql(db).Run(fits ? "RELEASE liraidx_book_codes"
                   : "ROLLBACK TO liraidx_book_codes; RELEASE liraidx_book_codes");
  return fits;
}

void DropBookCodes(sqlite3* db) {
  Sql(db).Run(std::string("DROP TABLE IF EXISTS ") + si::kChunkCodesTable);
  Sql(db).Run(std::string("DROP TABLE IF EXISTS ") + si::kBookCodesTable);
  Sql(db).Run(std::string("DROP TABLE IF EXISTS ") + si::kBookCodeValuesTable);
}

std::int64_t CheckBookCodes(sqlite3* db, const std::string& bookTable,
                            const std::vector<si::CodedColumn>& columns,
                            const std::function<void(const std::string&)>& report) {
  if (columns.empty()) return 0;
  std::vector<std::vector<db::ColumnValue>> values;
  for (std::size_t place = 0; place < columns.size(); ++place) {
    try {
      values.push_back(si::ReadCodeValues(db, place, columns[place].prefix));
    } catch (const si::OrderUnreadable& e) {
      report(e.what());
      return 1;
    }
  }
  Statement stripes = Sql(db).Prepare(std::string("SELECT stripe, data FROM ") +
                                      si::kBookCodesTable + " ORDER BY stripe");
  Statement rows = Sql(db).Prepare("SELECT rowid" + SelectedColumns(columns) + " FROM " +
                                   Quoted(bookTable) + " ORDER BY rowid");
  std::int64_t differing = 0;
  bool onRow = Sql(db).Step(rows.get());
  // Every rowid of every stored chunk, walked beside the rows in rowid order.
  auto checkRowid = [&](std::int64_t rowid, const ChunkCodes& chunkCodes) {
    const bool book = onRow && sqlite3_column_int64(rows.get(), 0) == rowid;
    const std::uint16_t low = si::LowBits(rowid);
    if (!book) {
      for (std::size_t place = 0; place < columns.size(); ++place) {
        if (chunkCodes.At(place, low) == 0) continue;
        ++differing;
        report("codes kept for row " + std::to_string(rowid) + ", which no book has");
        break;
      }
      return;
    }
    std::string wrong;
    for (std::size_t place = 0; place < columns.size(); ++place) {
      const std::uint32_t code = chunkCodes.At(place, low);
      const std::string now = si::GroupKeyBytes(si::CutValue(
          si::ReadColumnValue(rows.get(), static_cast<int>(place) + 1), columns[place].prefix));
      if (code == 0 || code >= values[place].size() ||
          si::GroupKeyBytes(values[place][code]) != now) {
        wrong += " " + columns[place].name;
      }
    }
    if (!wrong.empty()) {
      ++differing;
      report("book row " + std::to_string(rowid) + ": the codes of" + wrong +
             " stand for other values");
    }
    onRow = Sql(db).Step(rows.get());
  };
  auto missingUpTo = [&](std::int64_t end) {
    for (; onRow && sqlite3_column_int64(rows.get(), 0) < end; onRow = Sql(db).Step(rows.get())) {
      ++differing;
      report("book row " + std::to_string(sqlite3_column_int64(rows.get(), 0)) + ": no codes");
    }
  };
  ChunkCodes chunkCodes(columns.size());
  const auto most = static_cast<std::int64_t>(si::kMostCodedColumns);
  bool onStripe = Sql(db).Step(stripes.get());
  while (onStripe) {
    const std::int64_t chunk = sqlite3_column_int64(stripes.get(), 0) / most;
    chunkCodes.Clear();
    std::size_t taken = 0;
    for (; onStripe && sqlite3_column_int64(stripes.get(), 0) / most == chunk;
         onStripe = Sql(db).Step(stripes.get())) {
      const auto place = static_cast<std::size_t>(sqlite3_column_int64(stripes.get(), 0) % most);
      if (place < columns.size() &&
          chunkCodes.Take(place, sqlite3_column_blob(stripes.get(), 1),
                          static_cast<std::size_t>(sqlite3_column_bytes(stripes.get(), 1)))) {
        ++taken;
      }
    }
    missingUpTo(chunk * si::kChunkRows);
    if (taken != columns.size()) {
      ++differing;
      report("codes of chunk " + std::to_string(chunk) +
             ": a column's stripe missing, of the wrong size or of no coded column");
      missingUpTo((chunk + 1) * si::kChunkRows);
      continue;
    }
    for (std::int64_t low = 0; low < si::kChunkRows; ++low) {
      checkRowid(chunk * si::kChunkRows + low, chunkCodes);
    }
  }
  missingUpTo(INT64_MAX);
  return differing;
}

}  // namespace tools
