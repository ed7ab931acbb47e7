// The count statement leaves out a closing ORDER BY and nothing else. That the count is
// that of the rows the statement gives is checked against a real server by the
// end-to-end tests, whose pages show the count beside the rows.
#include "db/postgres/postgres_count_text.h"

#include <gtest/gtest.h>

namespace {

TEST(PostgresCountTextTest, LeavesOutOnlyAClosingOrderBy) {
  const char* cases[][2] = {
      {"SELECT A FROM T WHERE B LIKE 'x'", "SELECT A FROM T WHERE B LIKE 'x'"},
      // The best-match order: its tiers and keys are not worked out to count.
      {"SELECT A FROM T\nWHERE B = 1\nORDER BY CASE WHEN B LIKE 'x' THEN 0 ELSE 1 END, "
       "(C IS NULL), C DESC",
       "SELECT A FROM T\nWHERE B = 1\n"},
      {"select a from t order  /* x */ by a desc", "select a from t "},
      // An ORDER BY that picks the rows stays, as do those inside parentheses, in
      // literals, names and comments.
      {"SELECT A FROM T ORDER BY A LIMIT 10", "SELECT A FROM T ORDER BY A LIMIT 10"},
      {"SELECT A FROM T ORDER BY A OFFSET 5", "SELECT A FROM T ORDER BY A OFFSET 5"},
      {"SELECT A FROM T ORDER BY A FOR UPDATE", "SELECT A FROM T ORDER BY A FOR UPDATE"},
      {"SELECT A, (SELECT B FROM U ORDER BY B LIMIT 1) FROM T",
       "SELECT A, (SELECT B FROM U ORDER BY B LIMIT 1) FROM T"},
      {"SELECT 'ORDER BY', \"order\" by FROM T -- ORDER BY A",
       "SELECT 'ORDER BY', \"order\" by FROM T -- ORDER BY A"},
      {"SELECT A FROM (SELECT A FROM T ORDER BY A) AS S ORDER BY A LIMIT 3",
       "SELECT A FROM (SELECT A FROM T ORDER BY A) AS S ORDER BY A LIMIT 3"},
  };
  for (auto& c : cases) {
    EXPECT_EQ(db::CountText(c[0]),
              std::string("SELECT COUNT(*) FROM (") + c[1] + "\n) AS dbengine_count")
        << c[0];
  }
}

// Counted without parallel workers where the n-gram index finds the rows.
TEST(PostgresCountTextTest, CountsSeriallyWhatTheNgramIndexFinds) {
  EXPECT_TRUE(db::CountsSerially(
      "SELECT A FROM T WHERE (A ~ 'x' AND liraweb_grams(liraweb_fold(A)) @> ARRAY['x']::text[])"));
  EXPECT_FALSE(db::CountsSerially("SELECT A FROM T WHERE A ~ 'x'"));
  EXPECT_FALSE(db::CountsSerially("SELECT liraweb_grams FROM T"));
}

}  // namespace
