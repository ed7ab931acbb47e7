// The counts of a search's rows by column values taken from the index's stored ranks
// and the joined tables, against the rows of the same statement on a copy without an
// index, grouped here: every grouping of every exact search, after loans are written
// between the preparing and the reading, and no answer where the ranks cannot be trusted.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <map>
#include <random>
#include <sstream>

#include "db/sqlite/joined_codes.h"
#include "db/sqlite/search_index_format.h"
#include "db/sqlite/sqlite_driver.h"
#include "tests/support/temp_dir.h"
#include "tools/book_codes_part.h"
#include "tools/catalog_schema.h"
#include "tools/search_index_builder.h"

namespace {

using db::ColumnValue;
using db::GroupColumn;
using Counts = std::map<std::vector<std::string>, std::int64_t>;

void Exec(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
      << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

// A value as the test tells values apart: its kind and its bytes, cut to the prefix.
std::string Key(const ColumnValue& value, std::size_t prefix) {
  switch (value.ValueKind) {
    case ColumnValue::Kind::kNull:
      return "null";
    case ColumnValue::Kind::kInteger:
      return "int " + std::to_string(value.Integer);
    case ColumnValue::Kind::kFloat:
      return "real " + std::to_string(value.Float);
    default:
      return "text " + (prefix ? value.Text.substr(0, prefix) : value.Text);
  }
}

const char* const kFacetHead =
    "SELECT MS_SYUNEN, MS_SEIKYU, MS_SYOZAI, KA_USERID, MS_TMARK, MS_TFMSUU, MS_KKUBUN\r\n"
    "FROM BOOKMAST\r\nLEFT OUTER JOIN SYOZAI ON SY_CODE = MS_SYOZAI\r\n"
    "LEFT OUTER JOIN KASIDASI ON KA_BOOKID = MS_BOOKID\r\nWHERE\r\n";

// The groupings asked for: one column whole or by a prefix, several together.
const std::vector<std::vector<GroupColumn>> kGroupings = {
    {{"MS_SYUNEN", 0}},
    {{"MS_SEIKYU", 1}},
    {{"MS_SEIKYU", 2}},
    {{"MS_SEIKYU", 0}},
    {{"MS_SYOZAI", 0}},
    {{"KA_USERID", 1}, {"MS_TMARK", 1}, {"MS_TFMSUU", 1}, {"MS_KKUBUN", 1}},
    {{"MS_SYUNEN", 0}, {"MS_SYOZAI", 0}, {"KA_USERID", 0}},
    {{"MS_SYOZAI", 0}, {"MS_SYUNEN", 0}, {"MS_TMARK", 1}},
};

// The oracle: the statement's rows read one by one and grouped here.
Counts GroupedByReading(db::Database& database, const std::string& sql,
                        const std::vector<GroupColumn>& columns) {
  Counts counts;
  auto statement = database.Prepare(sql);
  auto cursor = statement->Execute({});
  for (bool on = cursor->OnRow(); on; on = cursor->Next()) {
    std::vector<std::string> keys;
    for (const GroupColumn& column : columns) {
      const auto& names = cursor->ColumnNames();
      const auto at = std::find(names.begin(), names.end(), column.Name) - names.begin();
      keys.push_back(Key(cursor->Row()[at], column.Prefix));
    }
    ++counts[keys];
  }
  return counts;
}

Counts CountsOf(const std::vector<db::GroupCount>& groups, const std::vector<GroupColumn>& columns) {
  Counts counts;
  for (const db::GroupCount& group : groups) {
    std::vector<std::string> keys;
    for (std::size_t c = 0; c < columns.size(); ++c)
      keys.push_back(Key(group.Keys[c], columns[c].Prefix));
    EXPECT_TRUE(counts.emplace(keys, group.Rows).second) << "a group given twice";
  }
  return counts;
}

std::optional<Counts> GroupedByIndex(db::Cursor& cursor, const std::vector<GroupColumn>& columns) {
  const auto groups = cursor.CountGroups(columns);
  if (!groups) return std::nullopt;
  return CountsOf(*groups, columns);
}

// The sets the facets count together: every column coded, so one walk counts them all.
const std::vector<std::vector<GroupColumn>> kFacetSets = {
    {{"KA_USERID", 1}, {"MS_TMARK", 1}, {"MS_TFMSUU", 1}, {"MS_KKUBUN", 1}},
    {{"MS_SYUNEN", 0}},
    {{"MS_SEIKYU", 1}},
    {{"MS_SYOZAI", 0}}};

class GroupCountsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 random(20261209);
    const char* const callNumbers[] = {"",   "913.6", "9", "007",      "E12",    "\x82\x58",
                                       "91", "2a",    "0", "\x95\x5c", "913.6/N"};
    const char* const titleLetters[] = {"a", "b", "\x83\x41", "\x82\xa0", "c"};
    std::string sql = std::string(kCatalogSchema) +
                      "BEGIN;\nINSERT INTO SYOZAI VALUES (1, 'x'), (2, 'y'), (3, 'z');\n";
    for (int i = 1; i <= 3000; ++i) {
      // Dense rowids, then a sparse tail over several chunks of rowids.
      const int rowid = i <= 2500 ? i : i * 131;
      std::string title;
      for (int k = 0; k < 3; ++k) title += titleLetters[random() % std::size(titleLetters)];
      // Every tenth book of the dense part has a year of its own: the first chunk's
      // years need two bytes a code, the others' one.
      const int year = i <= 2500 && i % 10 == 0 ? 1000 + i / 10 : static_cast<int>(random() % 30);
      sql +=
          "INSERT INTO BOOKMAST (rowid, MS_BOOKID, MS_SYOMEI, MS_SYUNEN, MS_SEIKYU, MS_SYOZAI,"
          " MS_KKUBUN, MS_TMARK, MS_TFMSUU) VALUES (" +
          std::to_string(rowid) + ", 'B" + std::to_string(rowid) + "', '" + title + "', " +
          (year == 0   ? "NULL"
           : year == 1 ? "'19xx'"
                       : std::to_string(year < 30 ? 1970 + year : year)) +
          ", '" + callNumbers[random() % std::size(callNumbers)] + "', " +
          (random() % 5 == 0 ? "NULL" : std::to_string(1 + random() % 3)) + ", '" +
          "0013"[random() % 4] + "', '" + (random() % 6 == 0 ? "x" : "") + "', " +
          (random() % 7 == 0 ? std::to_string(random() % 3) : "NULL") + ");\n";
      if (random() % 6 == 0) {
        sql += "INSERT INTO KASIDASI VALUES ('B" + std::to_string(rowid) + "', '" +
               (random() % 4 == 0 ? "" : "U1") + "', NULL);\n";
      }
    }
    Exec(indexed_, sql + "COMMIT;\n");
    std::filesystem::copy_file(indexed_, scanned_);
    tools::IndexTarget target;
    target.orderColumns = {"MS_SEIKYU", "MS_SYUNEN", "MS_SYOZAI",
                           "MS_KKUBUN", "MS_TMARK",  "MS_TFMSUU"};
    tools::SearchIndexBuilder(indexed_).Build(target, nullptr);
  }

