#include "tools/catalog_load.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/tools_test_support.h"
#include "tools/catalog_error.h"
#include "tools/catalog_record.h"
#include "tools/postgres_catalog_store.h"
#include "tools/sqlite_catalog_store.h"

using namespace tools;

namespace {

using test_support::TempDir;
using test_support::WriteBytes;
using toolstest::Hex;
using toolstest::ReadFile;
using toolstest::SourcePath;

const std::string kSample = SourcePath("site/catalogue/books.tsv");

// A read-only look into a loaded SQLite catalogue.
class Catalogue {
 public:
  explicit Catalogue(const std::string& path) {
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  }
  ~Catalogue() { sqlite3_close(db_); }

  // Runs sql with text parameters and answers every row, each column's bytes.
  std::vector<std::vector<std::string>> Rows(const std::string& sql,
                                             const std::vector<std::string>& params = {},
                                             std::vector<std::string>* columnNames = nullptr) {
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db_) << "\n"
        << sql;
    std::vector<std::vector<std::string>> rows;
    if (statement == nullptr) return rows;
    for (std::size_t i = 0; i < params.size(); ++i)
      sqlite3_bind_text(statement, static_cast<int>(i + 1), params[i].c_str(), -1,
                        SQLITE_TRANSIENT);
    int columns = sqlite3_column_count(statement);
    if (columnNames != nullptr)
      for (int c = 0; c < columns; ++c) columnNames->push_back(sqlite3_column_name(statement, c));
    while (sqlite3_step(statement) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int c = 0; c < columns; ++c) {
        const char* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
        row.emplace_back(text ? std::string(text, sqlite3_column_bytes(statement, c)) : "");
      }
      rows.push_back(row);
    }
    sqlite3_finalize(statement);
    return rows;
  }

  std::string Value(const std::string& sql, const std::vector<std::string>& params = {}) {
    auto rows = Rows(sql, params);
    return rows.empty() ? "<no row>" : rows[0][0];
  }

 private:
  sqlite3* db_ = nullptr;
};

LoadCounts LoadSqlite(const std::string& db, const std::vector<std::string>& files,
                      std::ostream& diagnostics, bool replace = false) {
  SqliteCatalogStore store(db);
  LoadOptions options;
  options.files = files;
  options.replace = replace;
  return LoadCatalogue(store, options, diagnostics);
}

// The lines of an SQL file of the installation, as the program splits them.
std::vector<std::string> SqlLines(const std::string& name) {
  std::istringstream text(ReadFile(SourcePath("site/sql/" + name)));
  std::vector<std::string> lines;
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  return lines;
}

std::string JoinCrLf(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// The loan state the result list gives a row of Find.sql, with KINTAI 3.
int LoanState(const std::map<std::string, std::string>& row) {
  if (!row.at("KA_USERID").empty()) return 1;
  if (row.at("MS_TMARK").empty() && !row.at("MS_TFMSUU").empty()) return 2;
  return row.at("MS_KKUBUN").substr(0, 1) == "3" ? 2 : 0;
}

class SampleCatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ostringstream diagnostics;
    counts_ = LoadSqlite(db_, {kSample}, diagnostics);
    EXPECT_EQ(diagnostics.str(), "");
  }

  TempDir folder_{"catalog-tools."};
  std::string db_ = folder_ / "catalog.db";
  LoadCounts counts_;
};

TEST_F(SampleCatalogueTest, LoadsEveryBookLoanAndLocation) {
  EXPECT_EQ(counts_.books, 198u);
  EXPECT_EQ(counts_.loans, 27u);
  EXPECT_EQ(counts_.locations, 6u);
  Catalogue catalogue(db_);
  EXPECT_EQ(catalogue.Value("SELECT COUNT(*) FROM BOOKMAST"), "198");
  EXPECT_EQ(catalogue.Value("SELECT COUNT(*) FROM KASIDASI"), "27");
  EXPECT_EQ(catalogue.Value("SELECT COUNT(*) FROM BOOKMAST WHERE MS_SYOZAI IS NULL"), "0");
}

