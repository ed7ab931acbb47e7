// The search index against the scan: the same statement run on a catalogue with a
// current index and on a copy without one must give the same rows in the same order
// and the same count, in both matching modes, whatever other programs wrote meanwhile,
// and a catalogue whose index cannot be trusted must be searched by scan.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <iostream>
#include <random>
#include <sstream>
#include <thread>

#include "db/index_fit.h"
#include "db/sqlite/candidate_table.h"
#include "db/sqlite/indexed_search.h"
#include "db/sqlite/kept_statements.h"
#include "db/sqlite/ranked_order.h"
#include "db/sqlite/search_index_format.h"
#include "db/sqlite/search_narrowing.h"
#include "db/sqlite/sqlite_driver.h"
#include "module/search_statement.h"
#include "platform/sjis.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tools/catalog_schema.h"
#include "tools/search_index_builder.h"

using namespace db;
using namespace module;
using namespace tools;

namespace {

using db::MatchMode;
using test_support::TempDir;

// Characters the texts are made of: letters in both widths and cases, hiragana and
// katakana of one sound, half-width kana with and without voiced mark, kanji whose
// trail byte is 0x5C, digits, and the two LIKE wildcards as text.
const char* const kAlphabet[] = {
    "a",        "A",    "\x82\x81", "\x82\x60", "b",        "\x82\xa0", "\x83\x41",
    "\xb1",     "\xb6", "\xde",     "\x83\x4b", "\x82\xaa", "\x95\x5c", "\x83\x5c",
    "\x8f\x5c", "1",    "\x82\x50", "%",        "_",        " ",        "\x8e\x9a"};

const char* const kHead[] = {
    "SELECT MS_BOOKID, MS_SYOMEI, MS_SYOKANA, MS_CHOSYA, MS_CHOKANA, MS_SYUPAN,",
    "       MS_ISBN, MS_KENMEI, MS_SEIKYU, KA_USERID", "FROM BOOKMAST",
    "LEFT OUTER JOIN KASIDASI ON KA_BOOKID = MS_BOOKID"};

// With these too, for the loose mode: separators, the long vowel mark, forms of 高 (the
// NEC-selected 髙 among them) and of 辺, punctuation (。 「 ｢ . ().
const char* const kLooseAlphabet[] = {
    "-",        "\x81\x45", "\xa5", "\x81\x40", "\x81\x5b", "\x8d\x82", "\xfb\xfc", "\xee\xe0",
    "\x95\xd3", "\xe7\xb2", ",",    "\x81\x42", "\x81\x75", "\xa2",     ".",        "("};

std::string RandomText(std::mt19937& random, int longest, bool loose = false) {
  std::string text;
  const int length = static_cast<int>(random() % (longest + 1));
  const std::size_t letters = std::size(kAlphabet) + (loose ? std::size(kLooseAlphabet) : 0);
  for (int i = 0; i < length; ++i) {
    const std::size_t pick = random() % letters;
    text +=
        pick < std::size(kAlphabet) ? kAlphabet[pick] : kLooseAlphabet[pick - std::size(kAlphabet)];
  }
  return text;
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    quoted.push_back(c);
    if (c == '\'') quoted.push_back('\'');
  }
  return quoted + "'";
}

void Exec(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  EXPECT_EQ(rc, SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

// Writes through the sqlite3 program, as the library's own system would: no function
// of ours is known there.
void WriteOutside(const std::string& path, const std::string& sql) {
  test_support::ChildRun run{"/usr/bin/sqlite3", {path}, {}, {}, sql};
  const test_support::ChildResult result = test_support::RunChild(run);
  ASSERT_EQ(result.exitCode, 0) << result.errors;
}

// An INSERT of a book with random texts at the rowid.
std::string InsertBook(std::mt19937& random, std::int64_t rowid, const std::string& verb,
                       bool loose = false) {
  std::string sql = verb +
                    " INTO BOOKMAST (rowid, MS_BOOKID, MS_SYOMEI, MS_SYOKANA, MS_CHOSYA,"
                    " MS_CHOKANA, MS_SYUPAN, MS_ISBN, MS_KENMEI, MS_SYUNEN) VALUES (" +
                    std::to_string(rowid) + ", 'B" + std::to_string(rowid) + "'";
  for (int column = 0; column < 7; ++column) sql += ", " + Quote(RandomText(random, 8, loose));
  // Few years, so that the best-match order meets ties, and books without one.
  const int year = static_cast<int>(random() % 4);
  return sql + (year == 0 ? ", NULL" : ", " + std::to_string(2000 + year)) + ");\n";
}

// A catalogue of about count books: a dense run of rowids (whose common units get bitmap
// lists) and a sparse tail over several chunks, one book in eight lent out.
void MakeCatalogue(const std::string& path, std::mt19937& random, int count, bool loose = false) {
  std::string sql = std::string(kCatalogSchema) + "BEGIN;\n";
  for (int i = 1; i <= count; ++i) {
    const std::int64_t rowid = i <= count * 9 / 10 ? i : i * 97 + static_cast<int>(random() % 50);
    sql += InsertBook(random, rowid, "INSERT", loose);
    if (random() % 8 == 0) {
      sql += "INSERT INTO KASIDASI VALUES ('B" + std::to_string(rowid) + "', 'U" +
             std::to_string(random() % 5) + "', NULL);\n";
    }
  }
  Exec(path, sql + "COMMIT;\n");
}

SearchCriteria RandomCriteria(std::mt19937& random, bool loose = false) {
  static const char* const kOrders[] = {"",           "",          "MS_SYOMEI", "MS_CHOSYA",
                                        "KA_USERID",  "MS_BOOKID", "MS_ISBN",   "MS_SYOKANA",
                                        "MS_CHOKANA", "MS_SEIKYU"};
  static const char* const kKinds[] = {"", "ASC", "DESC"};
  SearchCriteria criteria;
  while (criteria.SearchFlags == 0) criteria.SearchFlags = random() % 64 & random() % 64;
  auto word = [&] { return RandomText(random, 3, loose); };
  criteria.BookName = word();
  criteria.Chosya = word();
  criteria.Syupan = word();
  criteria.Isbn = word();
  criteria.Kenmei = word();
  criteria.Any = word();
  criteria.AuthorOnly = random() % 2 == 0;
  criteria.EveryWord = random() % 2 == 0;
  criteria.Relevance = random() % 3 == 0;
  criteria.Order = kOrders[random() % std::size(kOrders)];
  criteria.OrderKind = kKinds[random() % std::size(kKinds)];
  return criteria;
}

std::string StatementText(const SearchCriteria& criteria) {
  std::string sql;
  for (const std::string& line :
       BuildSearchStatement({std::begin(kHead), std::end(kHead)}, criteria)) {
    sql += line + "\r\n";
  }
  return sql;
}

// Every row of the result as one text, in order, and the counts the driver gives while
// the cursor stands on the first row (from the index's lists when they are exact) and
// past the end.
struct Result {
  std::vector<std::string> rows;
  std::int64_t count = 0;
  std::int64_t countOnFirstRow = 0;
  bool operator==(const Result& other) const {
    return rows == other.rows && count == other.count && countOnFirstRow == other.countOnFirstRow;
  }
  friend void PrintTo(const Result& result, std::ostream* out) {
    *out << result.rows.size() << " rows, counted " << result.countOnFirstRow << " then "
         << result.count;
  }
};

// With skip, the rows after passing over that many first, as a page does; a skip past
// the end gives the row the cursor stays on.
Result RunStatement(db::Statement& statement, std::int64_t skip = 0) {
  Result result;
  std::unique_ptr<db::Cursor> cursor = statement.Execute({});
  result.countOnFirstRow = cursor->CountRows();
  auto text = [&cursor] {
    std::string row;
    // A null keeps the text of the value before it: read as empty.
    for (const db::ColumnValue& value : cursor->Row()) {
      row += (value.ValueKind == db::ColumnValue::Kind::kNull ? "" : value.Text) + "|";
    }
    return row;
  };
  if (skip > 0 && !cursor->Skip(skip)) result.rows.push_back("past the end: " + text());
  for (bool on = cursor->OnRow(); on; on = cursor->Next()) result.rows.push_back(text());
  result.count = cursor->CountRows();
  return result;
}

Result RunSearch(db::Database& database, const std::string& sql) {
  return RunStatement(*database.Prepare(sql));
}

// True when the index narrows the statement (rather than leaving it to a scan).
bool Narrowed(const std::string& path, const std::string& sql, MatchMode mode) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  db::searchindex::CandidateRegistry* registry = nullptr;
  db::searchindex::RegisterCandidateTable(db, &registry);
  const bool narrowed =
      db::searchindex::NarrowSearchStatement(db, sql, mode, *registry).has_value();
  sqlite3_close(db);
  return narrowed;
}

// True when the index narrows the statement and its candidates come in the statement's
// order, read from the index, so that the statement itself sorts nothing.
bool SortedByIndex(const std::string& path, const std::string& sql, MatchMode mode) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  db::searchindex::CandidateRegistry* registry = nullptr;
  db::searchindex::RegisterCandidateTable(db, &registry);
  auto narrowed = db::searchindex::NarrowSearchStatement(db, sql, mode, *registry);
  const bool sorted = narrowed && narrowed->set->Sort().has_value();
  sqlite3_close(db);
  return sorted;
}

class SearchIndexTest : public ::testing::Test {
 protected:
  SearchIndexTest() : random_(20261208) {}

  // Builds the catalogue, copies it for the scan, and indexes the original.
  void SetUp() override {
    MakeCatalogue(indexed_, random_, 2000);
    std::filesystem::copy_file(indexed_, scanned_);
    Builder().Build(IndexTarget{}, nullptr);
  }

  SearchIndexBuilder Builder() { return SearchIndexBuilder(indexed_); }

  // Runs the statement on both files in both modes; false when they differ. Counts
  // the statements the index narrowed.
  void ExpectSameAsScan(const std::string& sql, std::initializer_list<MatchMode> modes = {
                                                    MatchMode::kFolded, MatchMode::kExact}) {
    for (MatchMode mode : modes) {
      auto withIndex = db::OpenSqliteDatabase(indexed_, mode, 0);
      auto withoutIndex = db::OpenSqliteDatabase(scanned_, mode, 0);
      const Result expected = RunSearch(*withoutIndex, sql);
      ASSERT_EQ(RunSearch(*withIndex, sql), expected) << (mode == MatchMode::kExact   ? "EXACT: "
                                                          : mode == MatchMode::kLoose ? "LOOSE: "
                                                                                      : "FOLDED: ")
                                                      << sql;
      if (Narrowed(indexed_, sql, mode)) ++narrowed_;
      ++statements_;
    }
  }

