// The text the PostgreSQL driver sends: exact matching as it always was, folded matching
// through the server's folding functions with the n-gram narrowing beside the search
// conditions. What the server makes of these texts is checked against a real server in
// tests/tools/postgres_search_index_test.cc.
#include "db/postgres_server_text.h"

#include <gtest/gtest.h>

using namespace db;

namespace {

using db::MatchMode;
using db::PatternGrams;
using db::ServerText;

TEST(PostgresServerTextTest, ExactMatchingNumbersMarkersAndGivesLikeNoEscape) {
  const char* cases[][2] = {
      {"SELECT * FROM T WHERE A = ? AND B LIKE ?",
       "SELECT * FROM T WHERE A = $1 AND B LIKE $2 ESCAPE ''"},
      {"SELECT * FROM T WHERE A LIKE '%x%' ESCAPE '!' OR B like 'y'",
       "SELECT * FROM T WHERE A LIKE '%x%' ESCAPE '!' OR B like 'y' ESCAPE ''"},
      {"SELECT '?', \"?\" -- ?\nFROM T /* LIKE ? */ WHERE A LIKE '\x83\x5c?'",
       "SELECT '?', \"?\" -- ?\nFROM T /* LIKE ? */ WHERE A LIKE '\x83\x5c?' ESCAPE ''"},
  };
  for (auto& c : cases) EXPECT_EQ(ServerText(c[0], MatchMode::kExact), c[1]) << c[0];
}

TEST(PostgresServerTextTest, FoldedMatchingFoldsBothSidesAndNarrowsSearchConditions) {
  const char* cases[][2] = {
      // The search statement: a group of two columns, then a single column. Words shorter
      // than three characters are kept from trigram indexes.
      {"SELECT A FROM T\nWHERE\n( MS_SYOMEI LIKE '%abc%'\nOR\nMS_SYOKANA LIKE '%abc%' )\nAND\n"
       "MS_SYUPAN LIKE '%c%'\nORDER BY A",
       "SELECT A FROM T\nWHERE\n(( liraweb_fold(MS_SYOMEI) LIKE liraweb_fold_pattern('%abc%') "
       "ESCAPE '\\'\nOR\nliraweb_fold(MS_SYOKANA) LIKE liraweb_fold_pattern('%abc%') ESCAPE '\\' ) "
       "AND (liraweb_grams(liraweb_fold(MS_SYOMEI)) @> ARRAY['ab','bc']::text[] OR "
       "liraweb_grams(liraweb_fold(MS_SYOKANA)) @> ARRAY['ab','bc']::text[]))\nAND\n"
       "(liraweb_fold(MS_SYUPAN) COLLATE \"C\" LIKE liraweb_fold_pattern('%c%') ESCAPE '\\' AND "
       "liraweb_grams(liraweb_fold(MS_SYUPAN)) @> ARRAY['c']::text[])\nORDER BY A"},
      // Markers, expressions and NOT LIKE are folded but not narrowed; an ESCAPE clause
      // of the statement's own keeps its pattern plainly folded.
      {"SELECT 1 FROM T WHERE T.A NOT LIKE ? AND lower(B) || 'x' LIKE 'a' || ? AND C LIKE 'q!%' "
       "ESCAPE '!'",
       "SELECT 1 FROM T WHERE liraweb_fold(T.A) NOT LIKE liraweb_fold_pattern($1) ESCAPE '\\' AND "
       "liraweb_fold(lower(B) || 'x') LIKE liraweb_fold_pattern('a' || $2) ESCAPE '\\' AND "
       "liraweb_fold(C) LIKE liraweb_fold('q!%') ESCAPE '!'"},
      // A group holding anything else narrows each condition alone; a wildcard-only
      // pattern has nothing to narrow with; a comment after a pattern stays a comment.
      {"SELECT 1 FROM T WHERE (A LIKE 'xy' OR B = 1) OR C LIKE '%_%' -- LIKE\n",
       "SELECT 1 FROM T WHERE ((liraweb_fold(A) COLLATE \"C\" LIKE liraweb_fold_pattern('xy') "
       "ESCAPE '\\' AND "
       "liraweb_grams(liraweb_fold(A)) @> ARRAY['xy']::text[]) OR B = 1) OR liraweb_fold(C) LIKE "
       "liraweb_fold_pattern('%_%') ESCAPE '\\' -- LIKE\n"},
  };
  for (auto& c : cases) EXPECT_EQ(ServerText(c[0], MatchMode::kFolded), c[1]) << c[0];
}

TEST(PostgresServerTextTest, PatternGramsAreTheFoldedRunsBetweenWildcards) {
  struct Case {
    const char* pattern;
    std::vector<std::string> grams;
  };
  const Case cases[] = {
      {"%\x82\xc8\x82\xc2\x82\xdf%",  // %なつめ%
       {"\x83\x63\x83\x81", "\x83\x69\x83\x63"}},  // ツメ, ナツ
      {"%\xc3\xde\xbc\xde%", {"\x83\x66\x83\x57"}},     // %ﾃﾞｼﾞ% is デジ
      {"\x82\x60_B%c", {"a", "b", "c"}},                // Ａ_B%c: runs of one
      {"It's", {"'s", "it", "t'"}},
      {"%\x01\x01%", {"\x02\x02"}},
      {"%_%", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(PatternGrams(c.pattern), c.grams) << c.pattern;
}

}  // namespace
