// The text the PostgreSQL driver sends: exact matching as it always was, folded matching
// through the server's folding functions with the n-gram narrowing beside the search
// conditions. What the server makes of these texts is checked against a real server in
// tests/tools/postgres_search_index_test.cc.
#include "db/postgres/postgres_server_text.h"
#include "matching/stored_forms.h"

#include <gtest/gtest.h>

#include "matching/sjis_like.h"

using namespace db;

namespace {

using db::MatchMode;
using db::RequiredGramTexts;
using db::ServerText;

TEST(PostgresServerTextTest, ExactMatchingNumbersMarkersAndGivesLikeNoEscape) {
  const char* cases[][2] = {
      {"SELECT * FROM T WHERE A = ? AND B LIKE ?",
       "SELECT * FROM T WHERE A = $1 AND B LIKE $2 ESCAPE ''"},
      {"SELECT * FROM T WHERE A LIKE '%x%' ESCAPE '!' OR B like 'y'",
       "SELECT * FROM T WHERE A LIKE '%x%' ESCAPE '!' OR B like 'y' ESCAPE ''"},
      {"SELECT '?', \"?\" -- ?\nFROM T /* LIKE ? */ WHERE A LIKE '\x83\x5c?'",
       "SELECT '?', \"?\" -- ?\nFROM T /* LIKE ? */ WHERE A LIKE '\x83\x5c?' ESCAPE ''"},
      // Brackets are subscripts, where a marker may stand; a Shift_JIS name (書名) whose
      // trail bytes look like letters is one word.
      {"SELECT B[?], ARRAY[?] FROM T WHERE \x8f\x91\x96\xbc = ?",
       "SELECT B[$1], ARRAY[$2] FROM T WHERE \x8f\x91\x96\xbc = $3"},
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
      // A pattern given by a marker or an expression is folded but not narrowed; an
      // ESCAPE clause of the statement's own keeps its pattern plainly folded.
      {"SELECT 1 FROM T WHERE T.A NOT LIKE ? AND lower(B) || 'x' LIKE 'a' || ? AND C LIKE 'q!%' "
       "ESCAPE '!'",
       "SELECT 1 FROM T WHERE liraweb_fold(T.A) NOT LIKE liraweb_fold_pattern($1) ESCAPE '\\' AND "
       "liraweb_fold(lower(B) || 'x') LIKE liraweb_fold_pattern('a' || $2) ESCAPE '\\' AND "
       "liraweb_fold(C) LIKE liraweb_fold('q!%') ESCAPE '!'"},
      // NOT LIKE is folded and never narrowed: the rows it keeps need not hold the grams.
      {"SELECT 1 FROM T WHERE A NOT LIKE '%ab%'",
       "SELECT 1 FROM T WHERE liraweb_fold(A) NOT LIKE liraweb_fold_pattern('%ab%') ESCAPE '\\'"},
      // A group holding anything else narrows each condition alone; a wildcard-only
      // pattern has nothing to narrow with; a comment after a pattern stays a comment.
      {"SELECT 1 FROM T WHERE (A LIKE 'xy' OR B = 1) OR C LIKE '%_%' -- LIKE\n",
       "SELECT 1 FROM T WHERE ((liraweb_fold(A) COLLATE \"C\" LIKE liraweb_fold_pattern('xy') "
       "ESCAPE '\\' AND "
       "liraweb_grams(liraweb_fold(A)) @> ARRAY['xy']::text[]) OR B = 1) OR liraweb_fold(C) LIKE "
       "liraweb_fold_pattern('%_%') ESCAPE '\\' -- LIKE\n"},
      // A condition inside CASE picks a value and is never narrowed; after END the
      // conditions are search conditions again.
      {"SELECT 1 FROM T WHERE CASE WHEN B LIKE 'ab' THEN 1 END = 1 AND A LIKE 'cd' "
       "ORDER BY CASE WHEN C LIKE 'x%' THEN 0 ELSE 1 END",
       "SELECT 1 FROM T WHERE CASE WHEN liraweb_fold(B) COLLATE \"C\" LIKE "
       "liraweb_fold_pattern('ab') ESCAPE '\\' THEN 1 END = 1 AND (liraweb_fold(A) COLLATE \"C\" "
       "LIKE liraweb_fold_pattern('cd') ESCAPE '\\' AND liraweb_grams(liraweb_fold(A)) @> "
       "ARRAY['cd']::text[]) ORDER BY CASE WHEN liraweb_fold(C) COLLATE \"C\" LIKE "
       "liraweb_fold_pattern('x%') ESCAPE '\\' THEN 0 ELSE 1 END"},
  };
  for (auto& c : cases) EXPECT_EQ(ServerText(c[0], MatchMode::kFolded), c[1]) << c[0];
}

TEST(PostgresServerTextTest, RequiredGramTextsAreTheFoldedRunsBetweenWildcards) {
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
  for (const Case& c : cases) EXPECT_EQ(RequiredGramTexts(c.pattern), c.grams) << c.pattern;
}

}  // namespace