  // The rows from the start of every kind of page (the second row, a page's, the
  // middle, the last, past the end) as the scan gives them, rows, ties and counts.
  void ExpectSamePagesAsScan(const std::string& sql, MatchMode mode = MatchMode::kFolded) {
    auto withIndex = db::OpenSqliteDatabase(indexed_, mode, 0);
    auto withoutIndex = db::OpenSqliteDatabase(scanned_, mode, 0);
    const std::unique_ptr<db::Statement> indexed = withIndex->Prepare(sql);
    const std::unique_ptr<db::Statement> scanned = withoutIndex->Prepare(sql);
    const std::int64_t count = RunStatement(*scanned).count;
    for (std::int64_t skip : {std::int64_t{1}, std::int64_t{19}, std::int64_t{20}, count / 2,
                              count - 1, count, count + 3}) {
      ASSERT_EQ(RunStatement(*indexed, skip), RunStatement(*scanned, skip))
          << "passing over " << skip << " of " << count << ": " << sql;
    }
  }

  // The same outside write on both files.
  void WriteBoth(const std::string& sql) {
    WriteOutside(indexed_, sql);
    WriteOutside(scanned_, sql);
  }

  std::mt19937 random_;
  TempDir folder_{"search-index."};
  std::string indexed_ = folder_ / "indexed.db";
  std::string scanned_ = folder_ / "scanned.db";
  int narrowed_ = 0, statements_ = 0;
};

TEST_F(SearchIndexTest, RandomSearchesGiveTheScansRowsOrderAndCount) {
  for (int i = 0; i < 120; ++i) ExpectSameAsScan(StatementText(RandomCriteria(random_)));
  // Else the comparison above would prove nothing about the index.
  EXPECT_GT(narrowed_, statements_ / 4);
  // The best-match order and the any-field box are narrowed as well.
  const int before = narrowed_;
  for (int i = 0; i < 20; ++i) {
    SearchCriteria criteria = RandomCriteria(random_);
    criteria.SearchFlags = kSearchAny;
    criteria.Relevance = true;
    ExpectSameAsScan(StatementText(criteria));
  }
  EXPECT_GT(narrowed_ - before, 10);
  std::ostringstream report;
  EXPECT_TRUE(Builder().Check(report)) << report.str();
}

// A search asked again on a connection, once the statements before it went, is narrowed
// to the same text, so that the connection's prepared statement serves it again; two
// alive at once read different sets.
TEST_F(SearchIndexTest, ASearchAskedAgainIsNarrowedToTheSameText) {
  const std::string sql =
      "SELECT MS_BOOKID FROM BOOKMAST\r\nWHERE\r\nMS_SYOMEI LIKE '%\x83\x41%'\r\n";
  sqlite3* db = nullptr;
  sqlite3_open(indexed_.c_str(), &db);
  db::searchindex::CandidateRegistry* registry = nullptr;
  db::searchindex::RegisterCandidateTable(db, &registry);
  auto narrow = [&] {
    return db::searchindex::NarrowSearchStatement(db, sql, MatchMode::kFolded, *registry);
  };
  std::string firstText;
  {
    auto first = narrow(), second = narrow();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->sql, second->sql);
    firstText = first->sql;
    registry->Remove(second->setNumber);
    registry->Remove(first->setNumber);
  }
  for (int again = 0; again < 3; ++again) {
    auto next = narrow();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->sql, firstText) << again;
    registry->Remove(next->setNumber);
  }
  sqlite3_close(db);
}

// One connection kept for many searches, as a long-lived process keeps it: searches
// coming back after others (more than the connection keeps prepared), one left halfway
// through its rows, and a commit by another program in between, each the scan's answer.
TEST_F(SearchIndexTest, AKeptConnectionAnswersRepeatedSearchesAsAFreshOne) {
  auto kept = db::OpenSqliteDatabase(indexed_, MatchMode::kFolded, 0);
  auto scan = db::OpenSqliteDatabase(scanned_, MatchMode::kFolded, 0);
  std::vector<std::string> searches;
  for (int i = 0; i < 2 * db::searchindex::kMostRecentKept; ++i) {
    searches.push_back(StatementText(RandomCriteria(random_)));
  }
  for (std::size_t round = 0; round < 3; ++round) {
    if (round == 2) {
      const std::string write = InsertBook(random_, 900001, "INSERT");
      Exec(indexed_, write);
      Exec(scanned_, write);
    }
    for (std::size_t i = 0; i < searches.size(); ++i) {
      if (i % 5 == round) {  // left after its first row, its cursor and statement dropped
        std::unique_ptr<db::Statement> statement = kept->Prepare(searches[i]);
        statement->Execute({});
      }
      ASSERT_EQ(RunSearch(*kept, searches[i]), RunSearch(*scan, searches[i]))
          << "round " << round << ": " << searches[i];
    }
  }
}

TEST_F(SearchIndexTest, OutsideWritesAreFoundBeforeAndAfterRefresh) {
  // New texts made of the same characters, so the random searches meet them.
  std::string writes = "BEGIN;\n";
  for (int i = 0; i < 40; ++i) writes += InsertBook(random_, 500000 + i, "INSERT");
  for (int i = 0; i < 40; ++i) {
    writes += "UPDATE BOOKMAST SET MS_SYOMEI = " + Quote(RandomText(random_, 6)) +
              ", MS_CHOSYA = " + Quote(RandomText(random_, 6)) +
              " WHERE rowid = " + std::to_string(1 + random_() % 1700) + ";\n";
  }
  writes += "DELETE FROM BOOKMAST WHERE rowid % 50 = 7;\n";
  // Case changes (the folded lists stay) and a column that is not indexed.
  writes +=
      "UPDATE BOOKMAST SET MS_SYUPAN = upper(MS_SYUPAN), MS_SEIKYU = 'X' "
      "WHERE rowid % 7 = 3;\n";
  // REPLACE over an existing book: the old row goes without a delete trigger.
  for (int i = 0; i < 20; ++i) {
    const std::int64_t rowid = 1 + random_() % 1700;
    std::string replace = InsertBook(random_, 700000 + i, "INSERT OR REPLACE");
    const std::string ownId = "'B" + std::to_string(700000 + i) + "'";
    replace.replace(replace.find(ownId), ownId.size(), "'B" + std::to_string(rowid) + "'");
    writes += replace;
  }
  WriteBoth(writes + "COMMIT;\n");

  for (int i = 0; i < 60; ++i) ExpectSameAsScan(StatementText(RandomCriteria(random_)));
  std::ostringstream report;
  EXPECT_TRUE(Builder().Check(report)) << report.str();
  EXPECT_GT(Builder().Refresh(nullptr), 0);
  for (int i = 0; i < 60; ++i) ExpectSameAsScan(StatementText(RandomCriteria(random_)));
  std::ostringstream afterRefresh;
  EXPECT_TRUE(Builder().Check(afterRefresh)) << afterRefresh.str();
  EXPECT_NE(afterRefresh.str().find(" 0 pending rows"), std::string::npos) << afterRefresh.str();
  EXPECT_GT(narrowed_, statements_ / 4);
}

// A search statement the index can narrow, and its text.
std::string NarrowableSearch() {
  SearchCriteria criteria;
  criteria.SearchFlags = kSearchBookName;
  criteria.BookName = "\x83\x41\x83\x4b";  // アガ
  return StatementText(criteria);
}

// Flips the lowest bit of the second byte of every stored list of the gram in the
// column: inside the list, past its kind.
void FlipOneBit(const std::string& path, int column, std::int64_t gram) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* select = nullptr;
  sqlite3_prepare_v2(db, "SELECT chunk, data FROM liraidx_postings WHERE col = ?1 AND gram = ?2",
                     -1, &select, nullptr);
  sqlite3_bind_int(select, 1, column);
  sqlite3_bind_int64(select, 2, gram);
  std::vector<std::pair<std::int64_t, std::string>> lists;
  while (sqlite3_step(select) == SQLITE_ROW) {
    std::string data(static_cast<const char*>(sqlite3_column_blob(select, 1)),
                     sqlite3_column_bytes(select, 1));
    data[1] = static_cast<char>(data[1] ^ 1);
    lists.emplace_back(sqlite3_column_int64(select, 0), data);
  }
  sqlite3_finalize(select);
  ASSERT_FALSE(lists.empty());
  for (const auto& [chunk, data] : lists) {
    sqlite3_stmt* update = nullptr;
    sqlite3_prepare_v2(db,
                       "UPDATE liraidx_postings SET data = ?1 WHERE col = ?2 AND gram = ?3"
                       " AND chunk = ?4",
                       -1, &update, nullptr);
    sqlite3_bind_blob(update, 1, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int(update, 2, column);
    sqlite3_bind_int64(update, 3, gram);
    sqlite3_bind_int64(update, 4, chunk);
    EXPECT_EQ(sqlite3_step(update), SQLITE_DONE);
    sqlite3_finalize(update);
  }
  sqlite3_close(db);
}

// Each state is searched by scan, named by check (which exits non-zero), and mended by
// a refresh (the states a build or an older program leaves) or a build.
TEST_F(SearchIndexTest, AnIndexThatCannotBeTrustedIsPassedByForAScan) {
  const std::string sql = NarrowableSearch();
  ASSERT_TRUE(Narrowed(indexed_, sql, MatchMode::kFolded));
  const std::int64_t gram =
      db::searchindex::RequiredGramKeys("%\x83\x41\x83\x4b%", MatchMode::kFolded).at(0);  // アガ
  struct Case {
    const char* what;
    std::string sql;  // run on the indexed file
    const char* reported;
    bool refreshMends;
  };
  const Case cases[] = {
      {"schema changed", "CREATE TABLE OTHER (X);", "not current", true},
      {"damaged lists", "UPDATE liraidx_postings SET data = x'07';", "damaged posting list", false},
      {"one bit flipped", "", "damaged posting list", false},
      {"damaged description", "UPDATE liraidx_meta SET value = 'x' WHERE key = 'rows';",
       "damaged: its description", true},
      {"an earlier format", "UPDATE liraidx_meta SET value = '1' WHERE key = 'format';",
       "built in format 1", true},
      // A build stopped after its first transaction: described, partly listed.
      {"half built",
       "DELETE FROM liraidx_meta WHERE key NOT IN ('table', 'columns', 'pending_limit', "
       "'match'); DELETE FROM liraidx_postings WHERE chunk > 0;",
       "half built", true},
      // Stopped where an older program left no description at all.
      {"half built, undescribed", "DELETE FROM liraidx_meta;", "half built", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.sql.empty()) {
      FlipOneBit(indexed_, 0, gram);
    } else {
      Exec(indexed_, c.sql);
    }
    EXPECT_FALSE(Narrowed(indexed_, sql, MatchMode::kFolded));
    ExpectSameAsScan(sql);
    std::ostringstream report;
    EXPECT_FALSE(Builder().Check(report)) << report.str();
    EXPECT_NE(report.str().find(c.reported), std::string::npos) << report.str();
    if (c.refreshMends) {
      EXPECT_EQ(Builder().Refresh(nullptr), -1);
    } else {
      Builder().Build(IndexTarget{}, nullptr);
    }
    EXPECT_TRUE(Narrowed(indexed_, sql, MatchMode::kFolded));
    ExpectSameAsScan(sql);
    std::ostringstream mended;
    EXPECT_TRUE(Builder().Check(mended)) << mended.str();
  }
}

