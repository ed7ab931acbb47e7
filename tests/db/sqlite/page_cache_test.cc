// The SQLite driver keeps a small page cache for a connection's first request and a
// larger one once a long-lived process keeps the connection: whatever the size, every
// request reads the file as another connection last wrote it, and a file that is no
// database fails at the first statement as it always did.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "db/engine_codes.h"
#include "db/sqlite/sqlite_driver.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

// The first column of the first row of sql, run through the driver.
std::string DriverValue(db::Database& database, const std::string& sql) {
  std::unique_ptr<db::Statement> statement = database.Prepare(sql);
  std::unique_ptr<db::Cursor> cursor = statement->Execute({});
  const db::ColumnValue& value = cursor->Row().at(0);
  return value.ValueKind == db::ColumnValue::Kind::kInteger ? std::to_string(value.Integer)
                                                            : value.Text;
}

// Runs sql on the file through a connection of its own, as another program would;
// gives the first column of the last row.
std::string OtherConnection(const std::string& path, const std::string& sql) {
  sqlite3* other = nullptr;
  EXPECT_EQ(sqlite3_open_v2(path.c_str(), &other, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr),
            SQLITE_OK);
  std::string value;
  char* error = nullptr;
  sqlite3_exec(
      other, sql.c_str(),
      [](void* out, int, char** values, char**) {
        *static_cast<std::string*>(out) = values[0] ? values[0] : "";
        return 0;
      },
      &value, &error);
  EXPECT_EQ(error, nullptr) << error;
  sqlite3_free(error);
  sqlite3_close(other);
  return value;
}

TEST(PageCache, EveryRequestOfAKeptConnectionSeesTheWritesOfAnother) {
  test_support::TempDir folder("pagecache.");
  const std::string path = folder / "books.db";
  // Some 600 pages of rows: far more than the first request's cache holds, fewer than
  // the kept one, so that the kept connection holds pages that the writes below change.
  OtherConnection(path,
                  "CREATE TABLE T (ID INTEGER PRIMARY KEY, V INTEGER, W TEXT);"
                  "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 8000)"
                  " INSERT INTO T SELECT i, i % 97, printf('%0250d', i) FROM n");
  const std::string sum = "SELECT SUM(V) || '/' || COUNT(*) || '/' || SUM(LENGTH(W)) FROM T";
  const struct {
    const char* name;
    const char* write;  // by the other connection before the request
    const char* cachePages;
  } requests[] = {
      {"the first request", "", "20"},
      {"rows changed on every page", "UPDATE T SET V = V + 1 WHERE ID % 13 = 0", "-2000"},
      {"nothing written", "", "-2000"},
      {"rows grown onto new pages", "UPDATE T SET W = W || W WHERE ID % 7 = 0", "-2000"},
      {"rows removed", "DELETE FROM T WHERE ID % 5 = 0", "-2000"},
      {"rows added", "INSERT INTO T SELECT ID + 8000, 1, W FROM T WHERE ID < 500", "-2000"},
  };
  std::unique_ptr<db::Database> kept =
      db::OpenSqliteDatabase(path, db::MatchMode::kFolded, 0);
  for (const auto& request : requests) {
    if (&request != &requests[0]) {
      ASSERT_TRUE(kept->StartRequest()) << request.name;
    }
    if (*request.write) OtherConnection(path, request.write);
    EXPECT_EQ(DriverValue(*kept, sum), OtherConnection(path, sum)) << request.name;
    EXPECT_EQ(DriverValue(*kept, "PRAGMA cache_size"), request.cachePages) << request.name;
    ASSERT_TRUE(kept->KeptForNextRequest()) << request.name;
  }
}

TEST(PageCache, AFileThatIsNoDatabaseFailsAtTheFirstStatementWithItsError) {
  test_support::TempDir folder("pagecache.");
  const std::string path = folder / "books.db";
  test_support::WriteBytes(path, std::string(8192, 'x'));
  std::unique_ptr<db::Database> database =
      db::OpenSqliteDatabase(path, db::MatchMode::kFolded, 0);
  try {
    database->Prepare("SELECT 1");
    FAIL() << "a file that is no database was read";
  } catch (const db::DriverError& error) {
    EXPECT_EQ(error.Code, db::kErrSql);
    ASSERT_EQ(error.Entries.size(), 1u);
    EXPECT_EQ(error.Entries[0].NativeError, SQLITE_NOTADB);
    EXPECT_EQ(error.Entries[0].Message, "file is not a database");
  }
}

}  // namespace