  // Every grouping of the search counted by the index equals the scan's rows grouped;
  // answers how many groupings the index counted.
  int ExpectSameAsReading(const std::string& condition) {
    const std::string sql = kFacetHead + condition + "\r\n";
    auto withIndex = db::OpenSqliteDatabase(indexed_, db::MatchMode::kFolded, 0);
    auto withoutIndex = db::OpenSqliteDatabase(scanned_, db::MatchMode::kFolded, 0);
    auto statement = withIndex->Prepare(sql);
    auto cursor = statement->Execute({});
    int counted = 0;
    for (const auto& columns : kGroupings) {
      const std::optional<Counts> byIndex = GroupedByIndex(*cursor, columns);
      if (!byIndex) continue;
      ++counted;
      EXPECT_EQ(*byIndex, GroupedByReading(*withoutIndex, sql, columns))
          << condition << " by " << columns.front().Name << "...";
    }
    // Several sets at once, as the facets ask, give each set's own counts: the facets'
    // sets in one walk where the codes serve, every grouping one set at a time.
    for (const auto* sets : {&kFacetSets, &kGroupings}) {
      const auto together = cursor->CountGroupSets(*sets);
      if (sets == &kGroupings) {
        EXPECT_EQ(together.has_value(), counted == std::ssize(kGroupings)) << condition;
      }
      if (!together) continue;
      for (std::size_t s = 0; s < sets->size(); ++s) {
        EXPECT_EQ(CountsOf((*together)[s], (*sets)[s]),
                  GroupedByReading(*withoutIndex, sql, (*sets)[s]))
            << condition << ", together, set " << s;
      }
    }
    return counted;
  }

  // A spoiled index is what the counts read: the grouping of `MS_SYOMEI LIKE '%a%'` it
  // counts differs from the scan's.
  void ExpectSpoiledCountsDiffer(const std::vector<GroupColumn>& columns, const std::string& what) {
    const std::string sql = std::string(kFacetHead) + "MS_SYOMEI LIKE '%a%'\r\n";
    auto withIndex = db::OpenSqliteDatabase(indexed_, db::MatchMode::kFolded, 0);
    auto withoutIndex = db::OpenSqliteDatabase(scanned_, db::MatchMode::kFolded, 0);
    auto statement = withIndex->Prepare(sql);
    auto cursor = statement->Execute({});
    const std::optional<Counts> spoiled = GroupedByIndex(*cursor, columns);
    ASSERT_TRUE(spoiled.has_value()) << what;
    EXPECT_NE(*spoiled, GroupedByReading(*withoutIndex, sql, columns)) << what;
  }

  test_support::TempDir folder_{"group-counts."};
  std::string indexed_ = folder_ / "indexed.db";
  std::string scanned_ = folder_ / "scanned.db";
};

TEST_F(GroupCountsTest, EveryGroupingOfAnExactSearchIsTheScansGroupBy) {
  const std::string conditions[] = {
      "MS_SYOMEI LIKE '%a%'",
      "MS_SYOMEI LIKE '%\x83\x41%'",  // matches \x82\xa0 too, folded
      "MS_SYOMEI LIKE '%ab%'",        // a pair
      "( MS_SYOMEI LIKE '%c%' OR MS_SYOMEI LIKE '%b%' )",
      "MS_SYOMEI LIKE '%a%' AND MS_SYOMEI LIKE '%c%'",
      "MS_SYOMEI LIKE '%q%'",  // no book
  };
  for (const std::string& condition : conditions) {
    EXPECT_EQ(ExpectSameAsReading(condition), static_cast<int>(kGroupings.size())) << condition;
  }
}

TEST_F(GroupCountsTest, LoansWrittenAfterThePreparingAreCounted) {
  const std::string sql = std::string(kFacetHead) + "MS_SYOMEI LIKE '%b%'\r\n";
  auto withIndex = db::OpenSqliteDatabase(indexed_, db::MatchMode::kFolded, 0);
  auto statement = withIndex->Prepare(sql);
  const std::string loans =
      "DELETE FROM KASIDASI WHERE rowid % 2 = 0;"
      "INSERT OR IGNORE INTO KASIDASI SELECT MS_BOOKID, 'U2', NULL FROM BOOKMAST"
      " WHERE rowid % 5 = 0;";
  Exec(indexed_, loans);
  Exec(scanned_, loans);
  auto withoutIndex = db::OpenSqliteDatabase(scanned_, db::MatchMode::kFolded, 0);
  auto cursor = statement->Execute({});
  const auto& loanColumns = kGroupings[5];
  const std::optional<Counts> byIndex = GroupedByIndex(*cursor, loanColumns);
  ASSERT_TRUE(byIndex.has_value());
  EXPECT_EQ(*byIndex, GroupedByReading(*withoutIndex, sql, loanColumns));
}

// A column whose order is not kept, an expression, and candidates that are not exact:
// the rows are read.
TEST_F(GroupCountsTest, NoCountWhereTheRanksCannotAnswer) {
  struct Case {
    std::string condition;
    std::vector<GroupColumn> columns;
  };
  const Case cases[] = {
      {"MS_SYOMEI LIKE '%a%'", {{"MS_SYOMEI", 0}}},
      {"MS_SYOMEI LIKE '%a%'", {{"Y", 0}}},
      {"MS_SYOMEI LIKE '%abc%'", {{"MS_SYUNEN", 0}}},
      {"MS_SYOMEI LIKE '%a%' AND ( MS_SYUNEN >= 1990 )", {{"MS_SYUNEN", 0}}},
  };
  for (const Case& test : cases) {
    auto database = db::OpenSqliteDatabase(indexed_, db::MatchMode::kFolded, 0);
    const std::string select = test.columns.front().Name == "Y"
                                   ? "SELECT MS_SYUNEN + 1 AS Y FROM BOOKMAST\r\nWHERE\r\n"
                                   : "SELECT MS_SYOMEI, MS_SYUNEN FROM BOOKMAST\r\nWHERE\r\n";
    auto statement = database->Prepare(select + test.condition + "\r\n");
    auto cursor = statement->Execute({});
    ASSERT_TRUE(cursor->OnRow()) << test.condition;
    EXPECT_FALSE(cursor->CountGroups(test.columns).has_value()) << test.condition;
  }
}

