// What only the SQLite driver does: Shift_JIS-aware LIKE in its two modes, waiting for
// a writer, and opening a folder's catalog.db.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "db/database_error.h"
#include "db/query.h"
#include "matching/sjis_like.h"
#include "tests/db/test_databases.h"

using namespace db;

namespace {

// One word a row, ID 1 to 12.
const char* const kWords[] = {
    "\x82\xed\x82\xaa\x82\xcd\x82\xa2",  // 1 わがはい
    "\x83\x8f\x83K\x83n\x83\x43",        // 2 ワガハイ
    "\xdc\xb6\xde\xca\xb2",              // 3 ﾜｶﾞﾊｲ
    "\x95\x5c\x8e\xa6",                  // 4 表示
    "\x83\x5c",                          // 5 ソ
    "a",                                 // 6
    "\x82`",                             // 7 Ａ
    "10%",                               // 8
    "x_y",                               // 9
    "\x81Q",                             // 10 ＿
    "\\",                                // 11
    "\x81@",                             // 12 full-width blank
};

struct LikeCase {
  const char* pattern;
  std::vector<int> folded;
  std::vector<int> exact;
};

std::vector<int> MatchingIds(const char* alias, const char* pattern) {
  TQuery query("qMaster");
  query.SetDatabaseName(alias);
  query.SetSqlLines({"SELECT ID FROM WORDS WHERE W LIKE :P ORDER BY ID"});
  query.SetParamText("P", pattern);
  query.OpenQuery();
  std::vector<int> ids;
  for (; !query.AtEnd(); query.NextRow()) ids.push_back(std::stoi(query.FieldText("ID")));
  return ids;
}

TEST(SqliteLike, MatchesCharactersNeverTrailBytes) {
  std::string insert = "CREATE TABLE WORDS (ID INTEGER, W TEXT);";
  for (int i = 0; i < 12; ++i) {
    insert += "INSERT INTO WORDS VALUES (" + std::to_string(i + 1) + ", '" + kWords[i] + "');";
  }
  dbtest::ExecSqlite(insert);
  const LikeCase cases[] = {
      {"%\\%", {11}, {11}},  // 表 and ソ end in 0x5C and are no backslash
      {"%\x95\x5c%", {4}, {4}},
      {"_", {5, 6, 7, 10, 11, 12}, {5, 6, 7, 10, 11, 12}},
      {"%Q%", {}, {}},  // the trail byte of ＿
      {"%@%", {}, {}},  // the trail byte of the full-width blank
      {"% %", {12}, {}},
      {"\x82\xed\x82\xaa\x82\xcd\x82\xa2", {1, 2, 3}, {1}},
      {"\x83\x8f\x83K\x83n\x83"
       "C",
       {1, 2, 3},
       {2}},
      {"\xdc\xb6\xde\xca\xb2", {1, 2, 3}, {3}},
      {"\xdc_\xca%", {1, 2, 3}, {}},  // ｶﾞ is one character
      {"A", {6, 7}, {}},
      {"\x82`", {6, 7}, {7}},
      {"10%", {8}, {8}},
      {"x_y", {9}, {9}},
      {"%\x81Q%", {9, 10}, {10}},  // ＿ is text, folded to "_"
  };
  for (const LikeCase& c : cases) {
    EXPECT_EQ(MatchingIds("lite", c.pattern), c.folded) << "folded " << c.pattern;
    EXPECT_EQ(MatchingIds("lite_exact", c.pattern), c.exact) << "exact " << c.pattern;
  }
}

// The driver keeps a folded pattern for as long as SQLite keeps the pattern argument;
// a pattern taken from the rows themselves changes from row to row, and so must its
// folding. Every pair of words is compared with the matching of a fresh pattern.
TEST(SqliteLike, PatternThatChangesFromRowToRowIsFoldedAgain) {
  std::string insert =
      "DROP TABLE IF EXISTS LIKE_WORDS; CREATE TABLE LIKE_WORDS (ID INTEGER, W TEXT);";
  for (int i = 0; i < 12; ++i) {
    insert += "INSERT INTO LIKE_WORDS VALUES (" + std::to_string(i + 1) + ", '" + kWords[i] + "');";
  }
  dbtest::ExecSqlite(insert);
  for (const char* alias : {"lite", "lite_exact"}) {
    TQuery query("qMaster");
    query.SetDatabaseName(alias);
    query.SetSqlLines(
        {"SELECT T.ID AS T, P.ID AS P, T.W LIKE P.W AS M,",
         " T.W LIKE P.W ESCAPE '\\' AS E FROM LIKE_WORDS T, LIKE_WORDS P ORDER BY T.ID, P.ID"});
    query.OpenQuery();
    const auto mode = std::string(alias) == "lite" ? db::MatchMode::kFolded : db::MatchMode::kExact;
    int pairs = 0;
    for (; !query.AtEnd(); query.NextRow(), ++pairs) {
      const char* text = kWords[std::stoi(query.FieldText("T")) - 1];
      const char* pattern = kWords[std::stoi(query.FieldText("P")) - 1];
      EXPECT_EQ(query.FieldText("M"), matching::SjisLike(pattern, text, mode) ? "1" : "0")
          << alias << " " << text << " LIKE " << pattern;
      EXPECT_EQ(query.FieldText("E"), matching::SjisLike(pattern, text, mode, "\\") ? "1" : "0")
          << alias << " " << text << " LIKE " << pattern << " ESCAPE";
    }
    EXPECT_EQ(pairs, 144);
  }
}

TEST(SqliteLike, ThreeArgumentFormKeepsItsEscape) {
  TQuery query("qMaster");
  query.SetDatabaseName("lite");
  query.SetSqlLines({"SELECT COUNT(*) AS N FROM BOOKS WHERE 'x%' LIKE 'x!%' ESCAPE '!'",
                     " AND NOT ('xy' LIKE 'x!%' ESCAPE '!')"});
  query.OpenQuery();
  EXPECT_EQ(query.FieldText("N"), "3");
}

// Another process holding the write lock makes a reader wait, not fail.
TEST(SqliteDriver, ReaderWaitsForAWriter) {
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open((dbtest::TempFolder() + "/lite.db").c_str(), &writer), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(writer, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  std::thread release([writer] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sqlite3_exec(writer, "COMMIT", nullptr, nullptr, nullptr);
  });
  TQuery query("qMaster");
  query.SetDatabaseName("lite");
  query.SetSqlLines({"SELECT COUNT(*) AS N FROM BOOKS"});
  EXPECT_NO_THROW(query.OpenQuery());
  release.join();
  EXPECT_EQ(query.FieldText("N"), "3");
  query.CloseQuery();
  sqlite3_close(writer);
}

// The count belongs to the result that was opened: the database counts once, and rows
// written afterwards (here once the result has been read to its end and its read
// transaction is over) leave it as it was until the query is opened again.
TEST(SqliteDriver, RowCountIsTakenOncePerOpening) {
  dbtest::ExecSqlite("CREATE TABLE IF NOT EXISTS COUNTED (K INTEGER)");
  dbtest::ExecSqlite("DELETE FROM COUNTED");
  dbtest::ExecSqlite("INSERT INTO COUNTED VALUES (1), (2)");
  TQuery query("qMaster");
  query.SetDatabaseName("lite");
  query.SetSqlLines({"SELECT K FROM COUNTED"});
  query.OpenQuery();
  EXPECT_EQ(query.RowCount(), 2);
  while (!query.AtEnd()) query.NextRow();
  dbtest::ExecSqlite("INSERT INTO COUNTED VALUES (3)");
  EXPECT_EQ(query.RowCount(), 2);
  query.CloseQuery();
  query.OpenQuery();
  EXPECT_EQ(query.RowCount(), 3);
}

TEST(SqliteDriver, FolderNameOpensItsCatalog) {
  const std::string folder = dbtest::TempFolder() + "/site";
  std::filesystem::create_directory(folder);
  std::filesystem::copy_file(dbtest::TempFolder() + "/lite.db", folder + "/catalog.db");
  TQuery query("qMaster");
  query.SetDatabaseName(folder + "\\");  // the program's own separator
  query.SetSqlLines({"SELECT MS_SYOMEI FROM BOOKS WHERE MS_BOOKID = 3"});
  query.OpenQuery();
  EXPECT_EQ(query.FieldText("MS_SYOMEI"), "ABC");
}

TEST(Engine, UnknownAliasIsAnEngineError) {
  TQuery query("qMaster");
  query.SetDatabaseName("nosuch");
  query.SetSqlLines({"SELECT 1"});
  try {
    query.OpenQuery();
    FAIL() << "opened";
  } catch (const EDBEngineError& error) {
    EXPECT_EQ(
        error.Message(),
        "\x83"
        "f\x81[\x83^\x83x\x81[\x83X\x95\xca\x96\xbc\x82\xaa\x8c\xa9\x82\xc2\x82\xa9\x82"
        "\xe8\x82\xdc\x82\xb9\x82\xf1\r\n"
        "\x95\xca\x96\xbc 'nosuch' \x82\xcd\x92\xe8\x8b`\x82\xb3\x82\xea\x82\xc4\x82\xa8\x82\xe7"
        "\x82\xb8, "
        "\x83t\x83H\x83\x8b\x83_\x82\xc5\x82\xe0\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1");
    ASSERT_EQ(error.Errors().size(), 1u);
    EXPECT_EQ(error.Errors()[0].ErrorCode, 0x2501);
  }
}

}  // namespace
