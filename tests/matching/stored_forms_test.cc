// The stored forms of a folded word, as a regular expression or a few LIKE patterns.
#include "matching/stored_forms.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "matching/sjis_fold.h"

namespace {

using matching::MatchMode;

// Short folded words over the stored text: each character becomes the class of the forms
// that fold to it; a half-width kana stands for itself only where no mark joins it.
TEST(StoredForms, RegexAcceptsEveryFormThatFoldsToTheWord) {
  struct Case {
    const char* pattern;
    std::optional<std::string> regex;
  };
  const Case cases[] = {
      {"%\x82\xcc%", "[\x83\x6d\xc9\x82\xcc]"},                 // の: ノ ﾉ の
      {"\xc0\xde%", "^(?:[\x83\x5f\x82\xbe]|\xc0\xde)"},        // ﾀﾞ%: ダ だ, ﾀﾞ
      {"%\x83\x5e%", "(?:[\x83\x5e\x82\xbd]|\xc0(?![\xde]))"},  // タ, but not ﾀ before ﾞ
      {"%\xca\x82\xcc", "(?:[\x83\x6e\x82\xcd]|\xca(?![\xde\xdf]))[\x83\x6d\xc9\x82\xcc]$"},  // ﾊの
      {"a", "^[aA\x82\x60\x82\x81]$"},  // a A Ａ ａ
      {"%.%", "[\\.\x81\x44]"},         // . ．
      {"%\x94\x4c%", "\x94\x4c"},       // 猫 has one form
      {"%a_%", std::nullopt},
      {"%\x80%", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(matching::StoredFormsRegex(c.pattern), c.regex) << c.pattern;
  // A few forms that stand alone are written as LIKE patterns instead.
  using Likes = std::optional<std::vector<std::string>>;
  EXPECT_EQ(matching::StoredFormsLikePatterns("%\x82\xcc%", 4),
            (Likes{{"%\x83\x6d%", "%\xc9%", "%\x82\xcc%"}}));
  EXPECT_EQ(matching::StoredFormsLikePatterns("a%", 4),
            (Likes{{"a%", "A%", "\x82\x60%", "\x82\x81%"}}));
  EXPECT_EQ(matching::StoredFormsLikePatterns("%ab%", 4), std::nullopt);        // 16 patterns
  EXPECT_EQ(matching::StoredFormsLikePatterns("%\x83\x5e%", 4), std::nullopt);  // ﾀ may take ﾞ
  EXPECT_EQ(matching::StoredFormsLikePatterns("%\x81\x93%", 4), std::nullopt);  // ％ is %
  // A lone voiced mark is ゛ only where no kana before it takes it.
  const std::optional<std::string> mark = matching::StoredFormsRegex("%\x81\x4a%");
  ASSERT_TRUE(mark);
  EXPECT_EQ(mark->substr(0, 11), "(?:\x81\x4a|(?<![");
  EXPECT_NE(mark->find("\xb3\xb6"), std::string::npos);  // ｳ and ｶ take it

  // The expressions look one byte before and after a form: enough while no byte both
  // takes a mark after it and is a mark taken by the byte before it.
  auto joins = [](int first, int second) {
    const std::string pair = {static_cast<char>(first), static_cast<char>(second)};
    std::size_t i = 0;
    matching::NextUnit(pair, i, MatchMode::kFolded);
    return i == 2;
  };
  auto single = [](int b) { return b < 0x80 || (b >= 0xA1 && b <= 0xDF); };
  int joined = 0;
  for (int b = 0x01; b <= 0xDF; ++b) {
    bool takesMark = false, isTaken = false;
    for (int other = 0x01; other <= 0xDF; ++other) {
      if (!single(b) || !single(other)) continue;
      takesMark = takesMark || joins(b, other);
      isTaken = isTaken || joins(other, b);
      joined += joins(b, other);
    }
    EXPECT_FALSE(takesMark && isTaken) << b;
  }
  EXPECT_EQ(joined, 26);  // ｶ to ﾄ and ｳ with ﾞ, ﾊ to ﾎ with ﾞ and ﾟ
}

}  // namespace