// Another program updates a kept column without touching an indexed text: the row is
// pending until the refresh writes the orders anew, so a page sorted by that column is
// the scan's and its counts are not taken from the stale ranks.
TEST_F(GroupCountsTest, AnUpdateOfAKeptColumnIsPendingForSortsAndCounts) {
  const std::string update =
      "UPDATE BOOKMAST SET MS_SEIKYU = '0' || MS_SEIKYU, MS_SYUNEN = 2050 WHERE rowid % 3 = 0";
  Exec(indexed_, update);
  Exec(scanned_, update);
  const std::string sorted =
      "SELECT MS_BOOKID, MS_SEIKYU, MS_SYUNEN FROM BOOKMAST\r\nWHERE\r\nMS_SYOMEI LIKE '%a%'\r\n"
      "ORDER BY MS_SEIKYU DESC\r\n";
  auto rows = [&](const std::string& path) {
    auto database = db::OpenSqliteDatabase(path, db::MatchMode::kFolded, 0);
    auto statement = database->Prepare(sorted);
    std::vector<std::string> read;
    for (auto cursor = statement->Execute({}); cursor->OnRow(); cursor->Next())
      read.push_back(cursor->Row()[0].Text);
    return read;
  };
  EXPECT_EQ(rows(indexed_), rows(scanned_));
  for (const std::string condition : {"MS_SYOMEI LIKE '%a%'", "MS_SYOMEI LIKE '%b%'"}) {
    EXPECT_EQ(ExpectSameAsReading(condition), 0) << "counted from stale ranks";
  }
  tools::SearchIndexBuilder(indexed_).Refresh(nullptr);
  EXPECT_EQ(rows(indexed_), rows(scanned_));
  EXPECT_EQ(ExpectSameAsReading("MS_SYOMEI LIKE '%a%'"), static_cast<int>(kGroupings.size()));
}

// The books of the loans kept by the index follow every way another program writes
// loans and books; after each write the loan state is counted from them (checked by
// spoiling them at the end) and equals the scan's GROUP BY, and `check` agrees.
TEST_F(GroupCountsTest, KeptBooksOfTheLoansFollowEveryWrite) {
  struct Write {
    const char* what;
    std::string sql;
    bool pending;  // leaves a book row pending: the counts are the rows' until a refresh
  };
  const Write writes[] = {
      {"loans inserted",
       "INSERT OR IGNORE INTO KASIDASI SELECT MS_BOOKID, 'U4', NULL FROM BOOKMAST"
       " WHERE rowid % 7 = 3",
       false},
      {"loans returned", "DELETE FROM KASIDASI WHERE rowid % 3 = 0", false},
      {"borrowers emptied, loans moved to other books",
       "UPDATE KASIDASI SET KA_USERID = '' WHERE rowid % 5 = 0;"
       "UPDATE OR IGNORE KASIDASI SET KA_BOOKID = 'B' || (substr(KA_BOOKID, 2) + 1)"
       " WHERE rowid % 4 = 1",
       false},
      {"loans replaced",
       "INSERT OR REPLACE INTO KASIDASI SELECT MS_BOOKID, 'U5', NULL"
       " FROM BOOKMAST WHERE rowid % 11 = 0",
       false},
      {"a loan of a book not yet catalogued", "INSERT INTO KASIDASI VALUES ('B900001', 'U6', NULL)",
       false},
      {"that book and another added, lent",
       "INSERT INTO BOOKMAST (rowid, MS_BOOKID, MS_SYOMEI) VALUES (900001, 'B900001', 'ab'),"
       " (900002, 'B900002', 'ba'); INSERT INTO KASIDASI VALUES ('B900002', 'U7', NULL)",
       true},
  };
  tools::SearchIndexBuilder builder(indexed_);
  const int groupings = static_cast<int>(kGroupings.size());
  for (const Write& write : writes) {
    Exec(indexed_, write.sql);
    Exec(scanned_, write.sql);
    for (const char* condition : {"MS_SYOMEI LIKE '%a%'", "MS_SYOMEI LIKE '%b%'"}) {
      EXPECT_EQ(ExpectSameAsReading(condition), write.pending ? 0 : groupings)
          << write.what << ": " << condition;
    }
    if (write.pending) builder.Refresh(nullptr);
    EXPECT_EQ(ExpectSameAsReading("MS_SYOMEI LIKE '%a%'"), groupings) << write.what;
    std::ostringstream report;
    EXPECT_TRUE(builder.Check(report)) << write.what << "\n" << report.str();
  }
  // Books kept wrongly are what the counts read where the loans are not coded, and
  // `check` names them.
  Exec(indexed_, std::string("UPDATE ") + db::searchindex::kJoinedBooksTable +
                     " SET book_rowid = NULL WHERE joined_rowid % 2 = 0;"
                     "UPDATE liraidx_meta SET value = '' WHERE key = 'joined_codes'");
  std::ostringstream report;
  EXPECT_FALSE(builder.Check(report));
  EXPECT_NE(report.str().find("KASIDASI row"), std::string::npos) << report.str();
  ExpectSpoiledCountsDiffer(kGroupings[5], "loans' books spoiled");
}

namespace {

// The first column of the statement's first row as text; nullopt without a row.
std::optional<std::string> FirstValue(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* select = nullptr;
  std::optional<std::string> value;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &select, nullptr) == SQLITE_OK &&
      sqlite3_step(select) == SQLITE_ROW && sqlite3_column_type(select, 0) != SQLITE_NULL) {
    value = reinterpret_cast<const char*>(sqlite3_column_text(select, 0));
  }
  sqlite3_finalize(select);
  sqlite3_close(db);
  return value;
}

std::int64_t Single(const std::string& path, const std::string& sql) {
  const std::optional<std::string> value = FirstValue(path, sql);
  return value ? std::stoll(*value) : -1;
}

}  // namespace