TEST_F(SampleCatalogueTest, TextsAreStoredAsShiftJisBytes) {
  struct Case {
    const char* bookId;
    const char* column;
    const char* hex;
  } cases[] = {
      {"100003", "MS_SYOMEI", "82B182B182EB"},   // こころ
      {"100003", "MS_SYOKANA", "83528352838D"},  // ココロ
      // ソロモンの偽証 第1部 事件: ソ has the trail byte 5C
      {"100065", "MS_SYOMEI", "835C838D8382839382CC8B558FD82091E6319594208E968C8F"},
      {"100056", "MS_CHOSYA", "938C96EC8C5C8CE1"},  // 東野圭吾: 圭 ends in 5C
      {"100056", "MS_ISBN", "3937382D342D31362D3731313031322D33"},
  };
  Catalogue catalogue(db_);
  for (const Case& c : cases) {
    std::string sql = std::string("SELECT ") + c.column + " FROM BOOKMAST WHERE MS_BOOKID = ?";
    EXPECT_EQ(Hex(catalogue.Value(sql, {c.bookId})), c.hex) << c.bookId << " " << c.column;
  }
}

TEST_F(SampleCatalogueTest, FindSqlRowsSpreadOverTheThreeLoanStates) {
  Catalogue catalogue(db_);
  std::vector<std::string> names;
  auto rows = catalogue.Rows(JoinCrLf(SqlLines("Find.sql")), {}, &names);
  ASSERT_EQ(rows.size(), 198u);
  std::map<int, int> states;
  for (const auto& values : rows) {
    std::map<std::string, std::string> row;
    for (std::size_t i = 0; i < names.size(); ++i) row[names[i]] = values[i];
    ++states[LoanState(row)];
  }
  EXPECT_EQ(states[0], 159);
  EXPECT_EQ(states[1], 27);
  EXPECT_EQ(states[2], 12);
  // Both rules for "not for loan" occur: attachments kept in (英語耳, キクタン Basic) and
  // the reference class; a book with attachments allowed out stays available.
  EXPECT_EQ(catalogue.Value("SELECT COUNT(*) FROM BOOKMAST WHERE MS_TMARK = '' AND "
                            "MS_TFMSUU IS NOT NULL"),
            "2");
  EXPECT_EQ(catalogue.Value("SELECT COUNT(*) FROM BOOKMAST WHERE MS_KKUBUN = '3'"), "10");
  EXPECT_EQ(catalogue.Value("SELECT COUNT(*) FROM BOOKMAST WHERE MS_TMARK <> ''"), "1");
}

TEST_F(SampleCatalogueTest, FindSqlTakesTheWhereAndOrderLinesOfASearch) {
  std::vector<std::string> lines = SqlLines("Find.sql");
  for (const char* line : {"WHERE", "( MS_SYOMEI LIKE '%%'", "OR", "MS_SYOKANA LIKE '%%' )", "AND",
                           "MS_ISBN LIKE '%4-10-1010%'", "ORDER BY MS_SYOKANA DESC"})
    lines.push_back(line);
  Catalogue catalogue(db_);
  std::vector<std::string> names;
  auto rows = catalogue.Rows(JoinCrLf(lines), {}, &names);
  std::vector<std::string> expectedNames = {
      "MS_BOOKID", "MS_SYOMEI", "MS_SYOKANA", "MS_CHOSYA", "MS_CHOKANA", "MS_SYUPAN",
      "MS_ISBN",   "MS_KENMEI", "MS_SEIKYU",  "MS_SYUNEN", "MS_TMARK",   "MS_TFMSUU",
      "MS_KKUBUN", "SY_SYOZAI", "KA_USERID"};
  EXPECT_EQ(names, expectedNames);
  ASSERT_EQ(rows.size(), 3u);       // 吾輩は猫である, 坊っちゃん, こころ
  EXPECT_EQ(rows[0][0], "100001");  // ワガハイ sorts last in Shift_JIS, first descending
  EXPECT_EQ(rows[2][0], "100003");  // ココロ
}

