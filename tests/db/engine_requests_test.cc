// A long-lived process keeps its databases from request to request: every request must
// still answer as the first request of a new process would, whatever the request before
// did and whatever changed on disk or on the server in between.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "db/database_error.h"
#include "db/plain_query.h"
#include "db/query.h"
#include "platform/request_end.h"
#include "tests/db/test_databases.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

using db::EDBEngineError;
using db::ENoResultSet;
using db::TQuery;

// Ends the request as the FastCGI server does after each one.
void EndRequest() { platform::RunRequestEndHooks(); }

// The column V of the first row of sql on the alias, run as a request runs it.
std::string FirstValue(const std::string& alias, const std::string& sql) {
  TQuery query("qMaster");
  query.SetDatabaseName(alias);
  query.SetSqlLines({sql});
  query.OpenQuery();
  return query.FieldText("V");
}

// The same without the engine: SQLite opened on the file for this one statement.
std::string SqliteValue(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  std::string value;
  sqlite3_exec(
      db, sql.c_str(),
      [](void* out, int, char** values, char**) {
        *static_cast<std::string*>(out) = values[0] ? values[0] : "";
        return 0;
      },
      &value, nullptr);
  sqlite3_close(db);
  return value;
}

// The one statement run as the request's, which gives no rows.
void RunWithoutRows(const std::string& alias, const std::string& sql) {
  TQuery query("qMaster");
  query.SetDatabaseName(alias);
  query.SetSqlLines({sql});
  EXPECT_THROW(query.OpenQuery(), ENoResultSet) << sql;
}

// Each case names its own dbengine.conf, and puts back the one of the test process.
class EngineRequests : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::MarkServingManyRequests();
    outerConfig_ = std::getenv("DBENGINE_CONFIG");
  }
  void TearDown() override {
    EndRequest();
    setenv("DBENGINE_CONFIG", outerConfig_.c_str(), 1);
  }
  void UseConfig(const std::string& text) {
    test_support::WriteBytes(folder_ / "dbengine.conf", text);
    setenv("DBENGINE_CONFIG", (folder_ / "dbengine.conf").c_str(), 1);
  }

  test_support::TempDir folder_{"dbrequests."};
  std::string outerConfig_;
};

TEST_F(EngineRequests, EachRequestSeesTheCatalogueFileAndAliasOfItsMoment) {
  const std::string first = folder_ / "first.db", second = folder_ / "second.db";
  SqliteValue(first, "CREATE TABLE T (V INTEGER); INSERT INTO T VALUES (1)");
  SqliteValue(second, "CREATE TABLE T (V INTEGER); INSERT INTO T VALUES (20)");
  std::string target = first;  // the file the alias names now
  auto aliasOn = [&](const std::string& path) {
    UseConfig("[books]\nDRIVER=SQLITE\nPATH=" + path + "\n");
    target = path;
  };
  aliasOn(first);
  const struct {
    const char* name;
    std::function<void()> change;
  } steps[] = {
      {"nothing changed", [] {}},
      {"a row written by another program", [&] { SqliteValue(first, "UPDATE T SET V = V + 1"); }},
      {"the file replaced by another",
       [&] {
         const std::string fresh = folder_ / "fresh.db";
         SqliteValue(fresh, "CREATE TABLE T (V INTEGER); INSERT INTO T VALUES (300)");
         std::rename(fresh.c_str(), first.c_str());
       }},
      {"nothing changed again", [] {}},
      {"the alias moved to another file", [&] { aliasOn(second); }},
      {"the alias moved back", [&] { aliasOn(first); }},
  };
  for (const auto& step : steps) {
    step.change();
    EXPECT_EQ(FirstValue("books", "SELECT V AS V FROM T"), SqliteValue(target, "SELECT V FROM T"))
        << step.name;
    EndRequest();
  }
}

TEST_F(EngineRequests, AConfigurationBrokenBetweenRequestsFailsAsInANewProcess) {
  const std::string file = folder_ / "books.db";
  SqliteValue(file, "CREATE TABLE T (V INTEGER); INSERT INTO T VALUES (7)");
  UseConfig("[books]\nDRIVER=SQLITE\nPATH=" + file + "\n");
  EXPECT_EQ(FirstValue("books", "SELECT V AS V FROM T"), "7");
  EndRequest();
  UseConfig("[books]\nDRIVER=SQLITE\n");
  EXPECT_THROW(FirstValue("books", "SELECT V AS V FROM T"), EDBEngineError);
  EndRequest();
  UseConfig("[books]\nDRIVER=SQLITE\nPATH=" + file + "\n");
  EXPECT_EQ(FirstValue("books", "SELECT V AS V FROM T"), "7");
}