// The loans' codes: loans written after the build are counted as the scan counts them
// (the books the triggers note are read from the rows), also a loan row that a REPLACE
// gives to another book and one that leaves an entry of the loans' books behind; a
// refresh folds the notes into the codes, and `check` agrees throughout.
TEST_F(GroupCountsTest, LoanCodesFollowLoansWrittenAfterTheBuild) {
  const std::string changes =
      std::string("SELECT count(*) FROM ") + db::searchindex::kJoinedChangesTable;
  ASSERT_EQ(Single(indexed_, changes), 0);
  ASSERT_EQ(Single(indexed_,
                   "SELECT value = 'KA_USERID:1' FROM liraidx_meta"
                   " WHERE key = 'joined_codes'"),
            1);
  // A book without a loan, for the REPLACEs.
  const std::string freeBook =
      "(SELECT MS_BOOKID FROM BOOKMAST WHERE MS_SYOMEI LIKE '%a%' AND MS_BOOKID NOT IN"
      " (SELECT KA_BOOKID FROM KASIDASI) ORDER BY rowid LIMIT 1)";
  struct Write {
    const char* what;
    std::string sql;
  };
  const Write writes[] = {
      {"lent",
       "INSERT OR IGNORE INTO KASIDASI SELECT MS_BOOKID, 'V1', NULL FROM BOOKMAST"
       " WHERE rowid % 9 = 2"},
      {"returned", "DELETE FROM KASIDASI WHERE rowid % 4 = 1"},
      {"borrowers emptied, a first letter no code stands for",
       "UPDATE KASIDASI SET KA_USERID = CASE WHEN rowid % 2 = 0 THEN '' ELSE 'W' || KA_USERID"
       " END WHERE rowid % 3 = 0"},
      {"a loan row given to another book by a REPLACE of its rowid",
       "INSERT OR REPLACE INTO KASIDASI (rowid, KA_BOOKID, KA_USERID) VALUES"
       " ((SELECT min(rowid) FROM KASIDASI), " +
           freeBook + ", 'X1')"},
      {"a REPLACE of one loan's rowid and another's book, leaving an entry behind",
       "INSERT OR REPLACE INTO KASIDASI (rowid, KA_BOOKID, KA_USERID) VALUES"
       " ((SELECT max(rowid) FROM KASIDASI), (SELECT KA_BOOKID FROM KASIDASI"
       " ORDER BY rowid LIMIT 1 OFFSET 5), 'Y1')"},
  };
  const int groupings = static_cast<int>(kGroupings.size());
  tools::SearchIndexBuilder builder(indexed_);
  for (const Write& write : writes) {
    Exec(indexed_, write.sql);
    Exec(scanned_, write.sql);
    for (const char* condition : {"MS_SYOMEI LIKE '%a%'", "MS_SYOMEI LIKE '%b%'"}) {
      EXPECT_EQ(ExpectSameAsReading(condition), groupings) << write.what << ": " << condition;
    }
    EXPECT_GT(Single(indexed_, changes), 0) << write.what;
    std::ostringstream report;
    EXPECT_TRUE(builder.Check(report)) << write.what << "\n" << report.str();
    EXPECT_NE(report.str().find("rows' KA_USERID:1: 0 differing"), std::string::npos)
        << report.str();
  }
  builder.Refresh(nullptr);
  EXPECT_EQ(Single(indexed_, changes), 0);
  EXPECT_EQ(ExpectSameAsReading("MS_SYOMEI LIKE '%a%'"), groupings);
  std::ostringstream report;
  EXPECT_TRUE(builder.Check(report)) << report.str();
}

// Where the loan table has a uniqueness besides its key, a REPLACE may delete another
// book's loan without a trigger: its entry, left behind, makes the counts read the
// loans, not that book's code.
TEST_F(GroupCountsTest, AReplaceByAnotherUniqueColumnLeavesNoStaleLoanCounted) {
  const std::string due =
      "CREATE UNIQUE INDEX loan_due ON KASIDASI (KA_KIGEN);"
      "UPDATE KASIDASI SET KA_KIGEN = '2026-12-' || rowid WHERE rowid % 2 = 0;";
  Exec(indexed_, due);
  Exec(scanned_, due);
  tools::IndexTarget target;
  target.orderColumns = {"MS_SEIKYU", "MS_SYUNEN", "MS_SYOZAI",
                         "MS_KKUBUN", "MS_TMARK",  "MS_TFMSUU"};
  tools::SearchIndexBuilder builder(indexed_);
  builder.Build(target, nullptr);
  // A new loan of a free book takes the due date of a lent book's loan, in the search.
  const std::string replace =
      "INSERT OR REPLACE INTO KASIDASI (KA_BOOKID, KA_USERID, KA_KIGEN) SELECT (SELECT"
      " MS_BOOKID FROM BOOKMAST WHERE MS_BOOKID NOT IN (SELECT KA_BOOKID FROM KASIDASI)"
      " ORDER BY rowid LIMIT 1), 'Z1', KA_KIGEN FROM KASIDASI JOIN BOOKMAST ON MS_BOOKID ="
      " KA_BOOKID WHERE KA_KIGEN IS NOT NULL AND KA_USERID <> '' AND MS_SYOMEI GLOB '*a*'"
      " ORDER BY KASIDASI.rowid LIMIT 1";
  Exec(indexed_, replace);
  Exec(scanned_, replace);
  ASSERT_EQ(Single(indexed_, "SELECT count(*) FROM liraidx_joined_books") -
                Single(indexed_, "SELECT count(*) FROM KASIDASI"),
            1);
  const int groupings = static_cast<int>(kGroupings.size());
  EXPECT_EQ(ExpectSameAsReading("MS_SYOMEI LIKE '%a%'"), groupings);
  builder.Refresh(nullptr);
  EXPECT_EQ(ExpectSameAsReading("MS_SYOMEI LIKE '%a%'"), groupings);
  std::ostringstream report;
  EXPECT_TRUE(builder.Check(report)) << report.str();
}

