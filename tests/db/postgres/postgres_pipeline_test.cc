// The PostgreSQL driver sends the commands of a statement together in libpq's pipeline
// mode and takes the connection out of it again. When libpq answers that it cannot, the
// statement fails there and then: a connection left in pipeline mode would refuse every
// later command, so going on would report success and fail the next statement instead.
// This program answers for libpq's PQexitPipelineMode (the plug-in finds the program's
// exported symbol before libpq's) and refuses while the test asks it to.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include "db/database_error.h"
#include "db/query.h"
#include "tests/db/test_databases.h"

namespace {

bool refuseToLeave = false;
int refused = 0;

}  // namespace

extern "C" int PQexitPipelineMode(PGconn* connection) {
  using Exit = int (*)(PGconn*);
  static const auto libpqExit = reinterpret_cast<Exit>(dlsym(RTLD_NEXT, "PQexitPipelineMode"));
  const int left = libpqExit(connection);
  if (!refuseToLeave) return left;
  ++refused;
  return 0;
}

namespace {

TEST(PostgresPipeline, AConnectionThatCannotLeavePipelineModeFailsItsStatement) {
  if (!dbtest::PostgresAvailable()) GTEST_SKIP() << "no PostgreSQL test server";
  db::TQuery query("qMaster");
  query.SetDatabaseName("pg");
  query.SetSqlLines({"SELECT MS_BOOKID FROM BOOKS ORDER BY MS_BOOKID"});
  query.OpenQuery();  // connected, and the pipeline works
  query.CloseQuery();
  query.SetSqlLines({"SELECT MS_SYOMEI FROM BOOKS ORDER BY MS_BOOKID"});
  refuseToLeave = true;
  EXPECT_THROW(query.OpenQuery(), db::EDBEngineError);
  refuseToLeave = false;
  EXPECT_GT(refused, 0);
  EXPECT_FALSE(query.Active());
  // libpq did leave the mode, so the connection serves the next statement.
  query.OpenQuery();
  EXPECT_EQ(query.RowCount(), 3);
}

}  // namespace