TEST_F(SampleCatalogueTest, PropSqlFindsOneBookByItsBookIdMarker) {
  std::string text = JoinCrLf(SqlLines("Prop.sql"));
  std::size_t marker = text.find(":BOOKID");
  ASSERT_NE(marker, std::string::npos);
  EXPECT_EQ(text.find(':', marker + 1), std::string::npos) << "one marker only";
  EXPECT_EQ(text.find(':'), marker);
  text.replace(marker, 7, "?");
  Catalogue catalogue(db_);
  std::vector<std::string> names;
  auto rows = catalogue.Rows(text, {"100163"}, &names);
  ASSERT_EQ(rows.size(), 1u);
  std::map<std::string, std::string> row;
  for (std::size_t i = 0; i < names.size(); ++i) row[names[i]] = rows[0][i];
  EXPECT_EQ(row["MS_KINGAKU"], "1800");
  EXPECT_EQ(row["MS_SYUNEN"], "2023");
  EXPECT_EQ(row["MS_PAGE"], "250");
  EXPECT_EQ(row["MS_OOKISA"], "30cm");
  EXPECT_FALSE(row["MS_NAIYO"].empty());
  // 2階 参考図書コーナー
  EXPECT_EQ(Hex(row["SY_SYOZAI"]), "328A4B208E518D6C907D8F918352815B8369815B");
  EXPECT_TRUE(catalogue.Rows(text, {"no-such-book"}).empty());
}

TEST_F(SampleCatalogueTest, ShiftJisFileLoadsTheSameBytesAsUtf8) {
  TempDir other("catalog-tools.");
  std::string sjisFile = other / "books-sjis.tsv";
  WriteBytes(sjisFile, Utf8ToShiftJis(ReadFile(kSample)));
  std::string sjisDb = other / "catalog.db";
  std::ostringstream diagnostics;
  EXPECT_EQ(LoadSqlite(sjisDb, {sjisFile}, diagnostics).books, 198u);
  const std::string dump =
      "SELECT * FROM BOOKMAST LEFT JOIN KASIDASI ON KA_BOOKID = MS_BOOKID "
      "LEFT JOIN SYOZAI ON SY_CODE = MS_SYOZAI ORDER BY MS_BOOKID";
  EXPECT_EQ(Catalogue(sjisDb).Rows(dump), Catalogue(db_).Rows(dump));
}

TEST_F(SampleCatalogueTest, LoadingAgainNeedsReplace) {
  std::ostringstream diagnostics;
  EXPECT_THROW(LoadSqlite(db_, {kSample}, diagnostics), ECatalogError);
  EXPECT_NE(diagnostics.str().find("books.tsv:5: " + db_ + ": cannot store: UNIQUE"),
            std::string::npos)
      << diagnostics.str();
  EXPECT_EQ(Catalogue(db_).Value("SELECT COUNT(*) FROM BOOKMAST"), "198");

  EXPECT_EQ(LoadSqlite(db_, {kSample}, diagnostics, /*replace=*/true).books, 198u);
  EXPECT_EQ(Catalogue(db_).Value("SELECT COUNT(*) FROM SYOZAI"), "6");
}

// A small file with faults on known lines.
std::string BadFile(const TempDir& folder) {
  std::string header = ReadFile(kSample);
  header = header.substr(header.find("book_id"));
  header = header.substr(0, header.find('\n') + 1);
  std::string good = "1\t\xE7\x8C\xAB\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\n";  // title 猫
  const std::string path = folder / "bad.tsv";
  WriteBytes(path, "# comment\n" + header + good + "2\tshort line\n" +               // line 4
                       "3\tt\t\t\t\t\t4-10-101013-8\t\t\t\t\t\t\t\t\t\t\t\t\t\n" +   // line 5
                       "\n" +                                                        // line 6
                       "1\tagain\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\n" +            // line 7
                       "4\t\xE6\x9C\xA8\t\t\t\t\t\t\t\tabc\t\t\t\t\t\t\t\t\t\t\n");  // line 8
  return path;
}

TEST(CatalogLoadTest, EveryBadLineIsReportedAndNothingIsStored) {
  TempDir folder("catalog-tools.");
  std::string file = BadFile(folder);
  std::string db = folder / "catalog.db";
  std::ostringstream diagnostics;
  try {
    LoadSqlite(db, {file}, diagnostics);
    FAIL() << "the load succeeded";
  } catch (const ECatalogError& e) {
    EXPECT_EQ(e.Message(), "4 bad records; nothing was loaded into " + db);
  }
  EXPECT_EQ(diagnostics.str(), file + ":4: expected 20 tab-separated columns, found 2\n" + file +
                                   ":5: isbn: '4-10-101013-8': the check digit should be 7\n" +
                                   file + ":7: book_id 1 is already used on " + file + ":3\n" +
                                   file + ":8: price: 'abc' is not a whole number\n");
  EXPECT_EQ(Catalogue(db).Value("SELECT COUNT(*) FROM sqlite_master WHERE name = 'BOOKMAST'"), "0");
}