// Codes that stand for other loans than the rows hold are what the counts read, and
// `check` names their books: a value changed, the chunks gone.
TEST_F(GroupCountsTest, SpoiledLoanCodesAreCountedAndReported) {
  const std::string spoils[] = {
      std::string("UPDATE ") + db::searchindex::kJoinedCodeValuesTable + " SET value = 'Z'",
      std::string("DELETE FROM ") + db::searchindex::kJoinedCodesTable,
  };
  const std::string built = folder_ / "built.db";
  std::filesystem::copy_file(indexed_, built);
  const std::string sql = std::string(kFacetHead) + "MS_SYOMEI LIKE '%a%'\r\n";
  for (const std::string& spoil : spoils) {
    std::filesystem::copy_file(built, indexed_, std::filesystem::copy_options::overwrite_existing);
    Exec(indexed_, spoil);
    std::ostringstream report;
    EXPECT_FALSE(tools::SearchIndexBuilder(indexed_).Check(report)) << spoil;
    EXPECT_NE(report.str().find("its loan code"), std::string::npos) << report.str();
    ExpectSpoiledCountsDiffer(kGroupings[5], spoil);
  }
  // Codes whose values are gone are reported and raise, not read beyond their values.
  std::filesystem::copy_file(built, indexed_, std::filesystem::copy_options::overwrite_existing);
  Exec(indexed_, std::string("DELETE FROM ") + db::searchindex::kJoinedCodeValuesTable);
  std::ostringstream report;
  EXPECT_FALSE(tools::SearchIndexBuilder(indexed_).Check(report));
  EXPECT_NE(report.str().find("its loan code 1 stands"), std::string::npos) << report.str();
  auto withIndex = db::OpenSqliteDatabase(indexed_, db::MatchMode::kFolded, 0);
  auto statement = withIndex->Prepare(sql);
  auto cursor = statement->Execute({});
  EXPECT_ANY_THROW(cursor->CountGroups(kGroupings[5]));
}

// An index whose loans' books were written before the loans' codes (no codes, no
// notes) gains both from a refresh; loans written after it are counted right.
TEST_F(GroupCountsTest, LoansBooksWithoutCodesGainThemByARefresh) {
  const std::string book = "(SELECT rowid FROM BOOKMAST WHERE MS_BOOKID = NEW.KA_BOOKID)";
  const std::string part = db::searchindex::kJoinedBooksTable;
  Exec(indexed_,
       "DROP TRIGGER liraidx_joined_after_insert; DROP TRIGGER liraidx_joined_after_update;"
       "DROP TRIGGER liraidx_joined_after_delete; DROP TABLE liraidx_joined_changes;"
       "DROP TABLE liraidx_joined_codes; DROP TABLE liraidx_joined_code_values;"
       "DELETE FROM liraidx_meta WHERE key = 'joined_codes';"
       "CREATE TRIGGER liraidx_joined_after_insert AFTER INSERT ON KASIDASI BEGIN"
       " INSERT OR REPLACE INTO " +
           part + " VALUES (NEW.rowid, " + book +
           "); END;"
           "CREATE TRIGGER liraidx_joined_after_delete AFTER DELETE ON KASIDASI BEGIN"
           " DELETE FROM " +
           part +
           " WHERE joined_rowid = OLD.rowid; END;"
           "UPDATE liraidx_meta SET value = (SELECT schema_version FROM pragma_schema_version)"
           " WHERE key = 'schema_version';");
  const int groupings = static_cast<int>(kGroupings.size());
  EXPECT_EQ(ExpectSameAsReading("MS_SYOMEI LIKE '%a%'"), groupings);
  tools::SearchIndexBuilder builder(indexed_);
  builder.Refresh(nullptr);
  EXPECT_EQ(Single(indexed_,
                   "SELECT value = 'KA_USERID:1' FROM liraidx_meta"
                   " WHERE key = 'joined_codes'"),
            1);
  const std::string loans =
      "DELETE FROM KASIDASI WHERE rowid % 3 = 0;"
      "INSERT OR IGNORE INTO KASIDASI SELECT MS_BOOKID, 'Q1', NULL FROM BOOKMAST"
      " WHERE rowid % 13 = 0;";
  Exec(indexed_, loans);
  Exec(scanned_, loans);
  EXPECT_EQ(ExpectSameAsReading("MS_SYOMEI LIKE '%a%'"), groupings);
  std::ostringstream report;
  EXPECT_TRUE(builder.Check(report)) << report.str();
  EXPECT_NE(report.str().find("rows' KA_USERID:1: 0 differing"), std::string::npos) << report.str();
}

// An index without the part counts the loans by the join; dropping an index takes the
// part's triggers with it, so that loans are written as before.
TEST_F(GroupCountsTest, LoansWithoutTheKeptBooks) {
  tools::IndexTarget target;
  target.orderColumns = {"MS_SEIKYU", "MS_SYUNEN", "MS_SYOZAI",
                         "MS_KKUBUN", "MS_TMARK",  "MS_TFMSUU"};
  target.joinedBooks.reset();
  tools::SearchIndexBuilder(indexed_).Build(target, nullptr);
  EXPECT_EQ(ExpectSameAsReading("MS_SYOMEI LIKE '%a%'"), static_cast<int>(kGroupings.size()));
  tools::SearchIndexBuilder(indexed_).Build(tools::IndexTarget{}, nullptr);
  tools::SearchIndexBuilder(indexed_).Drop();
  Exec(indexed_,
       "INSERT OR IGNORE INTO KASIDASI SELECT MS_BOOKID, 'U8', NULL FROM BOOKMAST;"
       "DELETE FROM KASIDASI WHERE rowid % 2 = 0;");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(indexed_.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* select = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_schema WHERE name LIKE 'liraidx%'",
                               -1, &select, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(select), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(select, 0), 0) << "the index left tables or triggers";
  sqlite3_finalize(select);
  sqlite3_close(db);
}

}  // namespace

namespace {

// Filters as the facets write them: a decade, a class, a location, "can be borrowed".
const db::RowFilter kDecade{"MS_SYUNEN >= 1980 AND MS_SYUNEN < 1990", {{"MS_SYUNEN", 0}}};
const db::RowFilter kClass{"substr(MS_SEIKYU, 1, 1) = '9'", {{"MS_SEIKYU", 1}}};
const db::RowFilter kLocation{"MS_SYOZAI = 2", {{"MS_SYOZAI", 0}}};
const db::RowFilter kSince{"MS_SYUNEN >= 1985", {{"MS_SYUNEN", 0}}};
const db::RowFilter kAvailable{
    "( CASE WHEN COALESCE(KA_USERID, '') <> '' THEN 1 WHEN COALESCE(MS_TMARK, '') = '' AND "
    "COALESCE(CAST(MS_TFMSUU AS TEXT), '') <> '' THEN 2 WHEN substr(COALESCE(MS_KKUBUN, ''), 1, "
    "1) = '3' THEN 2 ELSE 0 END ) = 0",
    {{"KA_USERID", 1}, {"MS_TMARK", 1}, {"MS_TFMSUU", 1}, {"MS_KKUBUN", 1}}};

}  // namespace

