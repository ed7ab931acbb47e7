#include "tools/search_index_builder.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <unordered_map>

#include "db/sqlite/joined_codes.h"
#include "db/sqlite/long_word_grams.h"
#include "db/sqlite/search_index.h"
#include "db/sqlite/search_index_format.h"
#include "db/sqlite/stored_order.h"
#include "tools/book_codes_part.h"
#include "tools/catalog_error.h"
#include "tools/joined_books_part.h"
#include "tools/progress_meter.h"
#include "tools/sqlite_names.h"
#include "tools/stored_order_merge.h"

namespace tools {

namespace si = db::searchindex;

namespace {

// The highest id of the pending rows logged while the build ran (0 for none): the lists
// of a row written then may hold grams of any of its values, so its fold adds back
// every gram of its current values.
constexpr char kLoggedDuringBuild[] = "logged_during_build";

// Chunks written in one transaction: a build never holds the writers of the catalogue
// off for long, and a part's postings are the memory it needs.
constexpr std::int64_t kChunksPerTransaction = 8;

// A column (its position) and a gram in one number, for sorting. Gram keys lie below
// 2^59 (units and pairs below 2^33, the end grams at bit 38, the start grams at bit 40, the
// long-word grams reaching 2^58), columns above.
constexpr int kColumnShift = 59;
std::uint64_t ColumnGram(int column, std::int64_t gram) {
  return (static_cast<std::uint64_t>(column) << kColumnShift) | static_cast<std::uint64_t>(gram);
}
int ColumnOf(std::uint64_t columnGram) { return static_cast<int>(columnGram >> kColumnShift); }
std::int64_t GramOf(std::uint64_t columnGram) {
  return static_cast<std::int64_t>(columnGram & ((std::uint64_t{1} << kColumnShift) - 1));
}

std::string Joined(const std::vector<std::string>& names, const std::string& prefix, bool quote,
                   const char* separator = ", ") {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i) text += separator;
    text += prefix + (quote ? Quoted(names[i]) : names[i]);
  }
  return text;
}

// The pending table's columns holding the old texts of the indexed columns.
std::vector<std::string> OldNames(const IndexTarget& target) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < target.columns.size(); ++i)
    names.push_back("old_" + std::to_string(i));
  return names;
}

std::string BlobText(sqlite3_stmt* statement, int column) {
  const char* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
  return bytes ? std::string(bytes, sqlite3_column_bytes(statement, column)) : std::string();
}

// Adds the column start and end grams of one row's indexed values, those the index holds.
void AddEdgeGrams(sqlite3_stmt* statement, int first, const IndexTarget& target,
                  std::vector<std::uint64_t>& grams) {
  if (!target.startGrams && !target.endGrams) return;
  std::vector<std::int64_t> keys;
  for (int c = 0; c < static_cast<int>(target.columns.size()); ++c) {
    if (sqlite3_column_type(statement, first + c) == SQLITE_NULL) continue;
    keys.clear();
    const std::string text = BlobText(statement, first + c);
    if (target.startGrams) si::AppendStartGrams(text, keys, target.match);
    if (target.endGrams) si::AppendEndGrams(text, keys, target.match);
    for (std::int64_t key : keys) grams.push_back(ColumnGram(c, key));
  }
}

// The grams of one row's indexed values (columns 1.. of the statement, or from first),
// with the long-word, start and end grams when the index holds them.
std::vector<std::uint64_t> RowGrams(sqlite3_stmt* statement, int first, const IndexTarget& target) {
  const int columns = static_cast<int>(target.columns.size());
  std::vector<std::uint64_t> grams;
  std::vector<std::int64_t> keys;
  for (int c = 0; c < columns; ++c) {
    if (sqlite3_column_type(statement, first + c) == SQLITE_NULL) continue;
    keys.clear();
    const std::string text = BlobText(statement, first + c);
    si::AppendTextGrams(text, keys, target.match);
    if (target.longWords) si::AppendLongWordGrams(text, keys, target.match);
    for (std::int64_t key : keys) grams.push_back(ColumnGram(c, key));
  }
  AddEdgeGrams(statement, first, target, grams);
  std::sort(grams.begin(), grams.end());
  grams.erase(std::unique(grams.begin(), grams.end()), grams.end());
  return grams;
}

// The condition of the update trigger that the column's value changed.
std::string ChangedTest(const std::string& column) {
  return "CAST(OLD." + Quoted(column) + " AS BLOB) IS NOT CAST(NEW." + Quoted(column) + " AS BLOB)";
}

std::string GramText(std::int64_t gram) {
  auto unit = [](std::uint32_t u) {
    std::string text;
    if (u > 0xFF) text.push_back(static_cast<char>(u >> 8));
    text.push_back(static_cast<char>(u & 0xFF));
    return text;
  };
  if (gram & si::kLongGramBit) {
    const std::int64_t low = gram & ((std::int64_t{1} << 39) - 1);
    if (gram & (std::int64_t{1} << 39)) return GramText(low) + "\" (repeated)";
    return unit(static_cast<std::uint32_t>((gram >> 42) - 1)) + GramText(low + 0x10000);
  }
  if (gram & si::kStartGramBit) return "^" + GramText(gram & ~si::kStartGramBit);
  if (gram & si::kEndGramBit) return GramText(gram & ~si::kEndGramBit) + "$";
  if (gram < 0x10000) return unit(static_cast<std::uint32_t>(gram));
  return unit(static_cast<std::uint32_t>((gram >> 16) - 1)) +
         unit(static_cast<std::uint32_t>(gram & 0xFFFF));
}

// The postings of one chunk: for each column and gram, the low bits of the rowids
// holding it, ascending. select reads rowid and the columns between ?1 and ?2.
std::unordered_map<std::uint64_t, std::vector<std::uint16_t>> ChunkPostings(
    sqlite3_stmt* select, std::int64_t chunk, const IndexTarget& target, std::int64_t& rows) {
  std::unordered_map<std::uint64_t, std::vector<std::uint16_t>> postings;
  sqlite3_bind_int64(select, 1, chunk * si::kChunkRows);
  sqlite3_bind_int64(select, 2, (chunk + 1) * si::kChunkRows);
  while (sqlite3_step(select) == SQLITE_ROW) {
    const std::uint16_t low = si::LowBits(sqlite3_column_int64(select, 0));
    for (std::uint64_t gram : RowGrams(select, 1, target)) postings[gram].push_back(low);
    ++rows;
  }
  return postings;
}

std::vector<std::uint64_t> SortedKeys(
    const std::unordered_map<std::uint64_t, std::vector<std::uint16_t>>& postings) {
  std::vector<std::uint64_t> keys;
  keys.reserve(postings.size());
  for (const auto& entry : postings) keys.push_back(entry.first);
  std::sort(keys.begin(), keys.end());
  return keys;
}

}  // namespace

SearchIndexBuilder::SearchIndexBuilder(const std::string& path, int busyTimeoutMs) : path_(path) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    Fail("cannot open the catalogue");
  }
  sqlite3_busy_timeout(db_, busyTimeoutMs);
  Execute("PRAGMA synchronous = NORMAL");
}

SearchIndexBuilder::~SearchIndexBuilder() { sqlite3_close(db_); }

void SearchIndexBuilder::Fail(const std::string& doing) {
  const int code = sqlite3_errcode(db_) & 0xFF;
  busy_ = code == SQLITE_BUSY || code == SQLITE_LOCKED;
  throw ECatalogError(path_ + ": " + doing + ": " + sqlite3_errmsg(db_));
}

