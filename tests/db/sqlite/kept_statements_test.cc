// A connection keeps the statements it is asked to keep: each taking finds one ready,
// as freshly prepared (no read, no bindings of the one before), and statements whose
// text varies are kept only among the few used last.
#include "db/sqlite/kept_statements.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <string>

#include "db/sqlite/indexed_search.h"
#include "tests/support/temp_dir.h"

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

// A fact is read once for a state of the database a read transaction holds, and read
// again after anything was committed, by another connection or by this one, and every
// time where no read transaction holds the state.
class KeptFacts : public ::testing::Test {
 public:
  void SetUp() override {
    const std::string path = folder_ / "facts.db";
    sqlite3_open(path.c_str(), &reader_);
    sqlite3_open(path.c_str(), &writer_);
    Run(writer_, "CREATE TABLE T (V INTEGER)");
    db::searchindex::KeepStatementsOf(reader_);
  }
  void TearDown() override {
    db::searchindex::ForgetKeptStatements(reader_);
    sqlite3_close(reader_);
    sqlite3_close(writer_);
  }
  static void Run(sqlite3* db, const char* sql) {
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
  }
  // The fact as the reader takes it, counting the reads.
  int Take() {
    return db::searchindex::KeptFact<int>(reader_, "fact", [this] { return ++reads_; });
  }

  test_support::TempDir folder_;
  sqlite3* reader_ = nullptr;
  sqlite3* writer_ = nullptr;
  int reads_ = 0;
};

TEST_F(KeptFacts, AreReadAgainWhenTheStateMayHaveChanged) {
  struct Case {
    const char* what;
    bool endFirstTransaction;                 // COMMIT after the first taking
    std::function<void(KeptFacts&)> between;  // then this, before the second
    bool secondInTransaction;                 // BEGIN before the second, if none is open
    int reads;
  };
  const auto nothing = [](KeptFacts&) {};
  const Case cases[] = {
      {"same transaction", false, nothing, true, 1},
      {"a later transaction, nothing written", true, nothing, true, 1},
      {"another connection committed", true,
       [](KeptFacts& t) { Run(t.writer_, "INSERT INTO T VALUES (1)"); }, true, 2},
      {"another connection changed the schema", true,
       [](KeptFacts& t) { Run(t.writer_, "CREATE INDEX TV ON T (V)"); }, true, 2},
      {"the reader itself committed", true,
       [](KeptFacts& t) { Run(t.reader_, "INSERT INTO T VALUES (2)"); }, true, 2},
      {"no transaction holds the state", true, nothing, false, 2},
      {"a writing transaction", true,
       [](KeptFacts& t) { Run(t.reader_, "BEGIN; INSERT INTO T VALUES (3)"); }, false, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    reads_ = 0;
    Run(writer_, "INSERT INTO T VALUES (0)");  // a state no fact was kept for
    Run(reader_, "BEGIN");
    Take();
    if (c.endFirstTransaction) Run(reader_, "COMMIT");
    c.between(*this);
    if (c.secondInTransaction && sqlite3_get_autocommit(reader_)) Run(reader_, "BEGIN");
    Take();
    if (!sqlite3_get_autocommit(reader_)) Run(reader_, "COMMIT");
    EXPECT_EQ(reads_, c.reads);
  }
}

TEST_F(KeptFacts, AUniqueIndexMadeByAnotherConnectionIsSeen) {
  auto unique = [this] {
    Run(reader_, "BEGIN");
    const bool answer = db::searchindex::UniqueColumn(reader_, "T", "V");
    Run(reader_, "COMMIT");
    return answer;
  };
  EXPECT_FALSE(unique());
  EXPECT_FALSE(unique());
  Run(writer_, "CREATE UNIQUE INDEX TU ON T (V)");
  EXPECT_TRUE(unique());
}

}  // namespace
