#include "tests/db/test_databases.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace dbtest {

namespace {

// Same statements for both databases; texts are Shift_JIS bytes.
const char* const kSchema[] = {
    ("CREATE TABLE BOOKS (MS_BOOKID INTEGER, MS_SYOMEI VARCHAR(100), "
     "MS_KINGAKU DOUBLE PRECISION, MS_NOTE VARCHAR(100))"),
    "INSERT INTO BOOKS VALUES (1, '\x95\x5c\x8cv\x8eZ\x83\x5c\x83t\x83g', 1500.5, NULL)",
    "INSERT INTO BOOKS VALUES (2, '\x82\xed\x82\xaa\x82\xcd\x82\xa2', 0.1, 'x')",
    "INSERT INTO BOOKS VALUES (3, 'ABC', 1e20, '')",
    "CREATE TABLE NOTES (K INTEGER, V VARCHAR(100))",
};

}  // namespace

std::string PostgresConnInfo() {
  const char* file = std::getenv("DBENGINE_TEST_PG");
  if (!file || !std::filesystem::exists(file)) return {};
  std::string info = test_support::ReadWholeFile(file);
  while (!info.empty() && (info.back() == '\n' || info.back() == '\r')) info.pop_back();
  return info;
}

namespace {

std::string SchemaName() { return "dbtest_" + std::to_string(getpid()); }

void ExecPostgres(const std::string& sql) {
  PGconn* connection = PQconnectdb(PostgresConnInfo().c_str());
  ASSERT_EQ(PQstatus(connection), CONNECTION_OK) << PQerrorMessage(connection);
  PQsetClientEncoding(connection, "SJIS");
  PGresult* result = PQexec(connection, sql.c_str());
  EXPECT_EQ(PQresultStatus(result), PGRES_COMMAND_OK) << PQresultErrorMessage(result);
  PQclear(result);
  PQfinish(connection);
}

class TestDatabases : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string conf =
        "[lite]\nDRIVER=SQLITE\nPATH=lite.db\n"
        "[lite_exact]\nDRIVER=SQLITE\nPATH=lite.db\nMATCH=EXACT\n"
        "[lite_limited]\nDRIVER=SQLITE\nPATH=lite.db\nTIME_LIMIT=1\n"
        "[lite_unlimited]\nDRIVER=SQLITE\nPATH=lite.db\nTIME_LIMIT=0\n"
        "[pg_silent]\nDRIVER=POSTGRES\nCONNINFO=host=" +
        SilentServerFolder() + " port=" + std::to_string(kSilentServerPort) +
        " user=nobody\nTIME_LIMIT=1\n";
    std::string schemaSql;
    for (const char* statement : kSchema) {
      ExecSqlite(statement);
      schemaSql += std::string(statement) + ";\n";
    }
    if (PostgresAvailable()) {
      // The index of the best-match order's ties, which the driver looks for before it
      // reads that order tier by tier (it matters only to pg_ranked, which folds).
      ExecPostgres("CREATE SCHEMA " + SchemaName() + ";\nSET search_path = " + SchemaName() +
                   ";\n" + schemaSql +
                   "CREATE INDEX liraweb_ranking_order ON BOOKS (MS_BOOKID);\n");
      for (const std::string alias :
           {"pg", "pg_unlimited", "pg_limited", "pg_request", "pg_ranked"}) {
        conf += "[" + alias + "]\nDRIVER=POSTGRES\nCONNINFO=" + PostgresConnInfo() +
                " options='-csearch_path=" + SchemaName() +
                "' application_name=" + PostgresApplicationName() + "\n" +
                (alias == "pg"             ? ""
                 : alias == "pg_unlimited" ? "TIME_LIMIT=0\n"
                 : alias == "pg_ranked"    ? "MATCH=FOLDED\n"
                                           : "TIME_LIMIT=1\n");
      }
    }
    setenv("DBENGINE_CONFIG", WriteFile("dbengine.conf", conf).c_str(), 1);
  }

  void TearDown() override {
    if (PostgresAvailable()) ExecPostgres("DROP SCHEMA " + SchemaName() + " CASCADE");
  }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new TestDatabases);

}  // namespace

const std::string& TempFolder() {
  // Made at the first use, so that only listing the tests makes none; removed at exit.
  static const test_support::TempDir folder("dbtest.");
  return folder.Path();
}

bool PostgresAvailable() { return !PostgresConnInfo().empty(); }

std::string PostgresApplicationName() { return SchemaName(); }

std::string SilentServerFolder() { return TempFolder() + "/silent"; }

void ExecSqlite(const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((TempFolder() + "/lite.db").c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
      << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

std::string WriteFile(const std::string& name, const std::string& bytes) {
  const std::string path = TempFolder() + "/" + name;
  test_support::WriteBytes(path, bytes);
  return path;
}

}  // namespace dbtest