// A count that takes well over one progress check of SQLite (and any statement on the
// server), and one that runs until the time limit stops it.
constexpr const char* kCounting =
    "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 20000) "
    "SELECT COUNT(*) AS V FROM c";
constexpr const char* kRunaway =
    "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 1000000000000) "
    "SELECT COUNT(*) AS V FROM c";

TEST_F(EngineRequests, TheTimeLimitCountsFromEachRequest) {
  for (const std::string alias : {"lite_limited", "pg_limited"}) {
    if (alias.starts_with("pg") && !dbtest::PostgresAvailable()) continue;
    EXPECT_EQ(FirstValue(alias, kCounting), "20000") << alias;
    EndRequest();
    // Past the time limit of the first request: the second has one of its own.
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    EXPECT_EQ(FirstValue(alias, kCounting), "20000") << alias;
    EndRequest();
    EXPECT_THROW(FirstValue(alias, kRunaway), EDBEngineError) << alias;
    EndRequest();
    EXPECT_EQ(FirstValue(alias, kCounting), "20000") << alias;
    EndRequest();
  }
}

TEST_F(EngineRequests, AStatementThatChangesTheSessionIsNotSeenByTheNextRequest) {
  const struct {
    const char* alias;
    const char* sql;
  } cases[] = {
      {"lite", "CREATE TEMP TABLE kept (a)"},
      {"lite", "BEGIN"},
      {"lite", "ATTACH ':memory:' AS other"},
      {"pg", "CREATE TEMP TABLE kept (a integer)"},
  };
  for (const auto& c : cases) {
    if (std::string(c.alias) == "pg" && !dbtest::PostgresAvailable()) continue;
    // Each run as the first request of a new process would: the second does not find
    // the table, the transaction or the attached database of the first.
    for (int request = 0; request < 2; ++request) {
      RunWithoutRows(c.alias, c.sql);
      EndRequest();
    }
  }
  if (!dbtest::PostgresAvailable()) return;
  EXPECT_EQ(FirstValue("pg", "SELECT set_config('search_path', 'pg_catalog', false) AS V"),
            "pg_catalog");
  EndRequest();
  EXPECT_EQ(FirstValue("pg", "SELECT COUNT(*) AS V FROM BOOKS"), "3");
}

TEST_F(EngineRequests, APostgresConnectionIsKeptAndOpenedAgainWhenTheServerEndedIt) {
  if (!dbtest::PostgresAvailable()) GTEST_SKIP() << "no PostgreSQL test server";
  const std::string pidQuery = "SELECT pg_backend_pid() AS V";
  const std::string first = FirstValue("pg", pidQuery);
  EndRequest();
  EXPECT_EQ(FirstValue("pg", pidQuery), first) << "the connection was not kept";
  EndRequest();
  PGconn* other = PQconnectdb(dbtest::PostgresConnInfo().c_str());
  ASSERT_EQ(PQstatus(other), CONNECTION_OK);
  PQclear(PQexec(other, ("SELECT pg_terminate_backend(" + first + ")").c_str()));
  // The backend ends a moment after it was told to.
  for (int wait = 0; wait < 100; ++wait) {
    PGresult* left = PQexec(other, ("SELECT 1 FROM pg_stat_activity WHERE pid = " + first).c_str());
    const bool gone = PQntuples(left) == 0;
    PQclear(left);
    if (gone) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  PQfinish(other);
  EXPECT_EQ(FirstValue("pg", "SELECT COUNT(*) AS V FROM BOOKS"), "3");
  EXPECT_NE(FirstValue("pg", pidQuery), first);
}

TEST(PlainQuery, OnlyStatementsThatLeaveTheSessionAsTheyFoundItArePlain) {
  const struct {
    const char* sql;
    bool plain;
  } cases[] = {
      {"SELECT * FROM BOOKS WHERE MS_SYOMEI LIKE '%INSERT%'", true},
      {"-- INTO\r\n/* DROP */ select a, \"set\" FROM t", true},
      {"WITH w AS (SELECT 1) SELECT * FROM w", true},
      {"VALUES (1)", true},
      {"(SELECT 1)", true},
      {"SELECT * INTO TEMP t FROM BOOKS", false},
      {"WITH w AS (DELETE FROM t RETURNING *) SELECT * FROM w", false},
      {"SELECT set_config('search_path', 'x', false)", false},
      {"SELECT pg_advisory_lock(1)", false},
      {"SELECT nextval('s')", false},
      {"PRAGMA cache_size = 1", false},
      {"INSERT INTO t VALUES (1)", false},
      {"SELECT 1; CREATE TEMP TABLE x (a)", false},
      {"EXPLAIN SELECT 1", false},
      {"", false},
      {"  -- nothing\r\n", false},
  };
  for (const auto& c : cases) EXPECT_EQ(db::IsPlainQuery(c.sql), c.plain) << c.sql;
}

}  // namespace