// Each way the index goes unused, brought about in the catalogue file by an outside
// write, is the reason the search that falls back gives, and the one catalog_index check
// names when it is the index's own state.
TEST_F(SearchIndexTest, AnIndexNotUsedKeepsItsReason) {
  using db::IndexUnused;
  struct Case {
    const char* what;
    std::string sql;  // run on the indexed file after a build with a pending limit of 1
    MatchMode mode;
    std::string search;
    IndexUnused why;
    std::string checked;  // in check's report; empty: the index itself is sound
  };
  const std::string search = NarrowableSearch();
  const std::string twoBooks =
      InsertBook(random_, 900000, "INSERT") + InsertBook(random_, 900001, "INSERT");
  const Case cases[] = {
      {"in use", "", MatchMode::kFolded, search, IndexUnused::kNone, ""},
      {"half built", "DELETE FROM liraidx_meta WHERE key = 'format';", MatchMode::kFolded, search,
       IndexUnused::kHalfBuilt, "half built"},
      {"other format", "UPDATE liraidx_meta SET value = '99' WHERE key = 'format';",
       MatchMode::kFolded, search, IndexUnused::kOtherFormat, "format"},
      {"schema changed", "CREATE TABLE OTHER (X);", MatchMode::kFolded, search,
       IndexUnused::kSchemaChanged, "schema changed"},
      {"pending rows", twoBooks, MatchMode::kFolded, search, IndexUnused::kTooManyPending,
       "more rows written"},
      {"damaged description", "UPDATE liraidx_meta SET value = 'x' WHERE key = 'rows';",
       MatchMode::kFolded, search, IndexUnused::kDamaged, "damaged"},
      {"damaged lists", "UPDATE liraidx_postings SET data = x'07';", MatchMode::kFolded, search,
       IndexUnused::kDamaged, "damaged posting list"},
      {"other mode", "", MatchMode::kLoose, search, IndexUnused::kOtherMode, ""},
      {"not narrowable", "", MatchMode::kFolded,
       "SELECT MS_BOOKID FROM BOOKMAST WHERE MS_SEIKYU LIKE '%Y%'", IndexUnused::kNotNarrowable,
       ""},
      // Last: the index's tables are left behind half dropped.
      {"no index", "DROP TABLE liraidx_meta;", MatchMode::kFolded, search, IndexUnused::kNoIndex,
       ""},
  };
  IndexTarget target;
  target.pendingLimit = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Builder().Build(target, nullptr);
    if (!c.sql.empty()) WriteOutside(indexed_, c.sql);
    auto database = db::OpenSqliteDatabase(indexed_, c.mode, 0);
    EXPECT_EQ(database->LastIndexUnused(), IndexUnused::kNoIndex);  // before any search
    database->Prepare(c.search);
    EXPECT_EQ(database->LastIndexUnused(), c.why)
        << db::IndexUnusedText(database->LastIndexUnused());
    // A statement that is no search leaves the reason of the last search.
    database->Prepare("SELECT count(*) FROM BOOKMAST");
    EXPECT_EQ(database->LastIndexUnused(), c.why);
    std::ostringstream report;
    if (c.why == IndexUnused::kNoIndex) continue;  // check of a half index is check's own
    const bool sound = Builder().Check(report);
    EXPECT_EQ(sound, c.checked.empty()) << report.str();
    if (!c.checked.empty()) {
      EXPECT_NE(report.str().find(c.checked), std::string::npos) << report.str();
    }
  }
}

// Every way another program can remove or move a row, the library's own triggers among
// them: searches give the scan's rows before a refresh and after it, the counts of one-
// and two-unit words (taken from the lists alone) included, and check finds the index
// exact after the refresh.
TEST_F(SearchIndexTest, EveryKindOfOutsideWriteIsFoundBeforeAndAfterRefresh) {
  // The library's triggers: a returned loan with a mark deletes the book; a loan of
  // a book id given as "B<a>><b>" moves book a to b's id, replacing b.
  WriteBoth(
      "CREATE TABLE RETURNS (BOOKID TEXT, MARK TEXT);"
      "CREATE TRIGGER library_discard AFTER INSERT ON RETURNS WHEN NEW.MARK = 'lost' BEGIN"
      " DELETE FROM BOOKMAST WHERE MS_BOOKID = NEW.BOOKID; END;"
      "CREATE TABLE MOVES (FROM_ID TEXT, TO_ID TEXT);"
      "CREATE TRIGGER library_move AFTER INSERT ON MOVES BEGIN"
      " UPDATE BOOKMAST SET MS_BOOKID = NEW.TO_ID WHERE MS_BOOKID = NEW.FROM_ID; END;");
  Builder().Build(IndexTarget{}, nullptr);
  struct Case {
    const char* what;
    std::string sql;
  };
  const Case cases[] = {
      {"UPDATE OR REPLACE of the unique id",
       "UPDATE OR REPLACE BOOKMAST SET MS_BOOKID = (SELECT MS_BOOKID FROM BOOKMAST WHERE "
       "rowid = 5) WHERE rowid = 7;"},
      {"UPDATE OR REPLACE of the rowid",
       "UPDATE OR REPLACE BOOKMAST SET rowid = 9 WHERE rowid = 10;"},
      {"rowid moved to a free one", "UPDATE BOOKMAST SET rowid = 990001 WHERE rowid = 12;"},
      {"INSERT OR REPLACE over the id",
       "INSERT OR REPLACE INTO BOOKMAST (MS_BOOKID, MS_SYOMEI) VALUES ('B20', 'zz');"},
      {"REPLACE over the rowid",
       "REPLACE INTO BOOKMAST (rowid, MS_BOOKID, MS_SYOMEI) VALUES (21, 'B990002', 'zz');"},
      {"upsert",
       "INSERT INTO BOOKMAST (MS_BOOKID, MS_SYOMEI) VALUES ('B22', 'zz') ON CONFLICT "
       "(MS_BOOKID) DO UPDATE SET MS_SYOMEI = excluded.MS_SYOMEI;"},
      {"upsert moving the id",
       "INSERT INTO BOOKMAST (MS_BOOKID, MS_SYOMEI) VALUES ('B23', 'zz') "
       "ON CONFLICT (MS_BOOKID) DO UPDATE SET MS_BOOKID = 'B990003';"},
      {"delete by the library's trigger", "INSERT INTO RETURNS VALUES ('B25', 'lost');"},
      {"replace inside the library's trigger",
       "INSERT OR REPLACE INTO MOVES VALUES ('B26', 'B27');"},
      {"replace with recursive triggers",
       "PRAGMA recursive_triggers = 1; UPDATE OR REPLACE BOOKMAST SET MS_BOOKID = 'B30' "
       "WHERE rowid = 31;"},
  };
  // Every character of the texts alone and with its neighbour in the alphabet, plus
  // random searches.
  std::vector<std::string> searches;
  for (std::size_t c = 0; c + 1 < std::size(kAlphabet); ++c) {
    for (const std::string& word :
         {std::string(kAlphabet[c]), std::string(kAlphabet[c]) + kAlphabet[c + 1]}) {
      if (word.find_first_of("%_ ") != std::string::npos) continue;
      SearchCriteria criteria;
      criteria.SearchFlags = kSearchBookName | kSearchChosya;
      criteria.BookName = criteria.Chosya = word;
      searches.push_back(StatementText(criteria));
    }
  }
  for (int i = 0; i < 30; ++i) searches.push_back(StatementText(RandomCriteria(random_)));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteBoth(c.sql);
    for (const std::string& sql : searches) ExpectSameAsScan(sql, {MatchMode::kFolded});
    EXPECT_GE(Builder().Refresh(nullptr), 0);
    for (const std::string& sql : searches) ExpectSameAsScan(sql, {MatchMode::kFolded});
    std::ostringstream report;
    EXPECT_TRUE(Builder().Check(report)) << report.str();
  }
  EXPECT_GT(narrowed_, statements_ / 2);
}

// An index whose triggers miss a deletion (as the older ones missed UPDATE OR REPLACE)
// keeps entries for a row that is gone: check names them and fails.
TEST_F(SearchIndexTest, CheckNamesEntriesForRowsThatDoNotExist) {
  Exec(indexed_,
       "DROP TRIGGER liraidx_before_update; UPDATE OR REPLACE BOOKMAST SET MS_BOOKID = "
       "(SELECT MS_BOOKID FROM BOOKMAST WHERE rowid = 5) WHERE rowid = 7;");
  std::ostringstream report;
  EXPECT_FALSE(Builder().Check(report)) << report.str();
  EXPECT_NE(report.str().find("rows that do not hold it or do not exist: 5"), std::string::npos)
      << report.str();
}

// A writer holding the catalogue longer than the refresh waits for a lock makes the
// first attempt fail; the refresh tries again and folds the pending rows.
TEST_F(SearchIndexTest, RefreshTriesABusyCatalogueAgain) {
  WriteBoth(InsertBook(random_, 900100, "INSERT"));
  std::promise<void> locked;
  std::thread writer([&] {
    sqlite3* db = nullptr;
    sqlite3_open(indexed_.c_str(), &db);
    sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    locked.set_value();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  });
  locked.get_future().wait();
  std::int64_t folded = -2;
  EXPECT_NO_THROW(folded = SearchIndexBuilder(indexed_, 20).Refresh(nullptr));
  writer.join();
  EXPECT_EQ(folded, 1);
  ExpectSameAsScan(NarrowableSearch());
}

TEST_F(SearchIndexTest, TooManyPendingRowsMeanAScanUntilRefresh) {
  IndexTarget target;
  target.pendingLimit = 5;
  Builder().Build(target, nullptr);
  const std::string sql = NarrowableSearch();
  // Updates of columns neither indexed nor kept in order leave nothing pending.
  WriteBoth("UPDATE BOOKMAST SET MS_KINGAKU = 7;");
  std::string writes;
  for (int i = 0; i < 5; ++i) writes += InsertBook(random_, 900000 + i, "INSERT");
  WriteBoth(writes);
  EXPECT_TRUE(Narrowed(indexed_, sql, MatchMode::kFolded));
  WriteBoth(InsertBook(random_, 900010, "INSERT"));
  EXPECT_FALSE(Narrowed(indexed_, sql, MatchMode::kFolded));
  ExpectSameAsScan(sql);
  Builder().Refresh(nullptr);
  EXPECT_TRUE(Narrowed(indexed_, sql, MatchMode::kFolded));
  ExpectSameAsScan(sql);
}

