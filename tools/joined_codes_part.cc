#include "tools/joined_codes_part.h"

#include <map>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "db/sqlite/joined_codes.h"
#include "tools/part_sql.h"

namespace tools {

namespace si = db::searchindex;

namespace {

PartSql Sql(sqlite3* db) { return PartSql(db, "cannot write the codes of the loans"); }

// The book rowid of each joined row that has a book, with the row's value cut to the
// prefix, by book rowid, from the loans' books.
std::vector<std::pair<std::int64_t, db::ColumnValue>> JoinedValues(sqlite3* db,
                                                                   const si::OneRowJoin& join,
                                                                   const si::CodedColumn& column) {
  Statement select =
      Sql(db).Prepare("SELECT liraidx_m.book_rowid, liraidx_j." + Quoted(column.name) + " FROM " +
                      si::kJoinedBooksTable + " AS liraidx_m JOIN " + Quoted(join.table) +
                      " AS liraidx_j ON liraidx_j.rowid = liraidx_m.joined_rowid"
                      " WHERE liraidx_m.book_rowid IS NOT NULL ORDER BY liraidx_m.book_rowid");
  std::vector<std::pair<std::int64_t, db::ColumnValue>> values;
  while (Sql(db).Step(select.get())) {
    values.emplace_back(sqlite3_column_int64(select.get(), 0),
                        si::CutValue(si::ReadColumnValue(select.get(), 1), column.prefix));
  }
  return values;
}

}  // namespace

si::CodedColumn DefaultJoinedCodes() { return {"KA_USERID", 1}; }

void CreateJoinedCodes(sqlite3* db) {
  Sql(db).Run(std::string("CREATE TABLE ") + si::kJoinedCodesTable +
              " (chunk INTEGER PRIMARY KEY, data BLOB NOT NULL)");
  Sql(db).Run(std::string("CREATE TABLE ") + si::kJoinedCodeValuesTable +
              " (code INTEGER PRIMARY KEY, value)");
}

std::optional<si::CodedColumn> WriteJoinedCodes(sqlite3* db, const si::OneRowJoin& join,
                                                const si::CodedColumn& wanted) {
  Sql(db).Run(std::string("DELETE FROM ") + si::kJoinedCodesTable);
  Sql(db).Run(std::string("DELETE FROM ") + si::kJoinedCodeValuesTable);
  Sql(db).Run(std::string("DELETE FROM ") + si::kJoinedChangesTable);
  if (!HasColumn(db, join.table, wanted.name)) return std::nullopt;
  const auto values = JoinedValues(db, join, wanted);
  std::unordered_map<std::string, std::uint8_t> codeOf;
  std::vector<const db::ColumnValue*> valueOf(1);
  std::map<std::int64_t, std::vector<unsigned char>> chunks;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const auto& [book, value] = values[i];
    if (!RowidInPart(book) || (i > 0 && values[i - 1].first == book)) return std::nullopt;
    if (value.ValueKind == db::ColumnValue::Kind::kNull) continue;
    auto [at, added] =
        codeOf.emplace(si::GroupKeyBytes(value), static_cast<std::uint8_t>(valueOf.size()));
    if (added) {
      if (valueOf.size() > si::kMostJoinedCode) return std::nullopt;
      valueOf.push_back(&value);
    }
    std::vector<unsigned char>& chunk = chunks[si::ChunkOf(book)];
    chunk.resize(si::kChunkRows);
    chunk[si::LowBits(book)] = at->second;
  }
  Statement insertChunk =
      Sql(db).Prepare(std::string("INSERT INTO ") + si::kJoinedCodesTable + " VALUES (?1, ?2)");
  for (const auto& [chunk, bytes] : chunks) {
    sqlite3_reset(insertChunk.get());
    sqlite3_bind_int64(insertChunk.get(), 1, chunk);
    sqlite3_bind_blob(insertChunk.get(), 2, bytes.data(), static_cast<int>(bytes.size()),
                      SQLITE_STATIC);
    Sql(db).Step(insertChunk.get());
  }
  Statement insertValue = Sql(db).Prepare(std::string("INSERT INTO ") + si::kJoinedCodeValuesTable +
                                          " VALUES (?1, ?2)");
  for (std::size_t code = 1; code < valueOf.size(); ++code) {
    sqlite3_reset(insertValue.get());
    sqlite3_bind_int64(insertValue.get(), 1, static_cast<std::int64_t>(code));
    si::BindColumnValue(insertValue.get(), 2, *valueOf[code]);
    Sql(db).Step(insertValue.get());
  }
  return wanted;
}