TEST(PostgresServerTextTest, StoredFormsWriteFoldedWordsOverTheStoredColumn) {
  const char* sql =
      "SELECT A FROM T\nWHERE\n( MS_SYOMEI LIKE '%\x82\xcc%'\nOR\nMS_SYOKANA LIKE '%\x82\xcc%' )\n"
      "AND\nMS_SYUPAN LIKE '%abc%' AND MS_KENMEI LIKE '%a_%' AND MS_ISBN LIKE '\x83\x5e%'";
  auto likes = [](const std::string& column) {
    const std::string operand = column + "::text COLLATE \"C\" LIKE ";
    return "(" + operand + "'%\x83\x6d%' ESCAPE '' OR " + operand + "'%\xc9%' ESCAPE '' OR " +
           operand + "'%\x82\xcc%' ESCAPE '')";
  };
  EXPECT_EQ(
      ServerText(sql, MatchMode::kFolded, db::FoldedWords::kStoredForms),
      "SELECT A FROM T\nWHERE\n(( " + likes("MS_SYOMEI") + "\nOR\n" + likes("MS_SYOKANA") +
          " ) AND (liraweb_grams(liraweb_fold(MS_SYOMEI)) @> ARRAY['\x83\x6d']::text[] OR "
          "liraweb_grams(liraweb_fold(MS_SYOKANA)) @> ARRAY['\x83\x6d']::text[]))\nAND\n"
          "(MS_SYUPAN::text COLLATE \"C\" ~ "
          "'[aA\x82\x60\x82\x81][bB\x82\x61\x82\x82][cC\x82\x62\x82\x83]' AND "
          "liraweb_grams(liraweb_fold(MS_SYUPAN)) @> ARRAY['ab','bc']::text[]) AND "
          "(liraweb_fold(MS_KENMEI) COLLATE \"C\" LIKE liraweb_fold_pattern('%a_%') ESCAPE '\\' AND "
          "liraweb_grams(liraweb_fold(MS_KENMEI)) @> ARRAY['a']::text[]) AND "
          "(MS_ISBN::text COLLATE \"C\" ~ '^(?:[\x83\x5e\x82\xbd]|\xc0(?![\xde]))' AND "
          "liraweb_grams(liraweb_fold(MS_ISBN)) @> ARRAY['\x83\x5e']::text[])");
  // A word of many pages is compared folded: its expression would be megabytes.
  const std::string pasted(3000, 'a');
  EXPECT_EQ(ServerText("SELECT 1 FROM T WHERE A LIKE '%" + pasted + "%'", MatchMode::kFolded,
                       db::FoldedWords::kStoredForms)
                .find("WHERE (liraweb_fold(A) LIKE liraweb_fold_pattern('%" + pasted + "%')"),
            16u);
  // Exact matching is as it always was.
  EXPECT_EQ(ServerText("SELECT 1 FROM T WHERE A LIKE 'x'", MatchMode::kExact,
                       db::FoldedWords::kStoredForms),
            "SELECT 1 FROM T WHERE A LIKE 'x' ESCAPE ''");
}