TEST_F(SearchIndexTest, AnotherSchemaIsIndexedByItsTableAndColumns) {
  std::string rows = "CREATE TABLE TITLES (ID INTEGER PRIMARY KEY, NAME TEXT, WHO TEXT);";
  for (int i = 0; i < 300; ++i) {
    rows += "INSERT INTO TITLES (NAME, WHO) VALUES (" + Quote(RandomText(random_, 6)) + ", " +
            Quote(RandomText(random_, 6)) + ");";
  }
  Exec(indexed_, rows);
  Exec(scanned_, rows);
  IndexTarget target;
  target.table = "TITLES";
  target.columns = {"NAME", "WHO"};
  Builder().Build(target, nullptr);
  const std::string sql =
      "SELECT ID, NAME, WHO FROM TITLES t\r\nWHERE\r\n( t.NAME LIKE '%\x83\x41\x83\x4b%'\r\n"
      "OR\r\nWHO LIKE '%\x83\x41\x83\x4b%' )\r\nORDER BY NAME DESC\r\n";
  EXPECT_TRUE(Narrowed(indexed_, sql, MatchMode::kFolded));
  ExpectSameAsScan(sql);
  // The book table is no longer indexed: its searches read every book.
  EXPECT_FALSE(Narrowed(indexed_, NarrowableSearch(), MatchMode::kFolded));
}

// Sorted pages read from the stored orders give the scan's rows and ties: columns of few
// values ('' among them, letter cases told apart), a column with NULLs and numbers, every
// sort kind and every kind of page, words few books hold (their candidates ranked) and one most
// hold (the order walked), exact and not; then rows written by another program (sorted by SQLite
// until a refresh writes the orders anew) and a damaged order, which check finds.
TEST_F(SearchIndexTest, EverySortedPageIsTheScansWithItsTies) {
  WriteBoth(
      "UPDATE BOOKMAST SET MS_SEIKYU = CASE (rowid * 7919) % 6 WHEN 0 THEN '' WHEN 1 THEN 'a'"
      " WHEN 2 THEN 'A' WHEN 3 THEN 'b' WHEN 4 THEN 'a ' ELSE '\x83\x41' END,"
      " MS_CHOKANA = CASE (rowid * 31) % 4 WHEN 0 THEN '' ELSE substr(MS_CHOKANA, 1, 1) END,"
      " MS_KENMEI = CASE WHEN rowid % 7 <> 0 THEN 'xy' || MS_KENMEI ELSE MS_KENMEI END;");
  IndexTarget target;
  target.orderColumns = {"MS_SYOKANA", "MS_CHOKANA", "MS_SEIKYU", "MS_SYUNEN"};
  Builder().Build(target, nullptr);
  auto statements = [&](const std::vector<std::string>& words) {
    std::vector<std::string> sql;
    for (const std::string& word : words) {
      for (const char* column : {"MS_SYOKANA", "MS_CHOKANA", "MS_SEIKYU", "MS_SYUNEN"}) {
        for (const char* kind : {"", "ASC", "DESC"}) {
          SearchCriteria criteria;
          criteria.SearchFlags = kSearchKenmei;
          criteria.Kenmei = word;
          criteria.Order = column;
          criteria.OrderKind = kind;
          sql.push_back(StatementText(criteria));
        }
      }
    }
    return sql;
  };
  // A unit few books hold, a pair most hold (walked), three units (the LIKE decides),
  // and a unit about a third hold.
  const std::vector<std::string> words = {"\x83\x4b", "xy", "xy\x83\x4b", "a"};
  for (const std::string& sql : statements(words)) {
    ExpectSameAsScan(sql);
    ExpectSamePagesAsScan(sql);
    EXPECT_TRUE(SortedByIndex(indexed_, sql, MatchMode::kFolded)) << sql;
  }
  std::ostringstream report;
  EXPECT_TRUE(Builder().Check(report)) << report.str();

  // Written by another program: a sort value changed, a book added, one removed.
  WriteBoth(
      "UPDATE BOOKMAST SET MS_SEIKYU = 'a', MS_SYUNEN = 1999 WHERE rowid = 40;"
      " INSERT INTO BOOKMAST (MS_BOOKID, MS_SYOMEI, MS_KENMEI, MS_SEIKYU) VALUES"
      " ('N1', 'n', 'xy\x83\x4b', 'A'); DELETE FROM BOOKMAST WHERE rowid = 41;");
  for (const std::string& sql : statements({"xy", "xy\x83\x4b"})) {
    ExpectSameAsScan(sql);
    EXPECT_FALSE(SortedByIndex(indexed_, sql, MatchMode::kFolded)) << sql;
  }
  Builder().Refresh(nullptr);
  for (const std::string& sql : statements({"xy", "xy\x83\x4b"})) {
    ExpectSameAsScan(sql);
    EXPECT_TRUE(SortedByIndex(indexed_, sql, MatchMode::kFolded)) << sql;
  }
  report.str("");
  EXPECT_TRUE(Builder().Check(report)) << report.str();

  // A rank changed, and a part stored for a column without order: check finds both.
  Exec(indexed_,
       std::string("UPDATE ") + db::searchindex::kOrderTable +
           " SET data = substr(data, 1, 4) || x'05000000' || substr(data, 9) WHERE id = " +
           std::to_string(db::searchindex::OrderKey(2, db::searchindex::OrderData::kRanks, 0)) +
           "; INSERT INTO " + db::searchindex::kOrderTable + " VALUES (" +
           std::to_string(db::searchindex::OrderKey(4, db::searchindex::OrderData::kSequence, 0)) +
           ", x'00');");
  report.str("");
  EXPECT_FALSE(Builder().Check(report));
  EXPECT_NE(report.str().find("sort order of MS_SEIKYU, ranks of chunk 0: differs"),
            std::string::npos)
      << report.str();
  EXPECT_NE(report.str().find("no row gives it"), std::string::npos) << report.str();
}

// Another table's column compared without letter case, holding NULLs, numbers and texts:
// the stored order is SQLite's, collation and types included.
TEST_F(SearchIndexTest, AStoredOrderKeepsTheColumnsCollationAndTypes) {
  std::string rows =
      "CREATE TABLE TITLES (ID INTEGER PRIMARY KEY, NAME TEXT, KANA TEXT COLLATE NOCASE,"
      " N); BEGIN;";
  const char* const kKana[] = {"NULL", "'ab'", "'AB'", "'aB '", "''", "10",
                               "9",    "'10'", "2.5",  "'b'",   "'B'"};
  for (int i = 0; i < 3000; ++i) {
    rows += "INSERT INTO TITLES (NAME, KANA, N) VALUES (" +
            Quote((i % 5 ? "zq" : "") + RandomText(random_, 4)) + ", " +
            kKana[random_() % std::size(kKana)] + ", " + kKana[random_() % std::size(kKana)] + ");";
  }
  rows += "COMMIT;";
  Exec(indexed_, rows);
  Exec(scanned_, rows);
  IndexTarget target;
  target.table = "TITLES";
  target.columns = {"NAME"};
  target.orderColumns = {"KANA", "N"};
  Builder().Build(target, nullptr);
  for (const char* word : {"zq", "zq\x83\x41"}) {
    for (const char* order : {"KANA", "N", "t.KANA DESC", "N DESC", "KANA ASC"}) {
      const std::string sql = std::string("SELECT ID, NAME, KANA, N FROM TITLES t\r\nWHERE\r\n") +
                              "t.NAME LIKE '%" + word + "%'\r\nORDER BY " + order + "\r\n";
      ExpectSameAsScan(sql);
      EXPECT_TRUE(SortedByIndex(indexed_, sql, MatchMode::kFolded)) << sql;
    }
  }
}

// An index answers the mode it was built for: a loose one serves MATCH=LOOSE, with the
// rows of the scan, and leaves the folded and exact modes to the scan; a folded one
// leaves the loose mode to the scan.
TEST_F(SearchIndexTest, ALooseIndexServesTheLooseModeAlone) {
  std::filesystem::remove(indexed_);
  std::filesystem::remove(scanned_);
  MakeCatalogue(indexed_, random_, 2000, true);
  std::filesystem::copy_file(indexed_, scanned_);
  const std::string folded = StatementText(RandomCriteria(random_, true));
  Builder().Build(IndexTarget{}, nullptr);
  EXPECT_FALSE(Narrowed(indexed_, folded, MatchMode::kLoose));
  IndexTarget loose;
  loose.match = MatchMode::kLoose;
  Builder().Build(loose, nullptr);
  for (int i = 0; i < 120; ++i) {
    SearchCriteria criteria = RandomCriteria(random_, true);
    criteria.LooseMatch = true;
    criteria.EveryWord = i % 2 == 0;
    const std::string sql = StatementText(criteria);
    ExpectSameAsScan(sql, {MatchMode::kLoose, MatchMode::kFolded, MatchMode::kExact});
    EXPECT_FALSE(Narrowed(indexed_, sql, MatchMode::kFolded));
  }
  EXPECT_GT(narrowed_, statements_ / 12);
  // A refresh keeps the mode.
  std::string writes;
  for (int i = 0; i < 20; ++i) writes += InsertBook(random_, 800000 + i, "INSERT", true);
  WriteBoth(writes);
  Builder().Refresh(nullptr);
  std::ostringstream report;
  EXPECT_TRUE(Builder().Check(report)) << report.str();
  narrowed_ = statements_ = 0;
  for (int i = 0; i < 40; ++i)
    ExpectSameAsScan(StatementText(RandomCriteria(random_, true)), {MatchMode::kLoose});
  EXPECT_GT(narrowed_, 0);
}

// A loose index built with an older loose folding holds other grams than a search looks
// for: it is passed by for a scan, check says so, and a refresh builds it anew, loose.
TEST_F(SearchIndexTest, ALooseIndexOfAnOlderFoldingIsPassedByAndRefreshedAnew) {
  IndexTarget loose;
  loose.match = MatchMode::kLoose;
  Builder().Build(loose, nullptr);
  SearchCriteria criteria;
  criteria.SearchFlags = kSearchBookName;
  criteria.BookName = "\x83\x41\x83\x4b";  // アガ
  criteria.LooseMatch = true;
  const std::string sql = StatementText(criteria);
  ASSERT_TRUE(Narrowed(indexed_, sql, MatchMode::kLoose));
  const char* const olderFoldings[] = {
      "DELETE FROM liraidx_meta WHERE key = 'loose_folding';",
      "UPDATE liraidx_meta SET value = '1' WHERE key = 'loose_folding';"};
  for (const char* older : olderFoldings) {
    SCOPED_TRACE(older);
    Exec(indexed_, older);
    EXPECT_FALSE(Narrowed(indexed_, sql, MatchMode::kLoose));
    ExpectSameAsScan(sql, {MatchMode::kLoose});
    std::ostringstream report;
    EXPECT_FALSE(Builder().Check(report));
    EXPECT_NE(report.str().find("older loose folding"), std::string::npos) << report.str();
    EXPECT_EQ(db::searchindex::IndexMode(indexed_), MatchMode::kLoose);
    Builder().Refresh(nullptr);
    EXPECT_TRUE(Narrowed(indexed_, sql, MatchMode::kLoose));
    std::ostringstream after;
    EXPECT_TRUE(Builder().Check(after)) << after.str();
  }
}