// A search with filters decided by the index gives the scan's rows in the scan's order,
// page by page, and its count; its candidates stay exact (the rows are counted by the
// ranks), also after a loan is written between the preparing and the reading.
TEST_F(GroupCountsTest, FiltersDecidedByTheIndexGiveTheScansRows) {
  const std::vector<std::vector<db::RowFilter>> filterSets = {
      {kDecade},
      {kClass},
      {kLocation},
      {kAvailable},
      {kAvailable, kClass, kDecade},
      // Two filters of one column each, and two filters reading the same column.
      {kClass, kDecade},
      {kDecade, kSince, kLocation}};
  const std::string words[] = {"MS_SYOMEI LIKE '%a%'",
                               "( MS_SYOMEI LIKE '%c%' OR MS_SYOMEI LIKE '%b%' )"};
  const std::string orders[] = {"", "ORDER BY MS_SEIKYU DESC\r\n", "ORDER BY MS_SYUNEN\r\n"};
  auto read = [](db::Statement& statement, std::int64_t skip) {
    std::vector<std::string> rows;
    auto cursor = statement.Execute({});
    if (skip > 0) cursor->Skip(skip);
    for (bool on = cursor->OnRow(); on && rows.size() < 40; on = cursor->Next())
      rows.push_back(Key(cursor->Row()[0], 0));
    return rows;
  };
  // Decided from the codes of the books (one walk), then from the ranks (ids merged
  // into groups first).
  for (bool byRanks : {false, true}) {
    // The same loans written each round, so that both decide the same rows.
    int loanRound = 0;
    if (byRanks) {
      tools::IndexTarget target;
      target.orderColumns = {"MS_SEIKYU", "MS_SYUNEN", "MS_SYOZAI",
                             "MS_KKUBUN", "MS_TMARK",  "MS_TFMSUU"};
      target.bookCodes.clear();
      tools::SearchIndexBuilder(indexed_).Build(target, nullptr);
    }
    for (bool loanBetween : {false, true}) {
      for (const auto& filters : filterSets) {
        for (const std::string& word : words) {
          for (const std::string& order : orders) {
            std::string where = word;
            for (const db::RowFilter& filter : filters)
              where += " AND ( " + filter.Condition + " )";
            const std::string sql =
                "SELECT MS_BOOKID, MS_SYUNEN, MS_SEIKYU, MS_SYOZAI, KA_USERID, MS_TMARK,"
                " MS_TFMSUU, MS_KKUBUN\r\nFROM BOOKMAST\r\n"
                "LEFT OUTER JOIN SYOZAI ON SY_CODE = MS_SYOZAI\r\n"
                "LEFT OUTER JOIN KASIDASI ON KA_BOOKID = MS_BOOKID\r\nWHERE\r\n" +
                where + "\r\n" + order;
            auto withIndex = db::OpenSqliteDatabase(indexed_, db::MatchMode::kFolded, 0);
            // The facets' sets counted along with the filters for some, later for others.
            const bool along = &order != &orders[0];
            auto filtered = withIndex->PrepareFiltered(
                sql, filters, along ? kFacetSets : std::vector<std::vector<GroupColumn>>{});
            if (loanBetween) {
              // Other books each time: loans read before the writing would be stale.
              const std::string loan =
                  "INSERT OR REPLACE INTO KASIDASI SELECT MS_BOOKID, 'U3', NULL FROM BOOKMAST"
                  " WHERE rowid % 89 = " +
                  std::to_string(++loanRound) + ";";
              Exec(indexed_, loan);
              Exec(scanned_, loan);
            }
            auto withoutIndex = db::OpenSqliteDatabase(scanned_, db::MatchMode::kFolded, 0);
            auto scanned = withoutIndex->Prepare(sql);
            const std::string name = where + " " + order + (loanBetween ? " (loan between)" : "") +
                                     (byRanks ? " by ranks" : " by codes") +
                                     (along ? ", counted along" : "");
            for (std::int64_t skip : {0, 25, 310}) {
              EXPECT_EQ(read(*filtered, skip), read(*scanned, skip)) << name << " from " << skip;
            }
            auto cursor = filtered->Execute({});
            EXPECT_EQ(cursor->CountRows(), scanned->Execute({})->CountRowsByStepping()) << name;
            const auto& byYear = kGroupings[0];
            const std::optional<Counts> counted = GroupedByIndex(*cursor, byYear);
            ASSERT_TRUE(counted.has_value()) << name << ": the filters were not decided";
            EXPECT_EQ(*counted, GroupedByReading(*withoutIndex, sql, byYear)) << name;
            const auto sets = cursor->CountGroupSets(kFacetSets);
            ASSERT_TRUE(sets.has_value()) << name;
            for (std::size_t s = 0; s < kFacetSets.size(); ++s) {
              EXPECT_EQ(CountsOf((*sets)[s], kFacetSets[s]),
                        GroupedByReading(*withoutIndex, sql, kFacetSets[s]))
                  << name << ", set " << s;
            }
          }
        }
      }
    }
  }
}

