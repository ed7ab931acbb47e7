// A connection keeps the statements it is asked to keep: each taking finds one ready,
// as freshly prepared (no read, no bindings of the one before), and statements whose
// text varies are kept only among the few used last.
#include "db/sqlite/kept_statements.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

namespace {

using db::searchindex::Keeping;
using db::searchindex::KeptStatement;

class KeptStatements : public ::testing::Test {
 protected:
  void SetUp() override {
    sqlite3_open(":memory:", &db_);
    sqlite3_exec(db_, "CREATE TABLE T (V INTEGER); INSERT INTO T VALUES (1), (2), (3)", nullptr,
                 nullptr, nullptr);
    db::searchindex::KeepStatementsOf(db_);
  }
  void TearDown() override {
    db::searchindex::ForgetKeptStatements(db_);
    sqlite3_close(db_);
  }
  int PreparedOnConnection() const {
    int count = 0;
    for (sqlite3_stmt* s = sqlite3_next_stmt(db_, nullptr); s; s = sqlite3_next_stmt(db_, s)) {
      ++count;
    }
    return count;
  }
  bool Prepared(const sqlite3_stmt* statement) const {
    for (sqlite3_stmt* s = sqlite3_next_stmt(db_, nullptr); s; s = sqlite3_next_stmt(db_, s)) {
      if (s == statement) return true;
    }
    return false;
  }

  sqlite3* db_ = nullptr;
};

TEST_F(KeptStatements, ATakingAfterAnAbandonedRunStartsAfresh) {
  for (Keeping keeping : {Keeping::kAlways, Keeping::kAmongRecent}) {
    const std::string sql = "SELECT V, ?1 FROM T ORDER BY V";
    sqlite3_stmt* first = nullptr;
    {
      KeptStatement statement(db_, sql, keeping);
      first = statement.get();
      sqlite3_bind_int(statement.get(), 1, 42);
      ASSERT_EQ(sqlite3_step(statement.get()), SQLITE_ROW);
      ASSERT_EQ(sqlite3_step(statement.get()), SQLITE_ROW);  // left on the second row
    }
    KeptStatement again(db_, sql, keeping);
    EXPECT_EQ(again.get(), first) << "prepared once";
    EXPECT_FALSE(sqlite3_stmt_busy(again.get()));
    ASSERT_EQ(sqlite3_step(again.get()), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(again.get(), 0), 1) << "from the first row";
    EXPECT_EQ(sqlite3_column_type(again.get(), 1), SQLITE_NULL) << "no binding left";
  }
}

TEST_F(KeptStatements, VaryingTextsAreKeptOnlyAmongTheRecentOnes) {
  KeptStatement fixed(db_, "SELECT 0 FROM T");
  const KeptStatement held(db_, "SELECT 'held' FROM T", Keeping::kAmongRecent);
  for (int i = 0; i < 5 * db::searchindex::kMostRecentKept; ++i) {
    const KeptStatement statement(db_, "SELECT " + std::to_string(i), Keeping::kAmongRecent);
    ASSERT_TRUE(statement);
    EXPECT_LE(PreparedOnConnection(), 1 + db::searchindex::kMostRecentKept) << i;
  }
  // The one held through all of them was never dropped, and the fixed one stays.
  EXPECT_TRUE(Prepared(held.get()));
  const sqlite3_stmt* fixedBefore = fixed.get();
  { KeptStatement ended = std::move(fixed); }
  EXPECT_EQ(KeptStatement(db_, "SELECT 0 FROM T").get(), fixedBefore);
  // The last used is still kept: taking it again prepares nothing.
  const int before = PreparedOnConnection();
  const std::string last = "SELECT " + std::to_string(5 * db::searchindex::kMostRecentKept - 1);
  EXPECT_TRUE(KeptStatement(db_, last, Keeping::kAmongRecent));
  EXPECT_EQ(PreparedOnConnection(), before);
}

TEST_F(KeptStatements, ATextInUseIsPreparedAgainForASecondTaking) {
  const KeptStatement first(db_, "SELECT V FROM T", Keeping::kAmongRecent);
  const KeptStatement second(db_, "SELECT V FROM T", Keeping::kAmongRecent);
  ASSERT_TRUE(first && second);
  EXPECT_NE(first.get(), second.get());
  // A text that does not prepare gives no statement and leaves its error on the connection.
  const KeptStatement wrong(db_, "SELECT FROM WHERE", Keeping::kAmongRecent);
  EXPECT_FALSE(wrong);
  EXPECT_EQ(sqlite3_errcode(db_), SQLITE_ERROR);
}

}  // namespace