// A word of one or two units is answered from the lists however many books hold it,
// its count taken from them: every character of the texts alone and beside another,
// unsorted and sorted both ways, in the folded mode and (with separators, long vowel
// marks and variant kanji among the texts) in the loose one.
TEST_F(SearchIndexTest, BroadShortWordsAreNarrowedAndGiveTheScansRows) {
  const char* const kOrders[][2] = {{"", ""}, {"MS_SYOMEI", "DESC"}, {"KA_USERID", "ASC"}};
  for (MatchMode mode : {MatchMode::kFolded, MatchMode::kLoose}) {
    const bool loose = mode == MatchMode::kLoose;
    SCOPED_TRACE(loose ? "LOOSE" : "FOLDED");
    std::vector<std::string> alphabet(std::begin(kAlphabet), std::end(kAlphabet));
    if (loose) {
      alphabet.insert(alphabet.end(), std::begin(kLooseAlphabet), std::end(kLooseAlphabet));
      std::filesystem::remove(indexed_);
      std::filesystem::remove(scanned_);
      MakeCatalogue(indexed_, random_, 2000, true);
      std::filesystem::copy_file(indexed_, scanned_);
      IndexTarget target;
      target.match = mode;
      Builder().Build(target, nullptr);
    }
    int broad = 0, words = 0;
    for (std::size_t c = 0; c < alphabet.size(); ++c) {
      const std::string character = alphabet[c];
      if (character == "%" || character == "_" || character == " ") continue;
      for (const std::string& word :
           {character, character + alphabet[(c * 7 + 3) % alphabet.size()]}) {
        if (word.find_first_of("%_ ") != std::string::npos) continue;
        SearchCriteria criteria;
        criteria.SearchFlags = kSearchBookName;
        criteria.BookName = word;
        criteria.LooseMatch = loose;
        const auto& order = kOrders[words++ % std::size(kOrders)];
        criteria.Order = order[0];
        criteria.OrderKind = order[1];
        const std::string sql = StatementText(criteria);
        ExpectSameAsScan(sql, {mode});
        if (words % 3 == 1) ExpectSamePagesAsScan(sql, mode);
        auto scanned = db::OpenSqliteDatabase(scanned_, mode, 0);
        const std::int64_t count = RunSearch(*scanned, sql).count;
        // A word that folds to nothing (a separator alone) leaves every row to the scan.
        if (!db::searchindex::RequiredGramKeys("%" + word + "%", mode).empty()) {
          EXPECT_TRUE(Narrowed(indexed_, sql, mode)) << sql;
        }
        broad += count > 2000 / 8;
      }
    }
    // Else the words above would all have been narrowed before.
    EXPECT_GT(broad, 5);
  }
}

// The candidates lead the join unless the select list holds "*", which would show
// their column; either way the rows are the scan's.
TEST_F(SearchIndexTest, NarrowedStatementsJoinTheCandidatesOrTestRowidsInThem) {
  db::searchindex::IndexInfo info;
  info.table = "BOOKMAST";
  info.columns = {"MS_SYOMEI"};
  const std::string tail = "WHERE\r\nMS_SYOMEI LIKE '%a%'\r\n";
  struct Case {
    std::string head, narrowed;
  };
  const Case cases[] = {
      {"SELECT MS_BOOKID FROM BOOKMAST b LEFT JOIN KASIDASI ON KA_BOOKID = MS_BOOKID\r\n",
       "SELECT MS_BOOKID FROM liraidx_candidates(3) AS liraidx_c CROSS JOIN BOOKMAST b LEFT JOIN "
       "KASIDASI ON KA_BOOKID = MS_BOOKID\r\nWHERE b.rowid = liraidx_c.liraidx_rowid\r\n"},
      {"SELECT * FROM BOOKMAST\r\n",
       "SELECT * FROM BOOKMAST\r\nWHERE BOOKMAST.rowid IN (SELECT liraidx_rowid FROM "
       "liraidx_candidates(3))\r\n"},
  };
  for (const Case& c : cases) {
    const auto shape = db::searchindex::ParseSearchStatement(c.head + tail, info);
    ASSERT_TRUE(shape) << c.head;
    EXPECT_EQ(db::searchindex::NarrowedStatement(*shape, "liraidx_candidates(3)"),
              c.narrowed + "AND (\r\nMS_SYOMEI LIKE '%a%'\r\n)\r\n");
    const std::string sql = c.head + "WHERE\r\nMS_SYOMEI LIKE '%\x83\x41%'\r\n";  // ア
    EXPECT_TRUE(Narrowed(indexed_, sql, MatchMode::kFolded));
    ExpectSameAsScan(sql);
  }
}

// A join meets at most one row a book exactly when the joined table cannot hold two rows
// with the key it is joined on, which SQLite itself says by refusing a second such row.
// Then, and only then, exact candidates are the count.
TEST_F(SearchIndexTest, AJoinOnAUniqueKeyGivesOneRowABook) {
  const std::string tables =
      "CREATE TABLE PLACE_PK (P_CODE INTEGER PRIMARY KEY, P_NAME TEXT);\n"
      "CREATE TABLE PLACE_UNIQUE (P_CODE INTEGER UNIQUE, P_NAME TEXT);\n"
      "CREATE TABLE PLACE_PLAIN (P_CODE INTEGER, P_NAME TEXT);\n"
      "CREATE TABLE PLACE_PAIR (P_CODE INTEGER, P_NAME TEXT, PRIMARY KEY (P_CODE, P_NAME));\n"
      "CREATE TABLE PLACE_TEXT (P_CODE TEXT PRIMARY KEY, P_NAME TEXT);\n";
  Exec(indexed_, tables);
  Exec(scanned_, tables + "INSERT INTO SYOZAI VALUES (1, 'x'), (2, 'y');\n");
  Exec(indexed_, "INSERT INTO SYOZAI VALUES (1, 'x'), (2, 'y');\n");
  Builder().Build(IndexTarget{}, nullptr);  // the schema changed
  auto refusesRepeatedKey = [&](const std::string& table, const std::string& column) {
    sqlite3* db = nullptr;
    sqlite3_open(scanned_.c_str(), &db);
    const std::string insert = "INSERT INTO " + table + " (" + column + ") VALUES (7), (7)";
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    const int rc = sqlite3_exec(db, insert.c_str(), nullptr, nullptr, nullptr);
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return rc == SQLITE_CONSTRAINT;
  };
  const std::pair<std::string, std::string> joins[] = {
      {"SYOZAI", "SY_CODE"},     {"PLACE_PK", "P_CODE"},   {"PLACE_UNIQUE", "P_CODE"},
      {"PLACE_PLAIN", "P_CODE"}, {"PLACE_PAIR", "P_CODE"},
  };
  int unique = 0;
  for (const auto& [table, column] : joins) {
    const std::string sql = "SELECT MS_BOOKID FROM BOOKMAST LEFT JOIN " + table + " ON " + column +
                            " = MS_SYOZAI\r\nWHERE\r\nMS_SYOMEI LIKE '%\x83\x41%'\r\n";
    sqlite3* db = nullptr;
    sqlite3_open(indexed_.c_str(), &db);
    db::searchindex::CandidateRegistry* registry = nullptr;
    db::searchindex::RegisterCandidateTable(db, &registry);
    const auto narrowed =
        db::searchindex::NarrowSearchStatement(db, sql, MatchMode::kFolded, *registry);
    const bool oneRow = narrowed && narrowed->oneRowPerBook;
    sqlite3_close(db);
    EXPECT_EQ(oneRow, refusesRepeatedKey(table, column)) << table;
    unique += oneRow;
    ExpectSameAsScan(sql);
  }
  EXPECT_EQ(unique, 3);
  // The key of another type than the book's column: the equality may compare otherwise.
  const std::string textKey =
      "SELECT MS_BOOKID FROM BOOKMAST LEFT JOIN PLACE_TEXT ON P_CODE = MS_SYOZAI\r\n"
      "WHERE\r\nMS_SYOMEI LIKE '%\x83\x41%'\r\n";
  ExpectSameAsScan(textKey);
}

// One connection kept from search to search, as a long-lived process keeps it, while
// another program takes a joined table's key away, gives a book several rows there and
// builds the index anew: the next search on it is the scan's, row for row and counted.
TEST_F(SearchIndexTest, AKeptConnectionSeesTheSchemaOfEachSearch) {
  const std::string tags =
      "CREATE TABLE TAGS (T_BOOKID TEXT, T_NAME TEXT);\n"
      "CREATE UNIQUE INDEX TAGS_KEY ON TAGS (T_BOOKID);\n"
      "INSERT INTO TAGS SELECT MS_BOOKID, 'a' FROM BOOKMAST WHERE rowid % 3 = 0;\n";
  const std::string repeatKeys =
      "DROP INDEX TAGS_KEY;\n"
      "INSERT INTO TAGS SELECT MS_BOOKID, 'b' FROM BOOKMAST WHERE rowid % 3 = 0;\n";
  const std::string sql =
      "SELECT MS_BOOKID, T_NAME FROM BOOKMAST LEFT JOIN TAGS ON T_BOOKID = MS_BOOKID\r\n"
      "WHERE\r\nMS_SYOMEI LIKE '%\x83\x41%'\r\n";
  auto kept = db::OpenSqliteDatabase(indexed_, MatchMode::kFolded, 0);
  for (const std::string& change : {tags, repeatKeys}) {
    Exec(indexed_, change);
    Exec(scanned_, change);
    Builder().Build(IndexTarget{}, nullptr);  // the schema changed
    ASSERT_TRUE(Narrowed(indexed_, sql, MatchMode::kFolded));
    auto scan = db::OpenSqliteDatabase(scanned_, MatchMode::kFolded, 0);
    EXPECT_EQ(RunSearch(*kept, sql), RunSearch(*scan, sql)) << change;
  }
}