// A code beyond its column's values (a values table damaged) counts for nothing: a count
// says the index is damaged, and a filter is left to the statement, which gives the scan's
// rows. The locations' last code is held by rows of every chunk; the years' last 20 codes
// by rows of the dense first chunk alone, whose codes a broad word reads whole.
TEST_F(GroupCountsTest, ACodeBeyondItsColumnsValuesIsAnErrorNotACount) {
  struct Spoil {
    int col, codes;  // the column's last codes whose values go
    db::RowFilter filter;
    std::vector<const char*> words;  // searches that hold rows of those codes
  };
  const Spoil spoils[] = {
      {2, 1, kLocation, {"MS_SYOMEI LIKE '%a%'", "MS_SYOMEI LIKE '%aa%'"}},
      {1, 20, kSince, {"MS_SYOMEI LIKE '%a%'"}}};
  const std::string built = folder_ / "built.db";
  std::filesystem::copy_file(indexed_, built);
  for (const Spoil& spoil : spoils) {
    std::filesystem::copy_file(built, indexed_, std::filesystem::copy_options::overwrite_existing);
    const std::string col = std::to_string(spoil.col);
    Exec(indexed_, "DELETE FROM liraidx_book_code_values WHERE col = " + col + " AND code > " +
                       "(SELECT max(code) FROM liraidx_book_code_values WHERE col = " + col +
                       ") - " + std::to_string(spoil.codes));
    const GroupColumn column = spoil.filter.Columns.front();
    for (const char* word : spoil.words) {
      const std::string sql = std::string(kFacetHead) + word + " AND ( " +
                              spoil.filter.Condition + " )\r\n";
      auto withIndex = db::OpenSqliteDatabase(indexed_, db::MatchMode::kFolded, 0);
      auto withoutIndex = db::OpenSqliteDatabase(scanned_, db::MatchMode::kFolded, 0);
      auto filtered = withIndex->PrepareFiltered(sql, {spoil.filter}, {});
      EXPECT_EQ(filtered->Execute({})->CountRows(),
                withoutIndex->Prepare(sql)->Execute({})->CountRowsByStepping())
          << word << " by " << column.Name;
      EXPECT_THROW(withIndex->Prepare(std::string(kFacetHead) + word + "\r\n")
                       ->Execute({})
                       ->CountGroups({column}),
                   db::DriverError)
          << word << " by " << column.Name;
    }
  }
}

namespace {

std::string CodesReport(const std::string& path) {
  std::ostringstream report;
  tools::SearchIndexBuilder(path).Check(report);
  return report.str();
}

// What `check` reports of the codes alone.
std::string CodesDifferences(const std::string& path) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  std::string report;
  tools::CheckBookCodes(db, "BOOKMAST", tools::DefaultBookCodes(),
                        [&](const std::string& line) { report += line + "\n"; });
  sqlite3_close(db);
  return report;
}

}  // namespace

