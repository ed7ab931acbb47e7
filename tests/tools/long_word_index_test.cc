// Words of three or more units decided by the search index: the same search run on a
// catalogue with an index and on a copy without one (read by scan) gives the same rows,
// order and count, in the folded, exact and loose modes; the long words are decided
// from the lists alone (exact candidates) wherever the index can prove them.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <random>
#include <sstream>

#include "db/sqlite/candidate_table.h"
#include "db/sqlite/indexed_search.h"
#include "db/sqlite/long_word_grams.h"
#include "db/sqlite/sqlite_driver.h"
#include "module/search_statement.h"
#include "tests/support/temp_dir.h"
#include "tools/catalog_schema.h"
#include "tools/search_index_builder.h"

using db::MatchMode;

namespace {

// Few characters, so that words of several units and repeated pairs are common: letters
// in both cases, ア as katakana, hiragana and half-width kana, デ whole and as ﾃ with
// its voiced mark, kanji (表's trail byte is 0x5C) and, for the loose mode, the
// separators ・ and "-" and a blank.
const char* const kUnits[] = {"a",        "b",        "A",    "\x83\x41", "\x82\xa0", "\xb1",
                              "\x83\x66", "\xc3\xde", "\xc3", "\x82\xcc", "\x8b\x4c", "\x98\x5e",
                              "\x95\x5c", "\x81\x45", "-",    " "};

const char* const kHead[] = {
    "SELECT MS_BOOKID, MS_SYOMEI, MS_SYOKANA, MS_CHOSYA, MS_CHOKANA, MS_SYUPAN,",
    "       MS_ISBN, MS_KENMEI, MS_SEIKYU, KA_USERID", "FROM BOOKMAST",
    "LEFT OUTER JOIN KASIDASI ON KA_BOOKID = MS_BOOKID"};

std::string RandomText(std::mt19937& random, int longest) {
  std::string text;
  for (int i = static_cast<int>(random() % (longest + 1)); i > 0; --i) {
    // The first five units come most often, so that words of them repeat.
    text += kUnits[random() % 3 == 0 ? random() % std::size(kUnits) : random() % 5];
  }
  return text;
}

// Runs the SQL on the file; the test fails when it cannot.
void Exec(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  const std::unique_ptr<sqlite3, int (*)(sqlite3*)> closer(db, sqlite3_close);
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
}

std::string InsertBook(std::mt19937& random, std::int64_t rowid) {
  std::string sql =
      "INSERT OR REPLACE INTO BOOKMAST (rowid, MS_BOOKID, MS_SYOMEI, MS_SYOKANA,"
      " MS_CHOSYA, MS_CHOKANA, MS_SYUPAN, MS_ISBN, MS_KENMEI) VALUES (" +
      std::to_string(rowid) + ", 'B" + std::to_string(rowid) + "'";
  for (int column = 0; column < 7; ++column) {
    char* quoted = sqlite3_mprintf("%Q", RandomText(random, 14).c_str());
    sql += std::string(", ") + quoted;
    sqlite3_free(quoted);
  }
  return sql + ");\n";
}

struct Result {
  std::vector<std::string> rows;
  std::int64_t count = 0, countOnFirstRow = 0;
  bool operator==(const Result&) const = default;
  friend void PrintTo(const Result& result, std::ostream* out) {
    *out << result.rows.size() << " rows, counted " << result.countOnFirstRow << " then "
         << result.count;
  }
};

Result RunSearch(const std::string& path, MatchMode mode, const std::string& sql) {
  auto database = db::OpenSqliteDatabase(path, mode, 0);
  auto statement = database->Prepare(sql);
  std::unique_ptr<db::Cursor> cursor = statement->Execute({});
  Result result;
  result.countOnFirstRow = cursor->CountRows();
  for (bool on = cursor->OnRow(); on; on = cursor->Next()) {
    std::string row;
    for (const db::ColumnValue& value : cursor->Row()) row += value.Text + "|";
    result.rows.push_back(row);
  }
  result.count = cursor->CountRows();
  return result;
}

// True when the index narrows the statement to candidates that are exactly the rows
// meeting its conditions.
bool ExactCandidates(const std::string& path, MatchMode mode, const std::string& sql) {
  auto database = db::OpenSqliteDatabase(path, mode, 0);
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  db::searchindex::CandidateRegistry* registry = nullptr;
  db::searchindex::RegisterCandidateTable(db, &registry);
  auto narrowed = db::searchindex::NarrowSearchStatement(db, sql, mode, *registry);
  const bool exact = narrowed && narrowed->set->Current().exact;
  sqlite3_close(db);
  return exact;
}

std::string Search(const std::string& word, bool anyField, bool loose,
                   const std::string& order = "") {
  module::SearchCriteria criteria;
  criteria.SearchFlags = anyField ? module::kSearchAny : module::kSearchBookName;
  (anyField ? criteria.Any : criteria.BookName) = word;
  criteria.LooseMatch = loose;
  criteria.Order = order;
  std::string sql;
  for (const std::string& line :
       module::BuildSearchStatement({std::begin(kHead), std::end(kHead)}, criteria)) {
    sql += line + "\r\n";
  }
  return sql;
}

class LongWordIndexTest : public ::testing::TestWithParam<MatchMode> {
 protected:
  void SetUp() override {
    std::string sql = std::string(kCatalogSchema) + "BEGIN;\n";
    for (int rowid = 1; rowid <= 3000; ++rowid) {
      // A few rows past the first chunk of rowids.
      sql += InsertBook(random_, rowid <= 2900 ? rowid : rowid * 131);
    }
    // の記 ends the title and 録 begins its reading: no text holds の記録.
    sql +=
        "INSERT INTO BOOKMAST (rowid, MS_BOOKID, MS_SYOMEI, MS_SYOKANA) VALUES (2950, 'B2950',"
        " 'ab\x82\xcc\x8b\x4c', '\x98\x5e"
        "ab');\n";
    Exec(indexed_, sql + "COMMIT;\n");
    std::filesystem::copy_file(indexed_, scanned_);
    Build();
  }

