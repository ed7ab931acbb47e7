// Which statements are read tier by tier, and the tiers' statements. That the tiers
// give the rows of the whole statement in its order is checked against a real server
// by the query contract and by the end-to-end parity tests.
#include "db/postgres/postgres_ranked_tiers.h"

#include <gtest/gtest.h>

namespace {

TEST(PostgresRankedTiersTest, SplitsTheBestMatchOrderIntoItsTiers) {
  const std::vector<std::string> tiers = db::RankedTierTexts(
      "SELECT A FROM T\nWHERE (B LIKE 'x' OR C LIKE 'x')\nORDER BY CASE WHEN B LIKE 'x' THEN 0 "
      "WHEN (C LIKE 'x%' OR f(B, 1)) THEN 1 ELSE 2 END, Y IS NULL, Y DESC, K");
  const std::vector<std::string> expected = {
      "SELECT A FROM T\nWHERE ((B LIKE 'x' OR C LIKE 'x'))\nAND (B LIKE 'x')\n"
      "ORDER BY Y DESC NULLS LAST, K",
      "SELECT A FROM T\nWHERE ((B LIKE 'x' OR C LIKE 'x'))\nAND ((C LIKE 'x%' OR f(B, 1)))\n"
      "AND (B LIKE 'x') IS NOT TRUE\nORDER BY Y DESC NULLS LAST, K",
      "SELECT A FROM T\nWHERE ((B LIKE 'x' OR C LIKE 'x'))\nAND (B LIKE 'x') IS NOT TRUE\n"
      "AND ((C LIKE 'x%' OR f(B, 1))) IS NOT TRUE\nORDER BY Y DESC NULLS LAST, K"};
  EXPECT_EQ(tiers, expected);
  // Without WHERE, and without tiers: the one statement of the year order.
  EXPECT_EQ(db::RankedTierTexts("select a from t order by case when b then 0 else 1 end, "
                                "t.y is null, t.y desc, k asc;"),
            (std::vector<std::string>{"select a from t WHERE (b)\nORDER BY t.y DESC NULLS LAST, k",
                                      "select a from t WHERE (b) IS NOT TRUE\n"
                                      "ORDER BY t.y DESC NULLS LAST, k"}));
  EXPECT_EQ(db::RankedTierTexts("SELECT A FROM T WHERE B = 1 ORDER BY Y IS NULL, Y DESC, K"),
            (std::vector<std::string>{"SELECT A FROM T WHERE (B = 1)\nORDER BY Y DESC NULLS LAST, K"}));
}

TEST(PostgresRankedTiersTest, LeavesEveryOtherStatementAsItIs) {
  const char* others[] = {
      "SELECT A FROM T WHERE B = 1",
      "SELECT A FROM T ORDER BY A",
      "SELECT A FROM T ORDER BY Y IS NULL, Y DESC",
      "SELECT A FROM T ORDER BY Y IS NULL, Z DESC, K",
      "SELECT A FROM T ORDER BY Y IS NULL, Y ASC, K",
      "SELECT A FROM T ORDER BY Y IS NULL, Y DESC, K DESC",
      "SELECT A FROM T ORDER BY Y IS NULL, Y DESC, K LIMIT 5",
      "SELECT DISTINCT A FROM T ORDER BY Y IS NULL, Y DESC, K",
      "SELECT A FROM T GROUP BY A ORDER BY Y IS NULL, Y DESC, K",
      "SELECT A FROM T UNION SELECT A FROM U ORDER BY Y IS NULL, Y DESC, K",
      "WITH U AS (SELECT 1) SELECT A FROM T ORDER BY Y IS NULL, Y DESC, K",
      "SELECT A FROM T ORDER BY Y IS NULL, Y DESC, lower(K)",
      "SELECT A FROM T ORDER BY \"Y\" IS NULL, \"Y\" DESC, K",
      // Tiers numbered otherwise, or a CASE inside a condition.
      "SELECT A FROM T ORDER BY CASE WHEN B THEN 1 ELSE 2 END, Y IS NULL, Y DESC, K",
      "SELECT A FROM T ORDER BY CASE WHEN B THEN 0 ELSE 2 END, Y IS NULL, Y DESC, K",
      "SELECT A FROM T ORDER BY CASE WHEN B THEN 0 END, Y IS NULL, Y DESC, K",
      "SELECT A FROM T ORDER BY CASE B WHEN 1 THEN 0 ELSE 1 END, Y IS NULL, Y DESC, K",
      "SELECT A FROM T ORDER BY CASE WHEN (CASE WHEN B THEN C END) THEN 0 ELSE 1 END, "
      "Y IS NULL, Y DESC, K",
      "SELECT A FROM T ORDER BY CASE WHEN B THEN 0 ELSE 1 END + 1, Y IS NULL, Y DESC, K",
  };
  for (const char* other : others) EXPECT_TRUE(db::RankedTierTexts(other).empty()) << other;
}

}  // namespace
