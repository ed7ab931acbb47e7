// Which statements are read tier by tier, and the tiers' statements. That the tiers
// give the rows of the whole statement in its order is checked against a real server
// by the query contract and by the end-to-end parity tests.
#include "db/postgres/postgres_ranked_tiers.h"

#include <gtest/gtest.h>

#include <optional>

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
  EXPECT_EQ(
      db::RankedTierTexts("SELECT A FROM T WHERE B = 1 ORDER BY Y IS NULL, Y DESC, K"),
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
      ("SELECT A FROM T ORDER BY CASE WHEN (CASE WHEN B THEN C END) THEN 0 ELSE 1 END, "
       "Y IS NULL, Y DESC, K"),
      "SELECT A FROM T ORDER BY CASE WHEN B THEN 0 ELSE 1 END + 1, Y IS NULL, Y DESC, K",
  };
  for (const char* other : others) EXPECT_TRUE(db::RankedTierTexts(other).empty()) << other;
}

// The range a tier's condition implies, in the form the folded B-trees answer: from the
// comparisons of indexed columns whose pattern begins with text or is "%" and a word,
// through OR (every side) and AND (every side that has one); none where a side of an OR
// has none.
TEST(PostgresRankedTiersTest, FoldedRangeIsWhatTheConditionImpliesOfTheIndexedColumns) {
  auto range = [](const std::string& column, const char* pattern) {
    return "liraweb_fold(" + column + ") COLLATE \"C\" LIKE liraweb_fold_pattern('" + pattern +
           "') ESCAPE '\\'";
  };
  auto ending = [](const std::string& column, const std::string& pattern) {
    return "reverse(liraweb_fold(" + column + ")) COLLATE \"C\" LIKE reverse(liraweb_fold_pattern('" +
           pattern + "')) ESCAPE '\\'";
  };
  struct Case {
    const char* condition;
    std::optional<std::string> range;
  };
  const Case cases[] = {
      {"( A LIKE 'x' OR B LIKE 'x' )", "(" + range("A", "x") + " OR " + range("B", "x") + ")"},
      {"t.A LIKE 'x%'", range("t.A", "x%")},
      {"( ( B LIKE 'x%' OR A LIKE 'x%' ) ) AND ( A LIKE '%x' ) AND B LIKE 'y%'",
       "((" + range("B", "x%") + " OR " + range("A", "x%") + ") AND " + ending("A", "%x") +
           " AND " + range("B", "y%") + ")"},
      {"( B LIKE '%x' ) AND ( C LIKE 'x%' ) AND B LIKE 'x%'", range("B", "x%")},
      {"( B LIKE '%y%' ) AND ( A LIKE 'it''s%' )", range("A", "it''s%")},
      {"( A LIKE 'x' OR A LIKE '%x' )", "(" + range("A", "x") + " OR " + ending("A", "%x") + ")"},
      {"A LIKE '%it''s'", ending("A", "%it''s")},
      // Second bytes with the codes of "_" and "\\" (ダ, 表) are no wildcard or escape.
      {"A LIKE '%\x83\x5f\x95\x5c'", ending("A", "%\x83\x5f\x95\x5c")},
      // Not implied or not answered by an index: nothing.
      {"( A LIKE 'x' OR C LIKE 'x' )", std::nullopt},   // C has no index
      {"( B LIKE 'x' OR B LIKE '%x' )", std::nullopt},  // B has no reversed index
      {"A LIKE '%x%'", std::nullopt},                   // a wildcard besides the first
      {"A LIKE '%x_y'", std::nullopt},
      {"A LIKE '%'", std::nullopt},
      {"A LIKE '%a\\b'", std::nullopt},  // an escape the reversal would put before its character
      {"A LIKE '%x' ESCAPE '!'", std::nullopt},
      {"A LIKE '_x'", std::nullopt},
      {"A LIKE ''", std::nullopt},
      {"A NOT LIKE 'x%'", std::nullopt},
      {"A LIKE 'x%' ESCAPE '!'", std::nullopt},
      {"lower(A) LIKE 'x%'", std::nullopt},
      {"NOT ( A LIKE 'x%' )", std::nullopt},
      {"( A LIKE 'x%' ) OR ( B LIKE 'x%'", std::nullopt},  // parentheses that do not match
      {"A LIKE 'x%' ) OR ( B LIKE 'x%' )", std::nullopt},
  };
  auto indexed = [](const std::string& column, db::FoldedIndexKind kind) {
    return kind == db::FoldedIndexKind::kEnding ? column == "A" : column != "C";
  };
  for (const Case& c : cases) {
    EXPECT_EQ(db::FoldedRangeCondition(c.condition, db::MatchMode::kFolded, indexed), c.range)
        << c.condition;
  }
  EXPECT_EQ(
      db::FoldedRangeCondition("A LIKE 'x'", db::MatchMode::kLoose, indexed),
      "liraweb_fold_loose2(A) COLLATE \"C\" LIKE liraweb_fold_pattern_loose2('x') ESCAPE '\\'");
}

// Each tier with a range (of the beginning or of the ending) gets it beside its
// condition, which stays as the server text writes it; tiers without keep their text,
// and so does exact matching.
TEST(PostgresRankedTiersTest, TiersGetTheRangeOfTheirConditionBeside) {
  const std::string sql =
      "SELECT A FROM T WHERE A LIKE '%x%' ORDER BY CASE WHEN A LIKE 'x' THEN 0 WHEN A LIKE '%x' "
      "THEN 1 ELSE 2 END, Y IS NULL, Y DESC, K";
  const std::string server =
      "SELECT A FROM T WHERE f(A, '%x%') ORDER BY CASE WHEN f(A, 'x') THEN 0 WHEN f(A, '%x') "
      "THEN 1 ELSE 2 END, Y IS NULL, Y DESC, K";
  auto all = [](const std::string&, db::FoldedIndexKind) { return true; };
  const std::vector<std::string> expected = {
      "SELECT A FROM T WHERE (f(A, '%x%'))\nAND (f(A, 'x'))\nAND liraweb_fold(A) COLLATE \"C\" "
      "LIKE liraweb_fold_pattern('x') ESCAPE '\\'\nORDER BY Y DESC NULLS LAST, K",
      "SELECT A FROM T WHERE (f(A, '%x%'))\nAND (f(A, '%x'))\nAND reverse(liraweb_fold(A)) "
      "COLLATE \"C\" LIKE reverse(liraweb_fold_pattern('%x')) ESCAPE '\\'\nAND (f(A, 'x')) IS "
      "NOT TRUE\nORDER BY Y DESC NULLS LAST, K",
      "SELECT A FROM T WHERE (f(A, '%x%'))\nAND (f(A, 'x')) IS NOT TRUE\n"
      "AND (f(A, '%x')) IS NOT TRUE\nORDER BY Y DESC NULLS LAST, K"};
  EXPECT_EQ(db::RankedTierTexts(sql, server, db::MatchMode::kFolded, all), expected);
  EXPECT_EQ(db::RankedTierTexts(sql, server, db::MatchMode::kExact, all),
            db::RankedTierTexts(server));
}

}  // namespace