TEST(CatalogLoadTest, WrongHeaderAndBadCharactersNameTheirLines) {
  TempDir folder("catalog-tools.");
  struct Case {
    const char* bytes;
    const char* message;
  } cases[] = {
      {"id\ttitle\n", ":1: the header line must name the columns book_id"},
      {"", ":0: the file has no header line"},
      // A UTF-8 line with a character that Shift_JIS cannot hold (emoji).
      {"\n\xF0\x9F\x98\x80\n", ":2: a character that Shift_JIS (CP932) cannot hold"},
  };
  for (const Case& c : cases) {
    // The third case needs a good header before its bad line.
    std::string bytes = c.bytes[0] == '\n' ? HeaderLine() + c.bytes : c.bytes;
    std::string file = folder / "case.tsv";
    WriteBytes(file, bytes);
    std::ostringstream diagnostics;
    EXPECT_THROW(LoadSqlite(folder / "catalog.db", {file}, diagnostics), ECatalogError);
    EXPECT_NE(diagnostics.str().find(file + c.message), std::string::npos) << diagnostics.str();
  }
}

TEST(CatalogLoaderProgramTest, ExitCodesAndMessages) {
  TempDir folder("catalog-tools.");
  std::string loader = CATALOG_LOADER;
  std::string db = folder / "catalog.db";
  std::string bad = BadFile(folder);

  toolstest::ToolRun run = toolstest::RunTool(loader + " --sqlite " + db + " " + bad);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find(bad + ":4: expected 20"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("catalog_loader: 4 bad records"), std::string::npos) << run.output;

  run = toolstest::RunTool(loader + " " + bad);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.output.find("exactly one of --sqlite and --postgres"), std::string::npos);

  run = toolstest::RunTool(loader + " --no-progress --sqlite " + db + " " + kSample);
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output, "loaded 198 books (27 lent out, 6 new shelf locations) into " + db + "\n");
}

TEST(CatalogLoadPostgresTest, SampleRoundTripsThroughClientEncodingSjis) {
  const char* conninfoFile = std::getenv("TOOLS_TEST_PG");
  if (conninfoFile == nullptr) GTEST_SKIP() << "no PostgreSQL test server";
  std::string conninfo = ReadFile(conninfoFile);
  while (!conninfo.empty() && conninfo.back() == '\n') conninfo.pop_back();

  {
    PostgresCatalogStore store(conninfo);
    LoadOptions options;
    options.files = {kSample};
    options.replace = true;
    std::ostringstream diagnostics;
    EXPECT_EQ(LoadCatalogue(store, options, diagnostics).books, 198u);
  }
  PGconn* conn = PQconnectdb(conninfo.c_str());
  ASSERT_EQ(PQstatus(conn), CONNECTION_OK);
  ASSERT_EQ(PQsetClientEncoding(conn, "SJIS"), 0);
  auto value = [&](const char* sql) {
    PGresult* result = PQexec(conn, sql);
    std::string text = PQntuples(result) > 0 ? PQgetvalue(result, 0, 0) : "<no row>";
    PQclear(result);
    return text;
  };
  EXPECT_EQ(value("SELECT COUNT(*) FROM BOOKMAST"), "198");
  EXPECT_EQ(value("SELECT COUNT(*) FROM KASIDASI"), "27");
  EXPECT_EQ(Hex(value("SELECT MS_SYOMEI FROM BOOKMAST WHERE MS_BOOKID = '100065'")),
            "835C838D8382839382CC8B558FD82091E6319594208E968C8F");
  EXPECT_EQ(Hex(value("SELECT SY_SYOZAI FROM BOOKMAST JOIN SYOZAI ON SY_CODE = MS_SYOZAI "
                      "WHERE MS_BOOKID = '100163'")),
            "328A4B208E518D6C907D8F918352815B8369815B");
  PQfinish(conn);
}

}  // namespace