  void Build() {
    tools::IndexTarget target;
    target.match = Indexed();
    tools::SearchIndexBuilder(indexed_).Build(target, nullptr);
  }

  MatchMode Indexed() const {
    return GetParam() == MatchMode::kLoose ? MatchMode::kLoose : MatchMode::kFolded;
  }

  // Compares the search with the scan; answers whether the candidates were exact.
  bool ExpectScansAnswer(const std::string& word, bool anyField, const std::string& order = "") {
    const std::string sql = Search(word, anyField, GetParam() == MatchMode::kLoose, order);
    const Result expected = RunSearch(scanned_, GetParam(), sql);
    EXPECT_EQ(RunSearch(indexed_, GetParam(), sql), expected) << sql;
    matched_ += !expected.rows.empty();
    return ExactCandidates(indexed_, GetParam(), sql);
  }

  // A word of the units of a stored text: its first `length` units from `from`.
  std::string WordOfARow(std::size_t from, std::size_t length) {
    std::string word;
    for (std::size_t k = 0; k < length; ++k) word += kUnits[(from + k * 7) % 5];
    return word;
  }

  std::mt19937 random_{20261209};
  test_support::TempDir folder_{"long-word-index."};
  std::string indexed_ = folder_ / "indexed.db";
  std::string scanned_ = folder_ / "scanned.db";
  int matched_ = 0;
};

TEST_P(LongWordIndexTest, WordsOfThreeToEightUnitsGiveTheScansRowsAndCount) {
  const bool decidable = GetParam() != MatchMode::kExact;
  // Repeated units and pairs, half-width kana joined with their voiced mark or not,
  // separators inside the word, a unit whose trail byte is 0x5C, a wildcard.
  const std::vector<std::string> fixed = {"aaaa",
                                          "abab",
                                          "ababa",
                                          "\x83\x41\x83\x41\x83\x41",
                                          "a\x82\xa0\xb1",
                                          "\xc3\xde\x83\x66\x83\x66",
                                          "\xc3\xc3\xc3",
                                          "a\x81\x45"
                                          "bA",
                                          "a-b a",
                                          "\x82\xcc\x8b\x4c\x98\x5e",
                                          "\x95\x5c\x95\x5c\x95\x5c",
                                          "a%ba"};
  int exact = 0;
  for (const std::string& word : fixed) {
    exact += ExpectScansAnswer(word, false);
    exact += ExpectScansAnswer(word, true, "MS_SYOMEI");
  }
  // Words made of the common units, most of them found in some row.
  for (std::size_t length = 3; length <= 8; ++length) {
    for (std::size_t from = 0; from < 5; ++from) {
      exact += ExpectScansAnswer(WordOfARow(from, length), from % 2 == 0);
    }
  }
  for (int i = 0; i < 30; ++i) {
    std::string word;
    while (word.size() < 3) word = RandomText(random_, 8);
    exact += ExpectScansAnswer(word, i % 2 == 0);
  }
  // Else the comparisons above would prove little.
  EXPECT_GT(matched_, 40);
  // The long words are decided by the lists, but in the exact mode, where the folded
  // index cannot prove a byte-for-byte match.
  if (decidable) {
    EXPECT_GT(exact, 60);
  } else {
    EXPECT_EQ(exact, 0);
  }
}

TEST_P(LongWordIndexTest, PendingRowsAndRefreshKeepTheScansAnswer) {
  std::string writes = "BEGIN;\n";
  for (int rowid : {5, 77, 2900, 4000}) writes += InsertBook(random_, rowid);
  writes += "DELETE FROM BOOKMAST WHERE rowid IN (9, 10);\nCOMMIT;\n";
  Exec(indexed_, writes);
  Exec(scanned_, writes);
  for (std::size_t from = 0; from < 5; ++from) ExpectScansAnswer(WordOfARow(from, 4), true);
  tools::SearchIndexBuilder builder(indexed_);
  EXPECT_GT(builder.Refresh(nullptr), 0);
  std::ostringstream report;
  EXPECT_TRUE(builder.Check(report)) << report.str();
  for (std::size_t from = 0; from < 5; ++from) {
    const bool exact = ExpectScansAnswer(WordOfARow(from, 4), true);
    EXPECT_EQ(exact, GetParam() != MatchMode::kExact);
  }
}

// A pattern whose run must stand at the start or the end of the text is not proven by
// the grams its text holds anywhere: the count, taken on the first row, is the scan's.
TEST_P(LongWordIndexTest, AnchoredPatternsAreCountedAsTheScanCountsThem) {
  for (const char* pattern : {"ab%", "%ab", "ab", "aba%", "%bab",
                              "\x83\x41"
                              "a"}) {
    const std::string sql =
        std::string("SELECT MS_BOOKID FROM BOOKMAST WHERE MS_SYOMEI LIKE '") + pattern + "'";
    EXPECT_EQ(RunSearch(indexed_, GetParam(), sql), RunSearch(scanned_, GetParam(), sql)) << sql;
  }
}

// check compares the long-word lists with the rows as it does every other list: a
// triple's list and a repeated pair's list gone missing are both found.
TEST_P(LongWordIndexTest, CheckFindsAMissingLongWordList) {
  for (const char* kind : {"(gram >> 39) & 1 = 0", "(gram >> 39) & 1 = 1"}) {
    Build();
    std::ostringstream sound, damaged;
    ASSERT_TRUE(tools::SearchIndexBuilder(indexed_).Check(sound)) << sound.str();
    const std::string lists =
        "FROM liraidx_postings WHERE (gram >> 41) & 1 = 1 AND " + std::string(kind);
    const std::string damage =
        "DELETE FROM liraidx_postings WHERE (col, gram, chunk) = "
        "(SELECT col, gram, chunk " +
        lists + " LIMIT 1)";
    Exec(indexed_, damage);
    EXPECT_FALSE(tools::SearchIndexBuilder(indexed_).Check(damaged)) << damage;
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, LongWordIndexTest,
                         ::testing::Values(MatchMode::kFolded, MatchMode::kExact,
                                           MatchMode::kLoose),
                         [](const ::testing::TestParamInfo<MatchMode>& info) {
                           return info.param == MatchMode::kExact   ? "Exact"
                                  : info.param == MatchMode::kLoose ? "Loose"
                                                                    : "Folded";
                         });

}  // namespace