void DropJoinedCodes(sqlite3* db) {
  Sql(db).Run(std::string("DROP TABLE IF EXISTS ") + si::kJoinedCodesTable);
  Sql(db).Run(std::string("DROP TABLE IF EXISTS ") + si::kJoinedCodeValuesTable);
}

std::int64_t CheckJoinedCodes(sqlite3* db, const si::OneRowJoin& join, const si::CodedColumn& coded,
                              const std::function<void(const std::string&)>& report) {
  // The key of each code's value; code 0 is NULL.
  std::vector<std::string> keyOfCode = {si::GroupKeyBytes({})};
  Statement values = Sql(db).Prepare(std::string("SELECT code, value FROM ") +
                                     si::kJoinedCodeValuesTable + " ORDER BY code");
  while (Sql(db).Step(values.get())) {
    if (sqlite3_column_int64(values.get(), 0) != static_cast<std::int64_t>(keyOfCode.size())) {
      report("the values of the loans' codes are not numbered from 1");
      return 1;
    }
    keyOfCode.push_back(
        si::GroupKeyBytes(si::CutValue(si::ReadColumnValue(values.get(), 1), coded.prefix)));
  }
  std::set<std::int64_t> noted;  // read from the rows by a search
  Statement changes =
      Sql(db).Prepare(std::string("SELECT book_rowid FROM ") + si::kJoinedChangesTable);
  while (Sql(db).Step(changes.get())) noted.insert(sqlite3_column_int64(changes.get(), 0));
  std::map<std::int64_t, std::string> expected;
  for (const auto& [book, value] : JoinedValues(db, join, coded)) {
    if (value.ValueKind != db::ColumnValue::Kind::kNull) expected[book] = si::GroupKeyBytes(value);
  }
  std::int64_t differing = 0;
  auto compare = [&](std::int64_t book, std::uint32_t code) {
    if (noted.count(book)) return;
    const auto want = expected.find(book);
    const std::string& now = want == expected.end() ? keyOfCode[0] : want->second;
    if (code < keyOfCode.size() && keyOfCode[code] == now) return;
    ++differing;
    report("book row " + std::to_string(book) + ": its loan code " + std::to_string(code) +
           " stands for another value than its loan holds");
  };
  Statement chunks = Sql(db).Prepare(std::string("SELECT chunk, data FROM ") +
                                     si::kJoinedCodesTable + " ORDER BY chunk");
  std::set<std::int64_t> seen;
  while (Sql(db).Step(chunks.get())) {
    const std::int64_t chunk = sqlite3_column_int64(chunks.get(), 0);
    if (sqlite3_column_bytes(chunks.get(), 1) != si::kChunkRows) {
      ++differing;
      report("loan codes of chunk " + std::to_string(chunk) + ": of the wrong size");
      continue;
    }
    seen.insert(chunk);
    const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(chunks.get(), 1));
    for (std::int64_t low = 0; low < si::kChunkRows; ++low) {
      const std::int64_t book = chunk * si::kChunkRows + low;
      if (bytes[low] != 0 || expected.count(book)) compare(book, bytes[low]);
    }
  }
  // A book of a chunk the part holds no row of has code 0.
  for (const auto& [book, key] : expected) {
    if (!seen.count(si::ChunkOf(book))) compare(book, 0);
  }
  return differing;
}

}  // namespace tools