// A join whose book ids repeat, so that a book may give several rows; a condition on
// the joined table's column that bears an indexed column's name; and a statement run
// again after another program's commit: each gives the scan's rows and count.
TEST_F(SearchIndexTest, RepeatingJoinsOtherTablesColumnsAndLaterCommitsGiveTheScansAnswer) {
  std::string notes = "CREATE TABLE NOTES (N_BOOKID TEXT, MS_SYOMEI TEXT);\n";
  for (int i = 0; i < 600; ++i) {
    notes += "INSERT INTO NOTES VALUES ('B" + std::to_string(1 + i % 300) + "', " +
             Quote(RandomText(random_, 4)) + ");\n";
  }
  Exec(indexed_, notes);
  Exec(scanned_, notes);
  Builder().Build(IndexTarget{}, nullptr);  // the schema changed
  const std::string word = "'%\x83\x41%'";  // ア: one unit, so the candidates are exact
  const std::string joined =
      "SELECT MS_BOOKID, N_BOOKID FROM BOOKMAST LEFT JOIN NOTES ON "
      "N_BOOKID = MS_BOOKID\r\nWHERE\r\nBOOKMAST.MS_SYOMEI LIKE " +
      word + "\r\n";
  const std::string qualified =
      "SELECT b.MS_BOOKID, n.MS_SYOMEI FROM BOOKMAST b LEFT JOIN NOTES n ON n.N_BOOKID = "
      "b.MS_BOOKID\r\nWHERE\r\nn.MS_SYOMEI LIKE " +
      word + "\r\nAND b.MS_SYOMEI LIKE '%a%'\r\n";
  EXPECT_TRUE(Narrowed(indexed_, joined, MatchMode::kFolded));
  for (const std::string& sql : {joined, qualified}) ExpectSameAsScan(sql);

  // The statements stay prepared while another program writes books that match.
  const std::string statements[] = {joined, NarrowableSearch()};
  auto withIndex = db::OpenSqliteDatabase(indexed_, MatchMode::kFolded, 0);
  std::vector<std::unique_ptr<db::Statement>> prepared;
  for (const std::string& sql : statements) {
    prepared.push_back(withIndex->Prepare(sql));
    RunStatement(*prepared.back());
  }
  std::string writes = "BEGIN;\n";
  for (int i = 0; i < 30; ++i) {
    writes += "INSERT INTO BOOKMAST (rowid, MS_BOOKID, MS_SYOMEI) VALUES (" +
              std::to_string(600000 + i) + ", 'N" + std::to_string(i) +
              "', 'x\x83\x41\x83\x4b');\n";
  }
  WriteBoth(writes + "DELETE FROM BOOKMAST WHERE rowid % 9 = 4;\nCOMMIT;\n");
  auto withoutIndex = db::OpenSqliteDatabase(scanned_, MatchMode::kFolded, 0);
  for (std::size_t i = 0; i < std::size(statements); ++i) {
    EXPECT_EQ(RunStatement(*prepared[i]), RunSearch(*withoutIndex, statements[i])) << statements[i];
  }
}

// A write by another connection made at the start of the request connection's
// statement number writeAt (counting every statement it runs, those that read the
// index among them), through a trace callback put on the connections opened while
// armed.
struct Interleaving {
  bool armed = false;
  int statements = 0;
  int writeAt = 0;
  bool wrote = false;
  std::function<void()> write;
};
Interleaving* interleaving = nullptr;

int WriteAtStatement(unsigned, void*, void*, void*) {
  if (interleaving && ++interleaving->statements == interleaving->writeAt) {
    interleaving->write();
    interleaving->wrote = true;
  }
  return 0;
}

int TraceArmedConnection(sqlite3* db, const char**, const sqlite3_api_routines*) {
  if (interleaving && interleaving->armed) {
    sqlite3_trace_v2(db, SQLITE_TRACE_STMT, WriteAtStatement, nullptr);
  }
  return SQLITE_OK;
}

// The driver's connection on the file, with the interleaving's trace on it; the trace
// stays until interleaving is reset.
std::unique_ptr<db::Database> OpenInterleaved(const std::string& path, MatchMode mode,
                                              Interleaving& run) {
  static const bool registered =
      sqlite3_auto_extension(reinterpret_cast<void (*)()>(TraceArmedConnection)) == SQLITE_OK;
  EXPECT_TRUE(registered);
  run.statements = 0;
  run.wrote = false;
  interleaving = &run;
  run.armed = true;
  auto database = db::OpenSqliteDatabase(path, mode, 0);
  run.armed = false;
  return database;
}

// Whatever statement of a search another program's write lands before, the search
// answers as a scan of the catalogue before the write or after it: a word moved from
// book 11 to book 44, with and without a refresh folding the move into the index,
// searched by one and two units (answered from the lists alone) and by four.
// Every stored list and order of the index, as rows of text.
std::vector<std::string> IndexRows(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  std::vector<std::string> rows;
  for (const std::string& sql :
       {std::string("SELECT col || ' ' || gram || ' ' || chunk || ' ' || hex(data) FROM ") +
            db::searchindex::kPostingsTable + " ORDER BY col, gram, chunk",
        std::string("SELECT id || ' ' || hex(data) FROM ") + db::searchindex::kOrderTable +
            " ORDER BY id"}) {
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &select, nullptr);
    while (sqlite3_step(select) == SQLITE_ROW)
      rows.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(select, 0)));
    sqlite3_finalize(select);
  }
  sqlite3_close(db);
  return rows;
}

// A refresh folds the rows of a night (more than the pending limit) and leaves the
// index a build of the same rows would write, byte for byte: its lists and the orders
// of every kept column, whose ranks the writes moved.
TEST_F(SearchIndexTest, RefreshFoldsManyWritesAsAFreshBuildWritesThem) {
  IndexTarget target;
  target.pendingLimit = 10;
  target.orderColumns = {"MS_SYOKANA", "MS_CHOKANA", "MS_SEIKYU", "MS_SYUNEN", "MS_SYOZAI"};
  WriteBoth("UPDATE BOOKMAST SET MS_SEIKYU = substr(MS_SYOMEI, 1, 2), MS_SYOZAI = rowid % 5;");
  Builder().Build(target, nullptr);
  struct Night {
    const char* what;
    std::string sql;
  };
  std::string inserts, reused;
  for (int i = 0; i < 60; ++i) inserts += InsertBook(random_, 3000 + i * 7, "INSERT");
  for (int i = 0; i < 30; ++i) reused += InsertBook(random_, 100 + i, "INSERT");
  const Night nights[] = {
      {"titles and readings changed",
       "UPDATE BOOKMAST SET MS_SYOMEI = MS_SYOMEI || 'r', MS_SYOKANA = substr(MS_SYOKANA, 2)"
       " WHERE rowid % 17 = 3;"},
      {"only sort values changed, some to NULL, some to the lowest and highest",
       "UPDATE BOOKMAST SET MS_SEIKYU = CASE rowid % 3 WHEN 0 THEN '' ELSE 'zz' || rowid % 4 END,"
       " MS_SYUNEN = CASE WHEN rowid % 2 = 0 THEN NULL ELSE 1900 + rowid % 5 END,"
       " MS_SYOZAI = NULL WHERE rowid % 23 = 1;"},
      {"books added", inserts},
      {"books removed, every book of some sort values among them",
       "DELETE FROM BOOKMAST WHERE rowid % 29 = 5 OR MS_SEIKYU = 'zz1';"},
      {"rowids removed and used again",
       "DELETE FROM BOOKMAST WHERE rowid >= 100 AND rowid < 130;" + reused},
      {"rows moved, written twice, a whole chunk emptied",
       "UPDATE BOOKMAST SET rowid = rowid + 500000 WHERE rowid % 31 = 7;"
       "UPDATE BOOKMAST SET MS_SYOMEI = 'x' || MS_SYOMEI WHERE rowid % 31 = 8;"
       "UPDATE BOOKMAST SET MS_SYOMEI = 'y' || MS_SYOMEI, MS_CHOKANA = 'k' WHERE rowid % 31 = 8;"
       "DELETE FROM BOOKMAST WHERE rowid >= 65536 AND rowid < 131072;"},
  };
  const std::string sortedSearch = [] {
    SearchCriteria criteria;
    criteria.SearchFlags = kSearchBookName;
    criteria.BookName = "a";
    criteria.Order = "MS_SEIKYU";
    criteria.OrderKind = "DESC";
    return StatementText(criteria);
  }();
  const std::string copy = folder_ / "fresh.db";
  for (const Night& night : nights) {
    SCOPED_TRACE(night.what);
    WriteBoth(night.sql);
    // Before the refresh the written rows are pending, and the sort reads their values.
    ExpectSameAsScan(sortedSearch);
    EXPECT_GT(Builder().Refresh(nullptr), 0);
    ExpectSameAsScan(sortedSearch);
    EXPECT_TRUE(SortedByIndex(indexed_, sortedSearch, MatchMode::kFolded));
    std::ostringstream report;
    EXPECT_TRUE(Builder().Check(report)) << report.str();
    std::filesystem::copy_file(indexed_, copy, std::filesystem::copy_options::overwrite_existing);
    SearchIndexBuilder(copy).Build(target, nullptr);
    EXPECT_EQ(IndexRows(indexed_), IndexRows(copy));
  }
}

// The order of a column compared without letter case, holding NULLs, numbers and texts,
// after rows were written: the fold places them as SQLite sorts, like a fresh build.
TEST_F(SearchIndexTest, RefreshKeepsAStoredOrdersCollationAndTypes) {
  const char* const kValues[] = {"NULL", "'ab'", "'AB'", "'aB '", "''",  "10",
                                 "9",    "'10'", "2.5",  "'b'",   "'B'", "X'00'"};
  auto value = [&] { return std::string(kValues[random_() % std::size(kValues)]); };
  std::string rows =
      "CREATE TABLE TITLES (ID INTEGER PRIMARY KEY, NAME TEXT, KANA TEXT COLLATE NOCASE, N);"
      " BEGIN;";
  for (int i = 0; i < 1000; ++i) {
    rows += "INSERT INTO TITLES (NAME, KANA, N) VALUES (" + Quote(RandomText(random_, 4)) + ", " +
            value() + ", " + value() + ");";
  }
  Exec(indexed_, rows + "COMMIT;");
  IndexTarget target;
  target.table = "TITLES";
  target.columns = {"NAME"};
  target.orderColumns = {"KANA", "N"};
  target.yearKeyOrder = {"N", "KANA"};  // N newest first, ties by KANA without case
  Builder().Build(target, nullptr);
  const std::string copy = folder_ / "fresh.db";
  for (int night = 0; night < 4; ++night) {
    std::string writes = "BEGIN;";
    for (int i = 0; i < 40; ++i) {
      const std::string id = std::to_string(1 + random_() % 1100);
      switch (random_() % 3) {
        case 0:
          writes += "UPDATE TITLES SET KANA = " + value() + ", N = " + value() +
                    " WHERE ID = " + id + ";";
          break;
        case 1:
          writes += "DELETE FROM TITLES WHERE ID = " + id + ";";
          break;
        default:
          writes += "INSERT OR REPLACE INTO TITLES (ID, NAME, KANA, N) VALUES (" + id + ", 'n', " +
                    value() + ", " + value() + ");";
      }
    }
    WriteOutside(indexed_, writes + "COMMIT;");
    EXPECT_GT(Builder().Refresh(nullptr), 0);
    std::ostringstream report;
    EXPECT_TRUE(Builder().Check(report)) << report.str();
    std::filesystem::copy_file(indexed_, copy, std::filesystem::copy_options::overwrite_existing);
    SearchIndexBuilder(copy).Build(target, nullptr);
    EXPECT_EQ(IndexRows(indexed_), IndexRows(copy)) << "night " << night;
  }
}