// The codes of the books, written by a build or added by a refresh to an index built
// without them or with the codes a record a chunk, count and filter as the ranks do,
// after rows are written and folded too; an index without them counts by the ranks.
TEST_F(GroupCountsTest, CodesOfTheBooksCountAsTheScanAfterEveryWay) {
  const std::string refreshed =
      " UPDATE liraidx_meta SET value = (SELECT schema_version FROM pragma_schema_version)"
      " WHERE key = 'schema_version'";
  struct Way {
    const char* what;
    bool buildWithCodes;
    std::string before;     // what makes the index one of an earlier program, refreshed
    const char* codesLine;  // what `check` says of them
  };
  const Way ways[] = {
      {"built with the codes", true, "",
       "codes of the books (MS_SEIKYU:1,MS_SYUNEN,MS_SYOZAI,MS_TMARK:1,MS_TFMSUU:1,MS_KKUBUN:1): "
       "0 differing"},
      {"built without, counted by the ranks", false, "", nullptr},
      {"built without, added by a refresh", false,
       "DELETE FROM liraidx_meta WHERE key = 'book_code_stripes';"
       " DROP TABLE liraidx_book_code_stripes; DROP TABLE liraidx_book_code_values;" +
           refreshed,
       "codes of the books (MS_SEIKYU:1,MS_SYUNEN,MS_SYOZAI,MS_TMARK:1,MS_TFMSUU:1,MS_KKUBUN:1): "
       "0 differing"},
      {"codes a record a chunk, written anew as stripes by a refresh", true,
       "DELETE FROM liraidx_meta WHERE key = 'book_code_stripes';"
       " DROP TABLE liraidx_book_code_stripes;"
       " CREATE TABLE liraidx_book_codes (chunk INTEGER PRIMARY KEY, data BLOB NOT NULL);"
       " INSERT INTO liraidx_book_codes VALUES (0, zeroblob(8));"
       " INSERT INTO liraidx_meta VALUES ('book_codes', 'MS_SYUNEN,MS_SYOZAI');" +
           refreshed,
       "codes of the books (MS_SYUNEN,MS_SYOZAI): 0 differing"},
  };
  // Rows written after the build, fewer than a refresh builds anew for: new values (a class, a
  // year, a location no book had), a book deleted, books added in a new chunk of rowids, a location
  // emptied.
  const std::string writes =
      "UPDATE BOOKMAST SET MS_SEIKYU = 'Q' || MS_SEIKYU, MS_SYUNEN = 2099 WHERE rowid % 29 = 2;"
      "UPDATE BOOKMAST SET MS_SYOZAI = 9, MS_TMARK = 'y' WHERE rowid % 31 = 4;"
      "UPDATE BOOKMAST SET MS_SYOZAI = NULL WHERE rowid % 37 = 5;"
      "DELETE FROM BOOKMAST WHERE rowid % 41 = 6;"
      "INSERT INTO BOOKMAST (rowid, MS_BOOKID, MS_SYOMEI, MS_SEIKYU, MS_SYUNEN) VALUES"
      " (700001, 'N1', 'ab', '5', 1999), (700002, 'N2', 'ca', '', 2100);";
  const std::string fixture = folder_ / "fixture.db";
  std::filesystem::copy_file(scanned_, fixture);
  const std::string scannedFixture = folder_ / "scanned-fixture.db";
  std::filesystem::copy_file(scanned_, scannedFixture);
  for (const Way& way : ways) {
    std::filesystem::copy_file(fixture, indexed_,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(scannedFixture, scanned_,
                               std::filesystem::copy_options::overwrite_existing);
    tools::IndexTarget target;
    target.orderColumns = {"MS_SEIKYU", "MS_SYUNEN", "MS_SYOZAI",
                           "MS_KKUBUN", "MS_TMARK",  "MS_TFMSUU"};
    if (!way.buildWithCodes) target.bookCodes.clear();
    tools::SearchIndexBuilder(indexed_).Build(target, nullptr);
    if (!way.before.empty()) {
      Exec(indexed_, way.before);
      // The codes of the earlier program are not read: the counts come from the ranks.
      EXPECT_EQ(ExpectSameAsReading("MS_SYOMEI LIKE '%a%'"), static_cast<int>(kGroupings.size()))
          << way.what << ", before the refresh";
      tools::SearchIndexBuilder(indexed_).Refresh(nullptr);
      EXPECT_EQ(FirstValue(indexed_, "SELECT count(*) FROM sqlite_master WHERE name ="
                                     " 'liraidx_book_codes'")
                    .value_or(""),
                "0")
          << way.what;
      EXPECT_EQ(FirstValue(indexed_, "SELECT count(*) FROM liraidx_meta WHERE key = 'book_codes'")
                    .value_or(""),
                "0")
          << way.what;
    }
    if (way.codesLine) {
      // The first chunk's years take two bytes a code, the other stripes one.
      EXPECT_EQ(FirstValue(indexed_, "SELECT count(DISTINCT length(data)) FROM"
                                     " liraidx_book_code_stripes")
                    .value_or(""),
                "2")
          << way.what;
    }
    for (bool written : {false, true}) {
      if (written) {
        Exec(indexed_, writes);
        Exec(scanned_, writes);
        tools::SearchIndexBuilder(indexed_).Refresh(nullptr);
      }
      const std::string name = std::string(way.what) + (written ? ", rows written" : "");
      for (const char* condition : {"MS_SYOMEI LIKE '%a%'", "MS_SYOMEI LIKE '%b%'"}) {
        EXPECT_EQ(ExpectSameAsReading(condition), static_cast<int>(kGroupings.size()))
            << name << ": " << condition;
      }
      const std::string report = CodesReport(indexed_);
      EXPECT_EQ(report.find("codes of the books") != std::string::npos, way.codesLine != nullptr)
          << name << "\n"
          << report;
      if (way.codesLine) {
        EXPECT_NE(report.find(way.codesLine), std::string::npos) << name << "\n" << report;
      }
    }
  }
}

// Codes that stand for other values are what the counts read, and `check` names them:
// a value changed, a book's record emptied, a record kept for a rowid no book has.
TEST_F(GroupCountsTest, SpoiledCodesAreCountedAndReported) {
  struct Spoil {
    const char* what;
    std::string sql;
    std::string lineEnd;  // how every line reported ends
    bool oneLine;
  };
  const Spoil spoils[] = {
      {"a value", "UPDATE liraidx_book_code_values SET value = 1800 WHERE col = 1 AND code = 2",
       ": the codes of MS_SYUNEN stand for other values", false},
      {"a code emptied",
       "UPDATE liraidx_book_code_stripes SET data = substr(data, 1, 1) || zeroblob(1) ||"
       " substr(data, 3) WHERE stripe = 0",
       "book row 1: the codes of MS_SEIKYU stand for other values", true},
      {"a record without a book",
       "DELETE FROM BOOKMAST WHERE rowid = 1; DELETE FROM liraidx_pending",
       "codes kept for row 1, which no book has", true},
  };
  const std::string built = folder_ / "built.db";
  std::filesystem::copy_file(indexed_, built);
  for (const Spoil& spoil : spoils) {
    std::filesystem::copy_file(built, indexed_, std::filesystem::copy_options::overwrite_existing);
    Exec(indexed_, spoil.sql);
    std::istringstream report(CodesDifferences(indexed_));
    int lines = 0;
    for (std::string line; std::getline(report, line); ++lines) {
      EXPECT_TRUE(line.ends_with(spoil.lineEnd)) << spoil.what << ": " << line;
    }
    EXPECT_TRUE(spoil.oneLine ? lines == 1 : lines > 0) << spoil.what << ": " << lines;
    EXPECT_EQ(CodesReport(indexed_).find("MS_KKUBUN:1): 0 differing"), std::string::npos)
        << spoil.what;
  }
  // The spoiled value is counted: the year groups differ from the scan's.
  std::filesystem::copy_file(built, indexed_, std::filesystem::copy_options::overwrite_existing);
  Exec(indexed_, spoils[0].sql);
  ExpectSpoiledCountsDiffer(kGroupings[0], "book codes spoiled");
}

namespace {

std::string MetaOf(const std::string& path, const std::string& key) {
  return FirstValue(path, "SELECT value FROM liraidx_meta WHERE key = '" + key + "'")
      .value_or("(none)");
}

}  // namespace

// A column of more values than a code holds is left out of the codes, by the build and
// by the refresh that meets its value too many; the other columns stay coded and agree
// with the rows.
TEST(BookCodesTest, AColumnOfMoreValuesThanCodesIsLeftOut) {
  test_support::TempDir folder{"book-codes."};
  const std::string path = folder / "catalog.db";
  Exec(path, std::string(kCatalogSchema) +
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 65534)"
                 " INSERT INTO BOOKMAST (rowid, MS_BOOKID, MS_SYOMEI, MS_SEIKYU, MS_SYUNEN,"
                 " MS_SYOZAI) SELECT i, 'B' || i, 'a', 'S' || i, i % 50, i % 3 FROM n;");
  tools::IndexTarget target;
  target.bookCodes = {{"MS_SEIKYU", 0}, {"MS_SYUNEN", 0}, {"MS_SYOZAI", 0}};
  tools::SearchIndexBuilder(path).Build(target, nullptr);
  EXPECT_EQ(MetaOf(path, db::searchindex::kBookCodesSetting), "MS_SEIKYU,MS_SYUNEN,MS_SYOZAI");
  struct Step {
    const char* rows;
    const char* coded;  // after the refresh
  };
  const Step steps[] = {
      {"(70001, 'N1', 'a', 'new 1', 1, 2)", "MS_SEIKYU,MS_SYUNEN,MS_SYOZAI"},  // the last code
      {"(70002, 'N2', 'a', 'new 2', 2, 7)", "MS_SYUNEN,MS_SYOZAI"},
  };
  for (const Step& step : steps) {
    Exec(path, std::string("INSERT INTO BOOKMAST (rowid, MS_BOOKID, MS_SYOMEI, MS_SEIKYU,"
                           " MS_SYUNEN, MS_SYOZAI) VALUES ") +
                   step.rows);
    tools::SearchIndexBuilder(path).Refresh(nullptr);
    EXPECT_EQ(MetaOf(path, db::searchindex::kBookCodesSetting), step.coded) << step.rows;
    std::ostringstream report;
    EXPECT_TRUE(tools::SearchIndexBuilder(path).Check(report)) << report.str();
    EXPECT_NE(
        report.str().find(std::string("codes of the books (") + step.coded + "): 0 differing"),
        std::string::npos)
        << report.str();
  }
  // Built anew, the column is left out at once.
  Exec(path,
       "INSERT INTO BOOKMAST (rowid, MS_BOOKID, MS_SYOMEI, MS_SEIKYU) VALUES"
       " (70003, 'N3', 'a', 'new 3')");
  tools::SearchIndexBuilder(path).Build(target, nullptr);
  EXPECT_EQ(MetaOf(path, db::searchindex::kBookCodesSetting), "MS_SYUNEN,MS_SYOZAI");
}