// The expression is given up as soon as it passes its size limit, so that a pasted page
// costs no more than a word of that size; up to the limit it is the whole expression.
TEST(PostgresServerTextTest, StoredFormsRegexEndsAtItsSizeLimit) {
  const std::string kana = "\x82\xcc\x83\x5e\xca\x82\xcc";  // のタﾊの
  const std::string patterns[] = {"%" + kana + "%", kana + "%", "%a.b",
                                  "%" + std::string(40, 'x') + "%" + kana};
  for (MatchMode mode : {MatchMode::kFolded, MatchMode::kLoose}) {
    for (const std::string& pattern : patterns) {
      const std::optional<std::string> whole = matching::StoredFormsRegex(pattern, mode);
      ASSERT_TRUE(whole) << pattern;
      EXPECT_EQ(matching::StoredFormsRegex(pattern, mode, whole->size()), whole) << pattern;
      EXPECT_EQ(matching::StoredFormsRegex(pattern, mode, whole->size() - 1), std::nullopt) << pattern;
    }
  }
  // Each "a" is [aAＡａ], eight bytes: 512 of them fill the 4 KB the driver sends, one more
  // is compared folded.
  for (auto [count, stored] : {std::pair{512, true}, std::pair{513, false}}) {
    const std::string text =
        ServerText("SELECT 1 FROM T WHERE A LIKE '%" + std::string(count, 'a') + "%'",
                   MatchMode::kFolded, db::FoldedWords::kStoredForms);
    EXPECT_EQ(text.find("A::text COLLATE \"C\" ~ '[aA") != std::string::npos, stored) << count;
    EXPECT_EQ(text.find("liraweb_fold_pattern(") == std::string::npos, stored) << count;
  }
}

// A word the choice turns down keeps its comparison and loses its n-gram condition; a
// group of columns keeps its n-gram conditions only when every column's is wanted.
TEST(PostgresServerTextTest, NarrowingChoiceLeavesOutTheNgramConditionsOfBroadWords) {
  const char* sql =
      "SELECT A FROM T WHERE ( A LIKE '%\x94\x4c%' OR b.B LIKE '%\x94\x4c%' ) AND C LIKE '%yz%'";
  std::vector<std::string> asked;
  auto broadColumn = [&asked](const char* broad) {
    return [&asked, broad](const db::NarrowableWord& word) {
      asked.push_back(word.column + ":" + word.grams.at(0));
      return word.column != broad;
    };
  };
  const std::string regex = "::text COLLATE \"C\" LIKE '%\x94\x4c%' ESCAPE '')";  // 猫
  const std::string yz = "C::text COLLATE \"C\" ~ '[yY\x82\x78\x82\x99][zZ\x82\x79\x82\x9a]'";
  EXPECT_EQ(ServerText(sql, MatchMode::kFolded, db::FoldedWords::kStoredForms, broadColumn("b.B")),
            "SELECT A FROM T WHERE ( (A" + regex + " OR (b.B" + regex + " ) AND (" + yz +
                " AND liraweb_grams(liraweb_fold(C)) @> ARRAY['yz']::text[])");
  EXPECT_EQ(asked, (std::vector<std::string>{"A:\x94\x4c", "b.B:\x94\x4c", "C:yz"}));
  EXPECT_EQ(ServerText(sql, MatchMode::kFolded, db::FoldedWords::kStoredForms, broadColumn("C")),
            "SELECT A FROM T WHERE (( (A" + regex + " OR (b.B" + regex +
                " ) AND (liraweb_grams(liraweb_fold(A)) @> ARRAY['\x94\x4c']::text[] OR "
                "liraweb_grams(liraweb_fold(b.B)) @> ARRAY['\x94\x4c']::text[])) AND " + yz);
}