TEST(SearchIndexRace, AWriteBetweenAnyTwoReadsGivesTheScanOfOneCommittedState) {
  const std::string word = "qxzw";
  const std::string move =
      "BEGIN; UPDATE BOOKMAST SET MS_SYOMEI = 'plain' WHERE rowid = 11;"
      " UPDATE BOOKMAST SET MS_SYOMEI = 'the " +
      word + " book' WHERE rowid = 44; COMMIT;";
  for (MatchMode mode : {MatchMode::kFolded, MatchMode::kLoose}) {
    TempDir folder("search-race.");
    const std::string pristine = folder / "pristine.db", before = folder / "before.db",
                      after = folder / "after.db", indexed = folder / "indexed.db";
    std::mt19937 random(5);
    MakeCatalogue(before, random, 400, mode == MatchMode::kLoose);
    Exec(before, "UPDATE BOOKMAST SET MS_SYOMEI = 'a " + word +
                     "' WHERE rowid IN (11, 12, 13); PRAGMA journal_mode = WAL;");
    std::filesystem::copy_file(before, pristine);
    std::filesystem::copy_file(before, after);
    Exec(after, move);
    IndexTarget target;
    target.match = mode;
    SearchIndexBuilder(pristine).Build(target, nullptr);
    for (const std::string& searched : {word.substr(0, 1), word.substr(1, 2), word}) {
      SearchCriteria criteria;
      criteria.SearchFlags = kSearchBookName;
      criteria.BookName = searched;
      criteria.LooseMatch = mode == MatchMode::kLoose;
      // Every book's MS_SEIKYU is empty: ties alone, in the stored order.
      if (searched == word) {
        criteria.Order = "MS_SEIKYU";
        criteria.OrderKind = "DESC";
      }
      const std::string sql = StatementText(criteria);
      auto scan = [&](const std::string& path) {
        return RunSearch(*db::OpenSqliteDatabase(path, mode, 0), sql);
      };
      const Result expectedBefore = scan(before), expectedAfter = scan(after);
      ASSERT_NE(expectedBefore, expectedAfter);
      for (bool refresh : {false, true}) {
        Interleaving run;
        for (run.writeAt = 1;; ++run.writeAt) {
          SCOPED_TRACE((mode == MatchMode::kLoose ? "LOOSE " : "FOLDED ") + searched +
                       (refresh ? " refreshed" : "") + ", write before statement " +
                       std::to_string(run.writeAt));
          std::filesystem::remove(indexed);
          std::filesystem::copy_file(pristine, indexed);
          ASSERT_TRUE(Narrowed(indexed, sql, mode));
          run.write = [&] {
            Exec(indexed, move);
            if (refresh) SearchIndexBuilder(indexed).Refresh(nullptr);
          };
          auto database = OpenInterleaved(indexed, mode, run);
          const Result got = RunSearch(*database, sql);
          database.reset();
          interleaving = nullptr;
          EXPECT_TRUE(got == expectedBefore || got == expectedAfter)
              << got.countOnFirstRow << " books, " << got.rows.size() << " rows";
          if (!run.wrote) break;
        }
        EXPECT_GT(run.writeAt, 4);  // the write met the reads of the index
      }
    }
  }
}

// Random searches while another program writes every kind of change and refreshes the
// index, one write in ten searches landing before a random statement of a search: each
// answer must be a scan (the same statement, which LIMIT -1 keeps from the index) of
// the state before the search or after the write it met. LIRAWEB_SOAK_SEARCHES sets the
// number of searches in each mode (bench/search_index_soak.sh runs many), and
// LIRAWEB_SOAK_SEED the seed of another run.
TEST(SearchIndexSoak, SearchesDuringWritesAndRefreshesAnswerAsAScanOfACommittedState) {
  const char* setting = std::getenv("LIRAWEB_SOAK_SEARCHES");
  const int searches = setting ? std::atoi(setting) : 150;
  const char* seed = std::getenv("LIRAWEB_SOAK_SEED");  // another run, other searches
  const unsigned firstSeed = seed ? static_cast<unsigned>(std::atoi(seed)) : 0;
  for (MatchMode mode : {MatchMode::kFolded, MatchMode::kLoose}) {
    const bool loose = mode == MatchMode::kLoose;
    SCOPED_TRACE(loose ? "LOOSE" : "FOLDED");
    TempDir folder("search-soak.");
    const std::string path = folder / "catalogue.db";
    std::mt19937 random(firstSeed + (loose ? 31 : 17));
    MakeCatalogue(path, random, 1500, loose);
    Exec(path, "PRAGMA journal_mode = WAL;");
    IndexTarget target;
    target.match = mode;
    // A night of changes (below) leaves more rows pending than this: searches read every
    // book until the refresh folds them.
    target.pendingLimit = 20;
    SearchIndexBuilder(path).Build(target, nullptr);
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &writer), SQLITE_OK);
    sqlite3_busy_timeout(writer, 10000);
    sqlite3_exec(writer, "PRAGMA synchronous = OFF", nullptr, nullptr, nullptr);
    // A rowid no row holds: past the largest, where SQLite also puts a row given none.
    auto freshRowid = [&] {
      sqlite3_stmt* largest = nullptr;
      sqlite3_prepare_v2(writer, "SELECT max(rowid) + 1 FROM BOOKMAST", -1, &largest, nullptr);
      sqlite3_step(largest);
      const std::int64_t rowid = sqlite3_column_int64(largest, 0);
      sqlite3_finalize(largest);
      return rowid;
    };
    int writes = 0, metMidSearch = 0, refreshes = 0, narrowed = 0, differences = 0;
    auto row = [&] { return std::to_string(1 + random() % 1500); };
    auto writeSql = [&](unsigned kind) {
      std::string sql;
      switch (kind) {
        case 0:
          sql = InsertBook(random, freshRowid(), "INSERT", loose);
          break;
        case 1:
          sql = "UPDATE BOOKMAST SET MS_SYOMEI = " + Quote(RandomText(random, 6, loose)) +
                ", MS_CHOSYA = " + Quote(RandomText(random, 6, loose)) + " WHERE rowid = " + row();
          break;
        case 2:
          sql = "DELETE FROM BOOKMAST WHERE rowid = " + row();
          break;
        case 3:
          sql =
              "UPDATE OR REPLACE BOOKMAST SET MS_BOOKID = coalesce((SELECT MS_BOOKID FROM "
              "BOOKMAST WHERE rowid = " +
              row() + "), 'N' || rowid) WHERE rowid = " + row();
          break;
        case 4: {
          const std::int64_t rowid = freshRowid();
          sql = InsertBook(random, rowid, "INSERT OR REPLACE", loose);
          const std::string ownId = "'B" + std::to_string(rowid) + "'";
          sql.replace(sql.find(ownId), ownId.size(), "'B" + row() + "'");
          break;
        }
        case 5:
          sql = "INSERT INTO BOOKMAST (MS_BOOKID, MS_SYOMEI) VALUES ('B" + row() + "', " +
                Quote(RandomText(random, 6, loose)) +
                ") ON CONFLICT (MS_BOOKID) DO UPDATE SET MS_SYOMEI = excluded.MS_SYOMEI";
          break;
        case 6:
          sql = "UPDATE OR REPLACE BOOKMAST SET rowid = " + row() + " WHERE rowid = " + row();
          break;
        default:
          sql = "UPDATE BOOKMAST SET rowid = " + std::to_string(freshRowid()) +
                " WHERE rowid = " + row();
      }
      return sql;
    };
    auto writeOne = [&] {
      std::string sql;
      if (random() % 10 == 0) {
        // A night's load: one transaction of many updates, deletes, replacements and
        // inserts (those that need no fresh rowid, which the transaction would reuse).
        static const unsigned kNightKinds[] = {1, 2, 3, 5, 6};
        sql = "BEGIN;";
        for (int i = 0; i < 30; ++i) sql += writeSql(kNightKinds[random() % 5]) + ";";
        sql += "COMMIT;";
      } else {
        sql = writeSql(random() % 8);
      }
      char* error = nullptr;
      EXPECT_EQ(sqlite3_exec(writer, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
          << (error ? error : "") << "\n"
          << sql;
      sqlite3_free(error);
      if (++writes % 3 == 0) {
        SearchIndexBuilder(path).Refresh(nullptr);
        ++refreshes;
      }
    };
    auto scanner = db::OpenSqliteDatabase(path, mode, 0);
    for (int i = 0; i < searches; ++i) {
      SearchCriteria criteria = RandomCriteria(random, loose);
      criteria.LooseMatch = loose;
      criteria.EveryWord = i % 2 == 0;
      const std::string sql = StatementText(criteria), scanSql = sql + "LIMIT -1\r\n";
      std::vector<Result> states{RunSearch(*scanner, scanSql)};
      Interleaving run;
      run.writeAt = random() % 2 == 0 ? static_cast<int>(1 + random() % 14) : 0;
      run.write = [&] {
        writeOne();
        states.push_back(RunSearch(*scanner, scanSql));
      };
      narrowed += Narrowed(path, sql, mode);
      auto database = OpenInterleaved(path, mode, run);
      const Result got = RunSearch(*database, sql);
      database.reset();
      interleaving = nullptr;
      metMidSearch += run.wrote;
      if (run.writeAt && !run.wrote) writeOne();
      if (std::find(states.begin(), states.end(), got) == states.end()) {
        if (++differences <= 5) ADD_FAILURE() << got.countOnFirstRow << " books, " << sql;
      }
    }
    sqlite3_close(writer);
    std::ostringstream report;
    EXPECT_TRUE(SearchIndexBuilder(path).Check(report)) << report.str();
    std::cout << (loose ? "LOOSE: " : "FOLDED: ") << searches << " searches (" << narrowed
              << " narrowed), " << writes << " writes (" << metMidSearch << " inside a search), "
              << refreshes << " refreshes, " << differences << " answers unlike every scan\n";
    EXPECT_EQ(differences, 0);
    EXPECT_GT(narrowed, searches / 4);
  }
}

}  // namespace

// When the index gives the statement's best-match order itself, how many candidates
// its lists leave the tier of open; nullopt when SQLite sorts.
std::optional<std::int64_t> RankingUnsure(const std::string& path, const std::string& sql,
                                          MatchMode mode) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  db::searchindex::CandidateRegistry* registry = nullptr;
  db::searchindex::RegisterCandidateTable(db, &registry);
  auto narrowed = db::searchindex::NarrowSearchStatement(db, sql, mode, *registry);
  std::optional<std::int64_t> unsure;
  if (narrowed && narrowed->set->Ranking()) unsure = narrowed->set->Ranking()->Unsure();
  sqlite3_close(db);
  return unsure;
}

bool RankedByIndex(const std::string& path, const std::string& sql, MatchMode mode) {
  return RankingUnsure(path, sql, mode).has_value();
}