void SearchIndexBuilder::Execute(const std::string& sql) {
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    Fail("cannot run " + sql.substr(0, sql.find('(')));
  }
}

sqlite3_stmt* SearchIndexBuilder::Prepare(const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    Fail("cannot prepare " + sql.substr(0, 60));
  }
  return statement;
}

bool SearchIndexBuilder::HasIndex() {
  Statement found(
      Prepare(std::string("SELECT 1 FROM sqlite_schema WHERE name = '") + si::kMetaTable + "'"));
  return sqlite3_step(found.get()) == SQLITE_ROW;
}

std::string SearchIndexBuilder::MetaValue(const std::string& key) {
  Statement select(Prepare(std::string("SELECT value FROM ") + si::kMetaTable + " WHERE key = ?1"));
  sqlite3_bind_text(select.get(), 1, key.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(select.get()) == SQLITE_ROW ? BlobText(select.get(), 0) : std::string();
}

bool SearchIndexBuilder::LoansWrittenSince() {
  Statement select(Prepare(std::string("SELECT 1 FROM ") + si::kJoinedChangesTable + " LIMIT 1"));
  return sqlite3_step(select.get()) == SQLITE_ROW;
}

bool SearchIndexBuilder::HasMeta(const std::string& key) {
  Statement select(Prepare(std::string("SELECT 1 FROM ") + si::kMetaTable + " WHERE key = ?1"));
  sqlite3_bind_text(select.get(), 1, key.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(select.get()) == SQLITE_ROW;
}

void SearchIndexBuilder::WriteAllBookCodes(const IndexTarget& target) {
  const std::string coded = si::BookCodesText(WriteBookCodes(db_, target.table, target.bookCodes));
  Statement note(Prepare(std::string("INSERT OR REPLACE INTO ") + si::kMetaTable + " VALUES ('" +
                         si::kBookCodesSetting + "', ?1)"));
  sqlite3_bind_text(note.get(), 1, coded.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(note.get()) != SQLITE_DONE) Fail("cannot write the index");
  Execute(std::string("DELETE FROM ") + si::kMetaTable + " WHERE key = '" +
          si::kChunkCodesSetting + "'");
}

void SearchIndexBuilder::WriteAllJoinedCodes(const IndexTarget& target,
                                             const si::OneRowJoin& join) {
  const std::optional<si::CodedColumn> coded =
      target.joinedCodes ? WriteJoinedCodes(db_, join, *target.joinedCodes) : std::nullopt;
  const std::string text = coded ? si::BookCodesText({*coded}) : std::string();
  Statement note(Prepare(std::string("INSERT OR REPLACE INTO ") + si::kMetaTable + " VALUES ('" +
                         si::kJoinedCodesSetting + "', ?1)"));
  sqlite3_bind_text(note.get(), 1, text.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(note.get()) != SQLITE_DONE) Fail("cannot write the index");
}

std::optional<IndexTarget> SearchIndexBuilder::StoredTarget() {
  if (!HasIndex()) throw ECatalogError(path_ + ": holds no search index; build one first");
  IndexTarget target;
  target.table.clear();
  target.columns.clear();
  target.startGrams = target.endGrams = false;  // an index built before them holds none
  Statement meta(Prepare(std::string("SELECT key, value FROM ") + si::kMetaTable));
  while (sqlite3_step(meta.get()) == SQLITE_ROW) {
    const std::string key = BlobText(meta.get(), 0), value = BlobText(meta.get(), 1);
    if (key == "table") target.table = value;
    if (key == "pending_limit") target.pendingLimit = std::stoll(value);
    if (key == "match") target.match = si::MatchModeOfIndex(value);
    if (key == "order_columns") target.orderColumns = si::SplitNames(value);
    if (key == "columns") target.columns = si::SplitNames(value);
    if (key == "start_grams") target.startGrams = value == "1";
    if (key == si::kEndGramsSetting) target.endGrams = value == "1";
  }
  target.longWords = MetaValue(si::kLongWordsSetting) == si::kLongWordGramsVersion;
  // An index built before the year-key order keeps none until it is built again.
  target.yearKeyOrder = si::SplitNames(MetaValue(si::kYearKeyOrderSetting));
  target.joinedBooks = si::JoinedBooksOfText(MetaValue(si::kJoinedBooksSetting));
  if (HasMeta(si::kJoinedCodesSetting)) {
    const auto coded = si::BookCodesOfText(MetaValue(si::kJoinedCodesSetting));
    target.joinedCodes = coded && coded->size() == 1 ? std::optional(coded->front()) : std::nullopt;
  }
  // Codes kept a record a chunk are written anew as stripes, of the same columns.
  if (const char* setting = HasMeta(si::kBookCodesSetting)    ? si::kBookCodesSetting
                            : HasMeta(si::kChunkCodesSetting) ? si::kChunkCodesSetting
                                                              : nullptr) {
    target.bookCodes =
        si::BookCodesOfText(MetaValue(setting)).value_or(std::vector<si::CodedColumn>{});
  } else {
    // An index built before the codes gains those its update trigger keeps current.
    std::erase_if(target.bookCodes, [&](const si::CodedColumn& column) {
      return !si::OrderFollowsUpdates(db_, column.name);
    });
  }
  // A build that stopped before its first commit leaves no description at all.
  if (target.columns.empty() || target.table.empty()) return std::nullopt;
  return target;
}

void SearchIndexBuilder::Drop() {
  Execute("BEGIN IMMEDIATE");
  DropTables();
  Execute("COMMIT");
}

void SearchIndexBuilder::DropTables() {
  for (const char* trigger :
       {"liraidx_before_insert", "liraidx_after_insert", "liraidx_before_update",
        "liraidx_after_update", "liraidx_after_delete"}) {
    Execute(std::string("DROP TRIGGER IF EXISTS ") + trigger);
  }
  for (const char* table :
       {si::kMetaTable, si::kPostingsTable, si::kPendingTable, si::kOrderTable}) {
    Execute(std::string("DROP TABLE IF EXISTS ") + table);
  }
  DropJoinedBooks(db_);
  DropJoinedCodes(db_);
  DropBookCodes(db_);
}

void SearchIndexBuilder::WriteMeta(
    const std::vector<std::pair<std::string, std::string>>& entries) {
  Statement meta(Prepare(std::string("INSERT INTO ") + si::kMetaTable + " VALUES (?1, ?2)"));
  for (const auto& [key, value] : entries) {
    sqlite3_bind_text(meta.get(), 1, key.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(meta.get(), 2, value.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(meta.get()) != SQLITE_DONE) Fail("cannot write the index");
    sqlite3_reset(meta.get());
  }
}

void SearchIndexBuilder::Build(const IndexTarget& target, std::ostream* progressOut) {
  for (const std::string& column : target.columns) {
    if (column.find(',') != std::string::npos) throw ECatalogError("bad column name " + column);
  }
  const std::string table = Quoted(target.table);
  // The table must exist, have rowids and the columns.
  sqlite3_finalize(
      Prepare("SELECT rowid, " + Joined(target.columns, "", true) + " FROM " + table + " LIMIT 0"));

  // The old index goes in the transaction that creates the new one's tables: a build
  // stopped at any point leaves either the old index or the new one's description.
  Execute("BEGIN IMMEDIATE");
  DropTables();
  CreateTables(target);
  CreateTriggers(target);
  const std::optional<si::OneRowJoin> joinedBooks =
      target.joinedBooks ? JoinedBooksServable(db_, target.table, *target.joinedBooks)
                         : std::nullopt;
  if (joinedBooks) {
    CreateJoinedBooks(db_, target.table, *joinedBooks);
    CreateJoinedCodes(db_);
  }
  CreateBookCodes(db_);
  Execute("COMMIT");

  Statement bounds(Prepare("SELECT min(rowid), max(rowid), count(*) FROM " + table));
  sqlite3_step(bounds.get());
  const RowSpan rows{sqlite3_column_int64(bounds.get(), 0), sqlite3_column_int64(bounds.get(), 1),
                     sqlite3_column_int64(bounds.get(), 2)};
  bounds.reset();
  ProgressMeter progress(progressOut ? *progressOut : std::cerr, progressOut != nullptr,
                         static_cast<std::uint64_t>(rows.count));
  Execute("BEGIN IMMEDIATE");
  const std::int64_t done = WritePostings(target, rows, progress);
  Statement version(Prepare("PRAGMA schema_version"));
  sqlite3_step(version.get());
  const std::int64_t schemaVersion = sqlite3_column_int64(version.get(), 0);
  version.reset();
  const std::vector<std::string> unsafeSort = UnsafeSortColumns(target.table);
  IndexTarget kept = target;
  kept.orderColumns = KeptOrderColumns(target, unsafeSort);
  kept.yearKeyOrder = KeptYearKeyOrder(target, unsafeSort);
  WriteOrders(target.table, KeptOrders(kept));
  if (joinedBooks) {
    WriteJoinedBooks(db_, target.table, *joinedBooks);
    WriteAllJoinedCodes(target, *joinedBooks);
  }
  WriteAllBookCodes(target);
  Statement pendingNow(
      Prepare(std::string("SELECT coalesce(max(id), 0) FROM ") + si::kPendingTable));
  sqlite3_step(pendingNow.get());
  const std::int64_t loggedDuringBuild = sqlite3_column_int64(pendingNow.get(), 0);
  pendingNow.reset();
  std::vector<std::pair<std::string, std::string>> last = {
      {"schema_version", std::to_string(schemaVersion)},
      {kLoggedDuringBuild, std::to_string(loggedDuringBuild)},
      {"rows", std::to_string(done)},
      {"unsafe_sort", Joined(unsafeSort, "", false, ",")},
      {"order_columns", Joined(kept.orderColumns, "", false, ",")},
      {si::kYearKeyOrderSetting, Joined(kept.yearKeyOrder, "", false, ",")},
      {"rowid_order", Joined(RowidOrderColumns(target), "", false, ",")}};
  if (joinedBooks) last.push_back({si::kJoinedBooksSetting, si::JoinedBooksText(*joinedBooks)});
  // Only a loose index depends on the loose folding; a folded one keeps its settings.
  if (target.match == db::MatchMode::kLoose)
    last.push_back({"loose_folding", si::LooseFoldingName()});
  // The format last: until it stands no search uses the index.
  last.push_back({"format", std::to_string(si::kFormatVersion)});
  WriteMeta(last);
  Execute("COMMIT");
  progress.Finish(static_cast<std::uint64_t>(done), static_cast<std::uint64_t>(done));
}

void SearchIndexBuilder::CreateTables(const IndexTarget& target) {
  Execute(std::string("CREATE TABLE ") + si::kMetaTable + " (key TEXT PRIMARY KEY, value TEXT)");
  Execute(std::string("CREATE TABLE ") + si::kPostingsTable +
          " (col INTEGER, gram INTEGER, chunk INTEGER, data BLOB NOT NULL,"
          " PRIMARY KEY (col, gram, chunk)) WITHOUT ROWID");
  Execute(std::string("CREATE TABLE ") + si::kPendingTable +
          " (id INTEGER PRIMARY KEY, book_rowid INTEGER NOT NULL, has_old INTEGER NOT NULL, " +
          Joined(OldNames(target), "", false) + ")");
  Execute(std::string("CREATE TABLE ") + si::kOrderTable +
          " (id INTEGER PRIMARY KEY, data BLOB NOT NULL)");
  // What is indexed comes first, so that a refresh can build again what a build
  // interrupted (a kill, a full disk) left half done; the format comes last, and
  // until it stands no search uses the index.
  WriteMeta({{"table", target.table},
             {"columns", Joined(target.columns, "", false, ",")},
             {"pending_limit", std::to_string(target.pendingLimit)},
             {"match", si::IndexMatchName(target.match)},
             {"start_grams", target.startGrams ? "1" : "0"},
             {si::kEndGramsSetting, target.endGrams ? "1" : "0"}});
  if (target.longWords) WriteMeta({{si::kLongWordsSetting, si::kLongWordGramsVersion}});
}

void SearchIndexBuilder::CreateTriggers(const IndexTarget& target) {
  const std::string table = Quoted(target.table);
  const std::string columns = Joined(target.columns, "", true);
  // Plain SQL, so that any program writing the table (without this program's
  // functions) logs what it changed. REPLACE deletes a row without a delete trigger,
  // so the rows an insert may replace are logged before it.
  const std::string pending = std::string("INSERT INTO ") + si::kPendingTable;
  const std::string oldColumns =
      "(book_rowid, has_old, " + Joined(OldNames(target), "", false) + ")";
  // The same holds for UPDATE OR REPLACE, which deletes the rows holding the new rowid
  // or the new value of a unique index: they are logged before the update when it
  // changes the rowid or such a value.
  const auto [replaced, keyChanged] = ReplacedRows(target.table);
  Execute("CREATE TRIGGER liraidx_before_insert BEFORE INSERT ON " + table + " BEGIN " + pending +
          " " + oldColumns + " SELECT rowid, 1, " + columns + " FROM " + table + " WHERE " +
          replaced + "; END");
  Execute("CREATE TRIGGER liraidx_before_update BEFORE UPDATE ON " + table + " WHEN " + keyChanged +
          " BEGIN " + pending + " " + oldColumns + " SELECT rowid, 1, " + columns + " FROM " +
          table + " WHERE rowid IS NOT OLD.rowid AND (" + replaced + "); END");
  Execute("CREATE TRIGGER liraidx_after_insert AFTER INSERT ON " + table + " BEGIN " + pending +
          " (book_rowid, has_old) VALUES (NEW.rowid, 0); END");
  // An update that leaves the rowid, the indexed texts and the values of the sort
  // columns and of the key whose order is noted as they were (a loan mark, say) changes
  // no list and no order. Values are compared as bytes, since a column's collation may
  // call different texts equal.
  std::string changed = "OLD.rowid IS NOT NEW.rowid";
  for (const std::string& column : LoggedColumns(target)) changed += " OR " + ChangedTest(column);
  Execute("CREATE TRIGGER liraidx_after_update AFTER UPDATE ON " + table + " WHEN " + changed +
          " BEGIN " + pending + " " + oldColumns + " VALUES (OLD.rowid, 1, " +
          Joined(target.columns, "OLD.", true) + "); " + pending +
          " (book_rowid, has_old) VALUES (NEW.rowid, 0); END");
  Execute("CREATE TRIGGER liraidx_after_delete AFTER DELETE ON " + table + " BEGIN " + pending +
          " " + oldColumns + " VALUES (OLD.rowid, 1, " + Joined(target.columns, "OLD.", true) +
          "); END");
}

std::pair<std::string, std::string> SearchIndexBuilder::ReplacedRows(const std::string& bookTable) {
  std::string replaced = "rowid = NEW.rowid", keyChanged = "NEW.rowid IS NOT OLD.rowid";
  Statement indexes(
      Prepare("SELECT name FROM pragma_index_list(" + Quoted(bookTable) + ") WHERE \"unique\""));
  while (sqlite3_step(indexes.get()) == SQLITE_ROW) {
    Statement parts(Prepare("SELECT name, coll FROM pragma_index_xinfo(" +
                            Quoted(BlobText(indexes.get(), 0)) + ") WHERE key"));
    std::string same, changed;
    while (sqlite3_step(parts.get()) == SQLITE_ROW) {
      if (sqlite3_column_type(parts.get(), 0) == SQLITE_NULL) {  // an expression
        same.clear();
        break;
      }
      const std::string column = Quoted(BlobText(parts.get(), 0));
      // Equal as the unique index compares them, whatever the column's own collation.
      same += (same.empty() ? "" : " AND ") + column + " = NEW." + column + " COLLATE " +
              Quoted(BlobText(parts.get(), 1));
      changed += " OR CAST(NEW." + column + " AS BLOB) IS NOT CAST(OLD." + column + " AS BLOB)";
    }
    if (!same.empty()) {
      replaced += " OR (" + same + ")";
      keyChanged += changed;
    }
  }
  return {replaced, keyChanged};
}

std::int64_t SearchIndexBuilder::WritePostings(const IndexTarget& target, const RowSpan& rows,
                                               ProgressMeter& progress) {
  const std::string table = Quoted(target.table);
  const std::string columns = Joined(target.columns, "", true);
  Statement select(Prepare("SELECT rowid, " + columns + " FROM " + table +
                           " WHERE rowid >= ?1 AND rowid < ?2 ORDER BY rowid"));
  Statement insert(Prepare(std::string("INSERT INTO ") + si::kPostingsTable +
                           " (col, gram, chunk, data) VALUES (?1, ?2, ?3, ?4)"));
  std::int64_t done = 0, chunksInTransaction = 0;
  for (std::int64_t chunk = si::ChunkOf(rows.first);
       rows.count > 0 && chunk <= si::ChunkOf(rows.last); ++chunk) {
    auto postings = ChunkPostings(select.get(), chunk, target, done);
    if (sqlite3_reset(select.get()) != SQLITE_OK) Fail("cannot read the books");
    const std::vector<std::uint64_t> keys = SortedKeys(postings);
    for (std::uint64_t key : keys) {
      const std::string data =
          si::EncodePosting(postings[key], {ColumnOf(key), GramOf(key), chunk});
      sqlite3_bind_int(insert.get(), 1, ColumnOf(key));
      sqlite3_bind_int64(insert.get(), 2, GramOf(key));
      sqlite3_bind_int64(insert.get(), 3, chunk);
      sqlite3_bind_blob(insert.get(), 4, data.data(), static_cast<int>(data.size()), SQLITE_STATIC);
      if (sqlite3_step(insert.get()) != SQLITE_DONE) Fail("cannot write the index");
      sqlite3_reset(insert.get());
    }
    if (++chunksInTransaction == kChunksPerTransaction) {
      Execute("COMMIT");
      Execute("BEGIN IMMEDIATE");
      chunksInTransaction = 0;
    }
    progress.Update(static_cast<std::uint64_t>(done), static_cast<std::uint64_t>(done));
  }
  return done;
}

std::vector<std::string> SearchIndexBuilder::UnsafeSortColumns(const std::string& bookTable) {
  // The sort columns SQLite might read through an index instead of sorting.
  std::vector<std::string> unsafeSort;
  {
    Statement indexes(
        Prepare("SELECT name, \"unique\" FROM pragma_index_list(" + Quoted(bookTable) + ")"));
    while (sqlite3_step(indexes.get()) == SQLITE_ROW) {
      const std::string name = BlobText(indexes.get(), 0);
      const bool unique = sqlite3_column_int(indexes.get(), 1) != 0;
      Statement parts(Prepare(
          "SELECT i.name, (SELECT \"notnull\" FROM pragma_table_info(" + Quoted(bookTable) +
          ") t WHERE t.name = i.name), (SELECT count(*) FROM pragma_index_info(" + Quoted(name) +
          ")) FROM pragma_index_info(" + Quoted(name) + ") i WHERE i.seqno = 0"));
      if (sqlite3_step(parts.get()) != SQLITE_ROW ||
          sqlite3_column_type(parts.get(), 0) == SQLITE_NULL) {
        continue;
      }
      const bool oneNotNull =
          sqlite3_column_int(parts.get(), 1) != 0 && sqlite3_column_int(parts.get(), 2) == 1;
      if (!(unique && oneNotNull)) unsafeSort.push_back(BlobText(parts.get(), 0));
    }
  }
  return unsafeSort;
}

std::vector<std::string> SearchIndexBuilder::TableColumns(const std::string& table) {
  Statement columns(Prepare("SELECT name FROM pragma_table_info(?1)"));
  sqlite3_bind_text(columns.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  std::vector<std::string> present;
  while (sqlite3_step(columns.get()) == SQLITE_ROW) present.push_back(BlobText(columns.get(), 0));
  return present;
}

std::vector<std::string> SearchIndexBuilder::LoggedColumns(const IndexTarget& target) {
  std::vector<std::string> logged = target.columns;
  const std::vector<std::string> present = TableColumns(target.table);
  for (const std::string& column : target.orderColumns) {
    if (si::NameIn(column, present) && !si::NameIn(column, logged)) logged.push_back(column);
  }
  for (const auto* names : {&target.rowidOrderCandidates, &target.yearKeyOrder}) {
    for (const std::string& column : *names) {
      if (si::NameIn(column, present) && !si::NameIn(column, logged)) logged.push_back(column);
    }
  }
  for (const si::CodedColumn& column : target.bookCodes) {
    if (si::NameIn(column.name, present) && !si::NameIn(column.name, logged))
      logged.push_back(column.name);
  }
  return logged;
}

bool SearchIndexBuilder::RowidsFitOrders(const std::string& table) {
  Statement bounds(Prepare("SELECT min(rowid), max(rowid) FROM " + Quoted(table)));
  sqlite3_step(bounds.get());
  return sqlite3_column_int64(bounds.get(), 0) >= 0 &&
         sqlite3_column_int64(bounds.get(), 1) < (std::int64_t{1} << 32);
}

std::vector<std::string> SearchIndexBuilder::KeptYearKeyOrder(
    const IndexTarget& target, const std::vector<std::string>& unsafeSort) {
  const std::vector<std::string> present = TableColumns(target.table);
  if (target.yearKeyOrder.size() != 2 || !RowidsFitOrders(target.table) ||
      si::NameIn(target.yearKeyOrder[0], unsafeSort)) {
    return {};
  }
  for (const std::string& column : target.yearKeyOrder) {
    if (!si::NameIn(column, present) || column.find(',') != std::string::npos) return {};
  }
  return target.yearKeyOrder;
}

std::vector<std::string> SearchIndexBuilder::KeptOrderColumns(
    const IndexTarget& target, const std::vector<std::string>& unsafeSort) {
  if (!RowidsFitOrders(target.table)) return {};
  std::vector<std::string> kept;
  const std::vector<std::string> present = TableColumns(target.table);
  for (const std::string& column : target.orderColumns) {
    if (si::NameIn(column, present) && !si::NameIn(column, unsafeSort) &&
        !si::NameIn(column, kept)) {
      kept.push_back(column);
    }
  }
  return kept;
}

std::vector<std::string> SearchIndexBuilder::RowidOrderColumns(const IndexTarget& target) {
  std::vector<std::string> present, holding;
  Statement columns(Prepare("SELECT name FROM pragma_table_info(?1)"));
  sqlite3_bind_text(columns.get(), 1, target.table.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(columns.get()) == SQLITE_ROW) present.push_back(BlobText(columns.get(), 0));
  for (const std::string& column : target.rowidOrderCandidates) {
    if (!si::NameIn(column, present)) continue;
    // Sorted by the column with its collation (as ORDER BY sorts it), ties by rowid, no
    // row follows one of a higher rowid.
    Statement inOrder(
        Prepare("SELECT NOT EXISTS (SELECT 1 FROM (SELECT rowid AS r, lag(rowid) "
                "OVER (ORDER BY " +
                Quoted(column) + ", rowid) AS p FROM " + Quoted(target.table) + ") WHERE p > r)"));
    if (sqlite3_step(inOrder.get()) != SQLITE_ROW) Fail("cannot compare the orders of " + column);
    if (sqlite3_column_int(inOrder.get(), 0)) holding.push_back(column);
  }
  return holding;
}

std::vector<SearchIndexBuilder::KeptOrder> SearchIndexBuilder::KeptOrders(
    const IndexTarget& target) {
  std::vector<KeptOrder> orders;
  for (std::size_t k = 0; k < target.orderColumns.size(); ++k) {
    orders.push_back({static_cast<int>(k), target.orderColumns[k], {{target.orderColumns[k]}}});
  }
  if (target.yearKeyOrder.size() == 2) {
    orders.push_back({si::kYearKeyOrderPlace,
                      Joined(target.yearKeyOrder, "", false, ","),
                      {{target.yearKeyOrder[0], true}, {target.yearKeyOrder[1], false}}});
  }
  return orders;
}

void SearchIndexBuilder::ComputeOrder(
    const std::string& table, const KeptOrder& order,
    const std::function<void(std::int64_t, const std::string&)>& emit) {
  const int k = order.place;
  // SQLite ranks the values itself, with each column's collation: rows of equal rank are
  // the rows its sorter finds equal. NULL is the lowest value, so a DESC term puts it last.
  std::string orderBy;
  for (const OrderTerm& term : order.terms) {
    orderBy +=
        (orderBy.empty() ? "" : ", ") + Quoted(term.column) + (term.descending ? " DESC" : "");
  }
  const std::string ranked = "SELECT rowid, dense_rank() OVER (ORDER BY " + orderBy +
                             ") AS liraidx_rank FROM " + Quoted(table);
  {
    Statement byRow(Prepare(ranked + " ORDER BY rowid"));
    std::string ranks;
    std::int64_t chunk = -1;
    auto flush = [&] {
      if (chunk >= 0) emit(si::OrderKey(k, si::OrderData::kRanks, chunk), ranks);
    };
    while (sqlite3_step(byRow.get()) == SQLITE_ROW) {
      const std::int64_t rowid = sqlite3_column_int64(byRow.get(), 0);
      if (si::ChunkOf(rowid) != chunk) {
        flush();
        chunk = si::ChunkOf(rowid);
        ranks.assign(si::kChunkRows * 4, '\0');
      }
      const auto rank = static_cast<std::uint32_t>(sqlite3_column_int64(byRow.get(), 1));
      for (int i = 0; i < 4; ++i) {
        ranks[si::LowBits(rowid) * 4 + i] = static_cast<char>((rank >> (8 * i)) & 0xFF);
      }
    }
    flush();
  }
  Statement inOrder(Prepare(ranked + " ORDER BY liraidx_rank, rowid"));
  std::string part;
  std::int64_t place = 0;
  while (sqlite3_step(inOrder.get()) == SQLITE_ROW) {
    si::AppendUint32(part, static_cast<std::uint32_t>(sqlite3_column_int64(inOrder.get(), 0)));
    si::AppendUint32(part, static_cast<std::uint32_t>(sqlite3_column_int64(inOrder.get(), 1)));
    if (++place % si::kChunkRows == 0) {
      emit(si::OrderKey(k, si::OrderData::kSequence, place / si::kChunkRows - 1), part);
      part.clear();
    }
  }
  if (!part.empty()) emit(si::OrderKey(k, si::OrderData::kSequence, place / si::kChunkRows), part);
}

void SearchIndexBuilder::WriteOrders(const std::string& table,
                                     const std::vector<KeptOrder>& orders) {
  Execute(std::string("DELETE FROM ") + si::kOrderTable);
  Statement insert(
      Prepare(std::string("INSERT INTO ") + si::kOrderTable + " (id, data) VALUES (?1, ?2)"));
  for (const KeptOrder& order : orders) {
    ComputeOrder(table, order, [&](std::int64_t id, const std::string& data) {
      sqlite3_bind_int64(insert.get(), 1, id);
      sqlite3_bind_blob(insert.get(), 2, data.data(), static_cast<int>(data.size()), SQLITE_STATIC);
      if (sqlite3_step(insert.get()) != SQLITE_DONE) Fail("cannot write the index");
      sqlite3_reset(insert.get());
    });
  }
}

std::int64_t SearchIndexBuilder::CheckOrders(
    const std::string& table, const std::vector<KeptOrder>& orders,
    const std::function<void(const std::string&)>& report) {
  std::map<std::int64_t, std::string> stored;
  std::int64_t differing = 0;
  auto name = [](const std::string& of, std::int64_t id) {
    return "sort order of " + of + ((id >> 39) & 1 ? ", part " : ", ranks of chunk ") +
           std::to_string(id & ((std::int64_t{1} << 39) - 1));
  };
  Statement select(Prepare(std::string("SELECT id, data FROM ") + si::kOrderTable +
                           " WHERE id >= ?1 AND id < ?2 ORDER BY id"));
  // One order at a time in memory: at 10,000,000 books each holds 120 MB.
  std::set<std::int64_t> places;
  for (const KeptOrder& order : orders) {
    places.insert(order.place);
    sqlite3_bind_int64(select.get(), 1, static_cast<std::int64_t>(order.place) << 40);
    sqlite3_bind_int64(select.get(), 2, static_cast<std::int64_t>(order.place + 1) << 40);
    while (sqlite3_step(select.get()) == SQLITE_ROW) {
      stored[sqlite3_column_int64(select.get(), 0)] = BlobText(select.get(), 1);
    }
    sqlite3_reset(select.get());
    ComputeOrder(table, order, [&](std::int64_t id, const std::string& data) {
      const auto found = stored.find(id);
      if (found == stored.end()) {
        ++differing;
        report(name(order.name, id) + ": missing from the index");
        return;
      }
      if (found->second != data) {
        ++differing;
        report(name(order.name, id) + ": differs from the rows");
      }
      stored.erase(found);
    });
    for (const auto& entry : stored) {
      ++differing;
      report(name(order.name, entry.first) + ": stored, but no row gives it");
    }
    stored.clear();
  }
  // Rows at a place that holds no kept order are surplus.
  Statement ids(Prepare(std::string("SELECT id FROM ") + si::kOrderTable));
  while (sqlite3_step(ids.get()) == SQLITE_ROW) {
    const std::int64_t id = sqlite3_column_int64(ids.get(), 0);
    if (places.count(id >> 40)) continue;
    ++differing;
    report(name("place " + std::to_string(id >> 40), id) + ": stored, but no row gives it");
  }
  return differing;
}

std::int64_t SearchIndexBuilder::Refresh(std::ostream* progress, const IndexTarget& fallback) {
  // A writer holding the catalogue longer than the busy timeout, or a lock SQLite
  // refuses to wait for (two connections that would wait for each other), fails the
  // attempt; its transaction is rolled back and the refresh starts again.
  constexpr int kAttempts = 5;
  for (int attempt = 1;; ++attempt) {
    busy_ = false;
    try {
      return RefreshOnce(progress, fallback);
    } catch (const ECatalogError&) {
      if (!busy_ || attempt == kAttempts) throw;
      if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      std::this_thread::sleep_for(std::chrono::milliseconds(200 * attempt));
    }
  }
}

bool SearchIndexBuilder::TriggersLogSortColumns(const IndexTarget& target) {
  Statement trigger(
      Prepare("SELECT sql FROM sqlite_schema WHERE type = 'trigger' AND name = "
              "'liraidx_after_update'"));
  if (sqlite3_step(trigger.get()) != SQLITE_ROW) return false;
  const std::string sql = BlobText(trigger.get(), 0);
  for (const std::string& column : LoggedColumns(target)) {
    if (sql.find(ChangedTest(column)) == std::string::npos) return false;
  }
  return true;
}

std::int64_t SearchIndexBuilder::RefreshOnce(std::ostream* progress, const IndexTarget& fallback) {
  const std::optional<IndexTarget> stored = StoredTarget();
  const IndexTarget target = stored ? *stored : fallback;
  db::IndexUnused why = db::IndexUnused::kNone;
  // An index whose update trigger does not log changed sort values (as the first ones of
  // format 3) may keep an order the rows no longer have: it is built anew.
  const bool foldable =
      stored && (si::ReadCurrentIndex(db_, &why) || why == db::IndexUnused::kTooManyPending) &&
      TriggersLogSortColumns(target);
  if (!foldable) {
    Build(target, progress);
    return -1;
  }
  // The fold reads and writes lists and book rows all over the file in one transaction:
  // a larger page cache keeps them from being read again and spilled before the commit.
  Execute("PRAGMA cache_size = -131072");
  Execute("BEGIN IMMEDIATE");
  try {
    const PendingFold fold = ReadPending(target);
    // Folding costs about as much for every row as the build costs for a few: beyond a
    // quarter of the rows, or with a rowid outside what a stored order holds, the index
    // is built anew.
    const std::string rows = MetaValue("rows");
    const bool cheaper = fold.written.size() <=
                         static_cast<std::size_t>(std::max<std::int64_t>(std::stoll(rows) / 4, 64));
    if (!cheaper || (!KeptOrders(target).empty() && fold.outsideOrders)) {
      Execute("ROLLBACK");
      Build(target, progress);
      return -1;
    }
    WriteEdits(fold.edits);
    // Any row written moves the ranks of others: the orders are merged anew.
    if (fold.entries > 0) {
      MergeOrders(target, fold.written);
      Statement note(Prepare(std::string("INSERT OR REPLACE INTO ") + si::kMetaTable +
                             " VALUES ('rowid_order', ?1)"));
      const std::string columns = Joined(RowidOrderColumns(target), "", false, ",");
      sqlite3_bind_text(note.get(), 1, columns.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(note.get()) != SQLITE_DONE) Fail("cannot write the index");
    }
    // The index was current when the fold began: the parts a refresh adds below are the
    // only change of the schema since.
    auto noteOwnSchemaChange = [this] {
      Execute(std::string("UPDATE ") + si::kMetaTable +
              " SET value = (SELECT schema_version FROM pragma_schema_version)"
              " WHERE key = 'schema_version'");
    };
    if (target.joinedBooks) {
      if (!HasMeta(si::kJoinedCodesSetting)) {
        // Loans' books written before the loans' codes gain them and triggers that note
        // the loans written.
        DropJoinedBooks(db_);
        DropJoinedCodes(db_);
        CreateJoinedBooks(db_, target.table, *target.joinedBooks);
        CreateJoinedCodes(db_);
        noteOwnSchemaChange();
        WriteJoinedBooks(db_, target.table, *target.joinedBooks);
        WriteAllJoinedCodes(target, *target.joinedBooks);
      } else if (fold.entries > 0 || LoansWrittenSince()) {
        // A book written may have taken or left the key of a loan; the loans written
        // since are folded into the codes (and an entry a REPLACE left goes).
        WriteJoinedBooks(db_, target.table, *target.joinedBooks);
        WriteAllJoinedCodes(target, *target.joinedBooks);
      }
    }
    // An index without the codes, or with codes a record a chunk, gains the stripes; a
    // row that takes a value beyond what the codes hold has them written whole.
    if (!HasMeta(si::kBookCodesSetting)) {
      DropBookCodes(db_);
      CreateBookCodes(db_);
      noteOwnSchemaChange();
      WriteAllBookCodes(target);
    } else if (!UpdateBookCodes(db_, target.table, target.bookCodes, fold.written)) {
      WriteAllBookCodes(target);
    }
    Execute(std::string("DELETE FROM ") + si::kPendingTable +
            " WHERE id <= " + std::to_string(fold.lastId));
    Execute(std::string("UPDATE ") + si::kMetaTable + " SET value = (SELECT count(*) FROM " +
            Quoted(target.table) + ") WHERE key = 'rows'");
    Execute(std::string("INSERT OR REPLACE INTO ") + si::kMetaTable + " VALUES ('" +
            kLoggedDuringBuild + "', '0')");
    Execute("COMMIT");
    return fold.entries;
  } catch (const ECatalogError& e) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    if (busy_ || e.Message().find("damaged") == std::string::npos) throw;
    Build(target, progress);  // a damaged index is built anew
    return -1;
  }
}

SearchIndexBuilder::PendingFold SearchIndexBuilder::ReadPending(const IndexTarget& target) {
  const std::string mark = MetaValue(kLoggedDuringBuild);
  // An index built by a program that did not note it: any pending row may date from its build.
  const std::int64_t loggedDuringBuild = mark.empty() ? INT64_MAX : std::stoll(mark);
  PendingFold fold;
  Statement pending(Prepare("SELECT id, book_rowid, has_old, " +
                            Joined(OldNames(target), "", false) + " FROM " + si::kPendingTable +
                            " ORDER BY book_rowid, id"));
  Statement current(Prepare("SELECT rowid, " + Joined(target.columns, "", true) + " FROM " +
                            Quoted(target.table) + " WHERE rowid = ?1"));
  // The entries of one row: its lists hold the grams of the old values of its first
  // entry (a row written after the last build or fold), and every old value's grams are
  // to go unless the row's current values hold them.
  std::int64_t rowid = 0;
  std::vector<std::uint64_t> indexed, old, now, gone, added;
  auto finishRow = [&] {
    sqlite3_bind_int64(current.get(), 1, rowid);
    now.clear();
    if (sqlite3_step(current.get()) == SQLITE_ROW) {
      now = RowGrams(current.get(), 1, target);
      fold.outsideOrders |= rowid < 0 || rowid >= (std::int64_t{1} << 32);
    }
    sqlite3_reset(current.get());
    std::sort(old.begin(), old.end());
    old.erase(std::unique(old.begin(), old.end()), old.end());
    gone.clear();
    added.clear();
    std::set_difference(old.begin(), old.end(), now.begin(), now.end(), std::back_inserter(gone));
    std::set_difference(now.begin(), now.end(), indexed.begin(), indexed.end(),
                        std::back_inserter(added));
    const std::int64_t chunk = si::ChunkOf(rowid);
    const std::uint16_t low = si::LowBits(rowid);
    for (std::uint64_t gram : gone) fold.edits.push_back({gram, chunk, low, false});
    for (std::uint64_t gram : added) fold.edits.push_back({gram, chunk, low, true});
    fold.written.push_back(rowid);
    indexed.clear();
    old.clear();
  };
  while (sqlite3_step(pending.get()) == SQLITE_ROW) {
    const std::int64_t id = sqlite3_column_int64(pending.get(), 0);
    const std::int64_t entryRow = sqlite3_column_int64(pending.get(), 1);
    const bool hasOld = sqlite3_column_int(pending.get(), 2) != 0;
    const bool first = fold.entries == 0 || entryRow != rowid;
    if (first && fold.entries > 0) finishRow();
    rowid = entryRow;
    fold.lastId = std::max(fold.lastId, id);
    ++fold.entries;
    if (!hasOld) continue;
    std::vector<std::uint64_t> grams = RowGrams(pending.get(), 3, target);
    if (first && id > loggedDuringBuild) indexed = grams;
    old.insert(old.end(), grams.begin(), grams.end());
  }
  if (fold.entries > 0) finishRow();
  std::sort(fold.edits.begin(), fold.edits.end());
  return fold;
}

void SearchIndexBuilder::WriteEdits(const std::vector<PostingEdit>& edits) {
  Statement read(Prepare(std::string("SELECT data FROM ") + si::kPostingsTable +
                         " WHERE col = ?1 AND gram = ?2 AND chunk = ?3"));
  Statement write(Prepare(std::string("INSERT OR REPLACE INTO ") + si::kPostingsTable +
                          " (col, gram, chunk, data) VALUES (?1, ?2, ?3, ?4)"));
  Statement erase(Prepare(std::string("DELETE FROM ") + si::kPostingsTable +
                          " WHERE col = ?1 AND gram = ?2 AND chunk = ?3"));
  std::vector<std::int64_t> rowids;
  std::vector<std::uint16_t> lows, kept, gone, added;
  for (std::size_t first = 0; first < edits.size();) {
    // The edits of one list: its key, then the low bits to remove and to add.
    const std::uint64_t gram = edits[first].columnGram;
    const std::int64_t chunk = edits[first].chunk;
    const si::PostingKey key{ColumnOf(gram), GramOf(gram), chunk};
    gone.clear();
    added.clear();
    std::size_t end = first;
    for (; end < edits.size() && edits[end].columnGram == gram && edits[end].chunk == chunk; ++end)
      (edits[end].add ? added : gone).push_back(edits[end].low);
    first = end;
    auto bind = [&](sqlite3_stmt* statement) {
      sqlite3_bind_int(statement, 1, key.column);
      sqlite3_bind_int64(statement, 2, key.gram);
      sqlite3_bind_int64(statement, 3, key.chunk);
    };
    bind(read.get());
    rowids.clear();
    if (sqlite3_step(read.get()) == SQLITE_ROW &&
        !si::DecodePosting(BlobText(read.get(), 0), key, rowids)) {
      throw ECatalogError(path_ + ": the search index is damaged");
    }
    sqlite3_reset(read.get());
    lows.clear();
    for (std::int64_t row : rowids) lows.push_back(si::LowBits(row));
    kept.clear();
    std::set_difference(lows.begin(), lows.end(), gone.begin(), gone.end(),
                        std::back_inserter(kept));
    lows.clear();
    std::set_union(kept.begin(), kept.end(), added.begin(), added.end(), std::back_inserter(lows));
    sqlite3_stmt* statement = lows.empty() ? erase.get() : write.get();
    bind(statement);
    const std::string data = lows.empty() ? std::string() : si::EncodePosting(lows, key);
    if (!lows.empty()) {
      sqlite3_bind_blob(statement, 4, data.data(), static_cast<int>(data.size()), SQLITE_STATIC);
    }
    if (sqlite3_step(statement) != SQLITE_DONE) Fail("cannot write the index");
    sqlite3_reset(statement);
  }
}

void SearchIndexBuilder::MergeOrders(const IndexTarget& target,
                                     const std::vector<std::int64_t>& written) {
  Statement ids(
      Prepare(std::string("SELECT id FROM ") + si::kOrderTable + " WHERE id >= ?1 AND id < ?2"));
  Statement write(Prepare(std::string("INSERT OR REPLACE INTO ") + si::kOrderTable +
                          " (id, data) VALUES (?1, ?2)"));
  Statement erase(Prepare(std::string("DELETE FROM ") + si::kOrderTable + " WHERE id = ?1"));
  for (const KeptOrder& order : KeptOrders(target)) {
    const int place = order.place;
    // What the order held: rows no longer written (a shorter sequence, a chunk without
    // rows now) are removed after the merge.
    std::set<std::int64_t> stale;
    sqlite3_bind_int64(ids.get(), 1, si::OrderKey(place, si::OrderData::kRanks, 0));
    sqlite3_bind_int64(ids.get(), 2, si::OrderKey(place + 1, si::OrderData::kRanks, 0));
    while (sqlite3_step(ids.get()) == SQLITE_ROW) stale.insert(sqlite3_column_int64(ids.get(), 0));
    sqlite3_reset(ids.get());
    MergeWrittenRows(db_, target.table, order.terms, place, written,
                     [&](std::int64_t id, const std::string& data) {
                       stale.erase(id);
                       sqlite3_bind_int64(write.get(), 1, id);
                       sqlite3_bind_blob(write.get(), 2, data.data(), static_cast<int>(data.size()),
                                         SQLITE_STATIC);
                       if (sqlite3_step(write.get()) != SQLITE_DONE) Fail("cannot write the index");
                       sqlite3_reset(write.get());
                     });
    for (std::int64_t id : stale) {
      sqlite3_bind_int64(erase.get(), 1, id);
      if (sqlite3_step(erase.get()) != SQLITE_DONE) Fail("cannot write the index");
      sqlite3_reset(erase.get());
    }
  }
}

bool SearchIndexBuilder::Check(std::ostream& out) {
  if (!HasIndex()) {
    out << path_ << ": holds no search index; searches read every book\n";
    return false;
  }
  const std::optional<IndexTarget> stored = StoredTarget();
  const std::string format = MetaValue("format");
  if (!stored || format.empty()) {
    out << "half built: a build stopped before it ended; searches read every book until "
        << "`catalog_index refresh` builds the index again\n";
    return false;
  }
  if (format != std::to_string(si::kFormatVersion)) {
    out << "built in format " << format << ", which this program does not read (format "
        << si::kFormatVersion << "); searches read every book until `catalog_index refresh` "
        << "builds the index again\n";
    return false;
  }
  const IndexTarget& target = *stored;
  bool sound = true;
  if (db::IndexUnused why; !si::ReadCurrentIndex(db_, &why)) {
    out << "search index unused: " << db::IndexUnusedText(why) << " (pending limit "
        << target.pendingLimit << "); searches read every book until `catalog_index refresh`\n";
    sound = false;
  }
  const int columnCount = static_cast<int>(target.columns.size());
  constexpr int kMostReported = 20;
  int reported = 0;
  std::int64_t missing = 0, extra = 0, damaged = 0, rows = 0, postingsChecked = 0;
  auto report = [&](const std::string& line) {
    if (reported++ < kMostReported) out << line << "\n";
  };
  Execute("BEGIN");  // one read transaction: the index and the rows of the same moment
  std::set<std::int64_t> pending;
  {
    Statement select(Prepare(std::string("SELECT book_rowid FROM ") + si::kPendingTable));
    while (sqlite3_step(select.get()) == SQLITE_ROW) {
      pending.insert(sqlite3_column_int64(select.get(), 0));
    }
  }
  // Every chunk that holds a row or a list: a list of a chunk without rows is all
  // entries for rows that do not exist.
  std::set<std::int64_t> chunks, listChunks;
  {
    Statement all(Prepare(std::string("SELECT DISTINCT chunk FROM ") + si::kPostingsTable));
    while (sqlite3_step(all.get()) == SQLITE_ROW)
      listChunks.insert(sqlite3_column_int64(all.get(), 0));
    chunks = listChunks;
    Statement books(Prepare("SELECT DISTINCT rowid >> " + std::to_string(si::kChunkBits) +
                            " FROM " + Quoted(target.table)));
    while (sqlite3_step(books.get()) == SQLITE_ROW)
      chunks.insert(sqlite3_column_int64(books.get(), 0));
  }
  Statement select(Prepare("SELECT rowid, " + Joined(target.columns, "", true) + " FROM " +
                           Quoted(target.table) +
                           " WHERE rowid >= ?1 AND rowid < ?2 ORDER BY rowid"));
  Statement lists(Prepare(std::string("SELECT col, gram, data FROM ") + si::kPostingsTable +
                          " WHERE chunk = ?1"));
  auto rowidList = [](const std::vector<std::int64_t>& rowids) {
    std::string text;
    for (std::size_t i = 0; i < rowids.size() && text.size() < 60; ++i) {
      text += " " + std::to_string(rowids[i]);
    }
    return text;
  };
  for (std::int64_t chunk : chunks) {
    auto expected = ChunkPostings(select.get(), chunk, target, rows);
    sqlite3_reset(select.get());
    std::set<std::uint64_t> compared;
    auto compare = [&](std::uint64_t key, const std::vector<std::int64_t>& indexed) {
      compared.insert(key);
      ++postingsChecked;
      std::vector<std::int64_t> held, absent, surplus;
      for (std::uint16_t low : expected[key]) held.push_back(chunk * si::kChunkRows + low);
      auto unlessPending = [&](std::int64_t rowid) { return pending.count(rowid) == 0; };
      std::set_difference(held.begin(), held.end(), indexed.begin(), indexed.end(),
                          std::back_inserter(absent));
      std::set_difference(indexed.begin(), indexed.end(), held.begin(), held.end(),
                          std::back_inserter(surplus));
      absent.erase(std::remove_if(absent.begin(), absent.end(), std::not_fn(unlessPending)),
                   absent.end());
      surplus.erase(std::remove_if(surplus.begin(), surplus.end(), std::not_fn(unlessPending)),
                    surplus.end());
      missing += static_cast<std::int64_t>(absent.size());
      extra += static_cast<std::int64_t>(surplus.size());
      const std::string where = "column " +
                                target.columns[static_cast<std::size_t>(ColumnOf(key))] +
                                ", gram \"" + GramText(GramOf(key)) + "\": ";
      if (!absent.empty()) report(where + "rows missing from the index:" + rowidList(absent));
      if (!surplus.empty()) {
        report(where +
               "index entries for rows that do not hold it or do not exist:" + rowidList(surplus));
      }
    };
    if (listChunks.count(chunk)) {
      sqlite3_bind_int64(lists.get(), 1, chunk);
      while (sqlite3_step(lists.get()) == SQLITE_ROW) {
        const int column = sqlite3_column_int(lists.get(), 0);
        const std::int64_t gram = sqlite3_column_int64(lists.get(), 1);
        std::vector<std::int64_t> indexed;
        if (column < 0 || column >= columnCount ||
            !si::DecodePosting(BlobText(lists.get(), 2), {column, gram, chunk}, indexed)) {
          ++damaged;
          report("damaged posting list (wrong checksum or layout): column " +
                 std::to_string(column) + ", gram " + std::to_string(gram) + ", chunk " +
                 std::to_string(chunk));
          compared.insert(ColumnGram(column, gram));
          continue;
        }
        compare(ColumnGram(column, gram), indexed);
      }
      sqlite3_reset(lists.get());
    }
    for (const auto& entry : expected) {
      if (!compared.count(entry.first)) compare(entry.first, {});
    }
  }
  // The orders are written anew by a refresh; while rows are pending no search uses them.
  const std::int64_t orderDiffering =
      pending.empty() ? CheckOrders(target.table, KeptOrders(target), report) : 0;
  // The note that a column's order is the rowid order lets searches skip sorting by it.
  const std::string rowidOrder = MetaValue("rowid_order");
  const bool rowidOrderWrong =
      pending.empty() && rowidOrder != Joined(RowidOrderColumns(target), "", false, ",");
  if (rowidOrderWrong)
    report("columns noted in rowid order (" + rowidOrder + ") differ from the rows");
  // Like the orders, the books of the joined rows are written anew by a refresh.
  const std::int64_t joinedDiffering =
      target.joinedBooks && pending.empty()
          ? CheckJoinedBooks(db_, target.table, *target.joinedBooks, report)
          : 0;
  const bool loansCoded =
      target.joinedBooks && target.joinedCodes && !MetaValue(si::kJoinedCodesSetting).empty();
  const std::int64_t loanCodesDiffering =
      loansCoded && pending.empty()
          ? CheckJoinedCodes(db_, *target.joinedBooks, *target.joinedCodes, report)
          : 0;
  if (HasMeta(si::kChunkCodesSetting)) {
    out << "codes of the books kept a record a chunk, which this program does not read; "
        << "counts and filters do without them until `catalog_index refresh` writes them anew\n";
  }
  const bool coded = HasMeta(si::kBookCodesSetting) && !target.bookCodes.empty();
  const std::int64_t codesDiffering =
      coded && pending.empty() ? CheckBookCodes(db_, target.table, target.bookCodes, report) : 0;
  Execute("COMMIT");
  if (reported > kMostReported) out << "(" << reported - kMostReported << " more)\n";
  out << rows << " books, " << postingsChecked << " posting lists compared: " << missing
      << " rows missing from the index, " << extra
      << " entries for rows that do not hold their gram, " << damaged << " damaged lists, "
      << pending.size() << " pending rows\n";
  std::vector<std::string> orderNames;
  for (const KeptOrder& order : KeptOrders(target)) orderNames.push_back(order.name);
  out << "sort orders of " << (orderNames.empty() ? "no column" : Joined(orderNames, "", false))
      << (pending.empty()
              ? ": " + std::to_string(orderDiffering) + " parts differing from the rows\n"
              : ": not compared while rows are pending\n");
  if (target.joinedBooks) {
    out << "books of the " << target.joinedBooks->table << " rows"
        << (pending.empty() ? ": " + std::to_string(joinedDiffering) + " differing\n"
                            : ": not compared while rows are pending\n");
  }
  if (loansCoded) {
    out << "codes of the " << target.joinedBooks->table << " rows' "
        << si::BookCodesText({*target.joinedCodes})
        << (pending.empty() ? ": " + std::to_string(loanCodesDiffering) + " differing\n"
                            : ": not compared while rows are pending\n");
  }
  if (coded) {
    out << "codes of the books (" << si::BookCodesText(target.bookCodes) << ")"
        << (pending.empty() ? ": " + std::to_string(codesDiffering) + " differing\n"
                            : ": not compared while rows are pending\n");
  }
  return sound && missing == 0 && extra == 0 && damaged == 0 && orderDiffering == 0 &&
         !rowidOrderWrong && joinedDiffering == 0 && loanCodesDiffering == 0 && codesDiffering == 0;
}

}  // namespace tools