// The titles of a few books, whole or cut after their first characters: words whose
// books fall in the top tiers (the title equal to the word, or beginning with it).
std::vector<std::string> TitleWords(const std::string& path, std::mt19937& random) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt* select = nullptr;
  sqlite3_prepare_v2(db, "SELECT MS_SYOMEI FROM BOOKMAST WHERE length(MS_SYOMEI) > 0 LIMIT 60", -1,
                     &select, nullptr);
  std::vector<std::string> words;
  while (sqlite3_step(select) == SQLITE_ROW) {
    std::string title(static_cast<const char*>(sqlite3_column_blob(select, 0)),
                      sqlite3_column_bytes(select, 0));
    std::size_t end = 0;  // whole characters, one to three of them or the whole title
    for (int n = 1 + static_cast<int>(random() % 4); n > 0 && end < title.size(); --n) {
      end += platform::CharLength(title, end);
    }
    words.push_back(random() % 3 == 0 ? title : title.substr(0, end));
  }
  sqlite3_finalize(select);
  sqlite3_close(db);
  return words;
}

// The best-match order (tiers, year newest first with NULL last, ties by key) comes from
// the index's year-key order whatever the order of the keys, and from the year's order
// where the keys follow the rowids, row for row the scan's in every mode; rows pending
// leave the sort to SQLite with the same answer, and the refresh keeps the order.
TEST_F(SearchIndexTest, BestMatchPagesFromTheIndexAreTheScans) {
  // Gives each book the key of the expression of its rowid, its loans too.
  auto renumber = [&](const std::string& key) {
    WriteBoth("UPDATE KASIDASI SET KA_BOOKID = (SELECT " + key +
              " FROM BOOKMAST WHERE MS_BOOKID = KA_BOOKID); UPDATE BOOKMAST SET MS_BOOKID = " +
              key + ";");
  };
  renumber("printf('B%d', rowid)");  // "B10" before "B9"
  int ranked = 0, searches = 0;
  auto compare = [&](MatchMode mode, bool loose) {
    std::vector<std::string> words = TitleWords(scanned_, random_);
    words.push_back("\x82\xa0");  // あ: a broad word
    for (std::size_t i = 0; i < words.size(); ++i) {
      SearchCriteria criteria = RandomCriteria(random_, loose);
      criteria.SearchFlags = i % 3 == 0 ? kSearchAny : i % 3 == 1 ? kSearchBookName : kSearchChosya;
      criteria.Any = criteria.BookName = criteria.Chosya = words[i];
      criteria.Relevance = true;
      criteria.LooseMatch = loose;
      const std::string sql = StatementText(criteria);
      ExpectSameAsScan(sql, {mode});
      ranked += RankedByIndex(indexed_, sql, mode);
      ++searches;
    }
  };
  Builder().Build(IndexTarget{}, nullptr);
  compare(MatchMode::kFolded, false);
  compare(MatchMode::kExact, false);
  EXPECT_GT(ranked, searches / 2);
  std::ostringstream report;
  EXPECT_TRUE(Builder().Check(report)) << report.str();

  // Pending rows (a year changed alone, books added): SQLite sorts, before the refresh
  // and after it the index again.
  WriteBoth("UPDATE BOOKMAST SET MS_SYUNEN = NULL WHERE rowid % 11 = 0;");
  ranked = searches = 0;
  compare(MatchMode::kFolded, false);
  EXPECT_EQ(ranked, 0);
  std::string writes = "BEGIN;";
  for (int i = 0; i < 30; ++i) writes += InsertBook(random_, 900000 + i, "INSERT");
  WriteBoth(writes + "COMMIT;");
  renumber("printf('K%07d', 1000000 - rowid)");  // against the rowids
  compare(MatchMode::kFolded, false);
  EXPECT_EQ(ranked, 0);
  Builder().Refresh(nullptr);
  ranked = searches = 0;
  compare(MatchMode::kFolded, false);
  EXPECT_GT(ranked, searches / 2);

  // Keys in and out of the rowid order, a few none, with and without the year-key order
  // (an index built before it): the year's order serves where the keys follow the
  // rowids, and check compares the note and the orders with the rows.
  struct KeyCase {
    const char* key;
    bool yearKeyOrder, ranked;
  };
  const KeyCase cases[] = {
      {"printf('B%09d', rowid)", true, true},
      {"CASE WHEN rowid % 5 = 0 THEN NULL ELSE printf('N%d', rowid % 1000 * 10000 + rowid) END",
       true, true},
      {"printf('B%09d', rowid)", false, true},
      {"printf('B%d', rowid)", false, false},
  };
  for (const KeyCase& keys : cases) {
    SCOPED_TRACE(keys.key);
    renumber(keys.key);
    IndexTarget target;
    if (!keys.yearKeyOrder) target.yearKeyOrder.clear();
    Builder().Build(target, nullptr);
    ranked = searches = 0;
    compare(MatchMode::kFolded, false);
    EXPECT_EQ(ranked > searches / 2, keys.ranked) << ranked << " of " << searches;
    report.str("");
    EXPECT_TRUE(Builder().Check(report)) << report.str();
  }
  Exec(indexed_, "UPDATE liraidx_meta SET value = 'MS_BOOKID' WHERE key = 'rowid_order'");
  report.str("");
  EXPECT_FALSE(Builder().Check(report));
  Builder().Build(IndexTarget{}, nullptr);
  Exec(indexed_,
       "DELETE FROM liraidx_order WHERE id = " +
           std::to_string(db::searchindex::OrderKey(db::searchindex::kYearKeyOrderPlace,
                                                    db::searchindex::OrderData::kRanks, 0)));
  report.str("");
  EXPECT_FALSE(Builder().Check(report));
  EXPECT_NE(report.str().find("MS_SYUNEN,MS_BOOKID, ranks of chunk 0: missing"), std::string::npos)
      << report.str();

  // The loose mode, on texts with its punctuation and separators.
  std::filesystem::remove(indexed_);
  std::filesystem::remove(scanned_);
  MakeCatalogue(indexed_, random_, 2000, true);
  std::filesystem::copy_file(indexed_, scanned_);
  renumber("printf('B%d', rowid)");
  IndexTarget loose;
  loose.match = MatchMode::kLoose;
  Builder().Build(loose, nullptr);
  ranked = searches = 0;
  compare(MatchMode::kLoose, true);
  EXPECT_GT(ranked, searches / 2);
}

// The last one or two characters of a few titles and authors: words that end a text,
// whose books the title-and-author tier ranks by "the title ends with a word".
std::vector<std::string> EndingWords(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt* select = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT MS_SYOMEI FROM BOOKMAST WHERE length(MS_SYOMEI) > 2 AND rowid % 97 = 1"
                     " UNION ALL SELECT MS_CHOSYA FROM BOOKMAST WHERE length(MS_CHOSYA) > 2"
                     " AND rowid % 89 = 3",
                     -1, &select, nullptr);
  std::vector<std::string> words;
  while (sqlite3_step(select) == SQLITE_ROW) {
    const std::string text(static_cast<const char*>(sqlite3_column_blob(select, 0)),
                           sqlite3_column_bytes(select, 0));
    std::vector<std::size_t> starts;
    for (std::size_t at = 0; at < text.size(); at += platform::CharLength(text, at)) {
      starts.push_back(at);
    }
    words.push_back(text.substr(starts[starts.size() - 1 - words.size() % 2]));
  }
  sqlite3_finalize(select);
  sqlite3_close(db);
  return words;
}

// With the end grams, every tier of a word of one or two units is decided by the lists
// (none of the candidates is read to rank it, however many there are), and every page
// is the scan's: words that end titles and authors, one-character words, the kana and
// width forms of one sound, in the folded and the loose mode, the any-field box, the
// title and the author field; and rows written after the build, until and after the
// refresh. An index built without end grams still gives the scan's pages.
TEST_F(SearchIndexTest, BestMatchOfWordsEndingTextsIsDecidedByTheIndex) {
  WriteBoth("UPDATE BOOKMAST SET MS_BOOKID = printf('B%d', rowid);");
  // あ ア ｱ a Ａ 1 １: one sound or letter in several forms; ｶﾞ joins in one unit.
  const std::vector<std::string> oneCharacter = {"\x82\xa0", "\x83\x41", "\xb1",     "a",
                                                 "\x82\x60", "1",        "\x82\x50", "\xb6\xde"};
  int searches = 0, decided = 0;
  auto compare = [&](MatchMode mode, bool expectDecided) {
    std::vector<std::string> words = EndingWords(indexed_);
    words.insert(words.end(), oneCharacter.begin(), oneCharacter.end());
    ASSERT_GT(words.size(), 30u);
    for (std::size_t i = 0; i < words.size(); ++i) {
      SearchCriteria criteria;
      criteria.SearchFlags = i % 3 == 0 ? kSearchAny : i % 3 == 1 ? kSearchBookName : kSearchChosya;
      criteria.Any = criteria.BookName = criteria.Chosya = words[i];
      criteria.Relevance = true;
      criteria.LooseMatch = mode == MatchMode::kLoose;
      const std::string sql = StatementText(criteria);
      ExpectSamePagesAsScan(sql, mode);
      const std::optional<std::int64_t> unsure = RankingUnsure(indexed_, sql, mode);
      ++searches;
      if (!unsure || *unsure != 0) continue;
      ++decided;
    }
    if (expectDecided) {
      EXPECT_GT(decided, searches * 3 / 4) << decided << " of " << searches;
    } else {
      EXPECT_LT(decided, searches / 2) << decided << " of " << searches;
    }
    searches = decided = 0;
  };
  compare(MatchMode::kFolded, true);
  std::string writes = "BEGIN;";
  for (int i = 0; i < 40; ++i) writes += InsertBook(random_, 800000 + i, "INSERT");
  WriteBoth(writes +
            "UPDATE BOOKMAST SET MS_SYOMEI = MS_SYOMEI || '\x82\xa0' WHERE rowid % 13 = 0;" +
            "UPDATE BOOKMAST SET MS_BOOKID = printf('B%d', rowid); COMMIT;");
  for (const std::string& word : oneCharacter) {
    SearchCriteria criteria;
    criteria.SearchFlags = kSearchAny;
    criteria.Any = word;
    criteria.Relevance = true;
    ExpectSamePagesAsScan(StatementText(criteria));
  }
  Builder().Refresh(nullptr);
  compare(MatchMode::kFolded, true);
  std::ostringstream report;
  EXPECT_TRUE(Builder().Check(report)) << report.str();

  IndexTarget withoutEnds;
  withoutEnds.endGrams = false;
  Builder().Build(withoutEnds, nullptr);
  compare(MatchMode::kFolded, false);
  report.str("");
  EXPECT_TRUE(Builder().Check(report)) << report.str();

  // The loose mode, on texts with its punctuation and separators, which a word's end
  // passes over.
  std::filesystem::remove(indexed_);
  std::filesystem::remove(scanned_);
  MakeCatalogue(indexed_, random_, 2000, true);
  std::filesystem::copy_file(indexed_, scanned_);
  WriteBoth("UPDATE BOOKMAST SET MS_BOOKID = printf('B%d', rowid);");
  IndexTarget loose;
  loose.match = MatchMode::kLoose;
  Builder().Build(loose, nullptr);
  compare(MatchMode::kLoose, true);
}
