#include "matching/sjis_like.h"

#include <gtest/gtest.h>

using namespace matching;

namespace {

using matching::MatchMode;
using matching::SjisLike;

struct Case {
  const char* pattern;
  const char* text;
  bool folded;
  bool exact;
};

constexpr const char* kWagahaiHiragana = "\x82\xed\x82\xaa\x82\xcd\x82\xa2";
constexpr const char* kWagahaiKatakana =
    "\x83\x8f\x83K\x83n\x83"
    "C";
constexpr const char* kWagahaiHalfWidth = "\xdc\xb6\xde\xca\xb2";

TEST(SjisLike, MatchesByCharacters) {
  const Case cases[] = {
      {"%abc%", "xxABCxx", true, false},
      {"abc", "abc", true, true},
      // 表 (95 5C) ends in "\": no escape, no match against other characters.
      {"%\x95\x5c%", "\x95\x5c\x8cv", true, true},
      {"%\\%", "\x95\x5c\x8cv", false, false},
      {"%\x5c%", "\x83\x5c", false, false},
      // A trail byte 0x5F or 0x25 is no wildcard; 0x40..0x7E trail bytes are no letters.
      {"\x81_", "\x81Q", false, false},
      {"%\x81\x5f%", "\x81Q", false, false},
      {"%a%", "\x82\x61", false, false},
      {"%@%", "\x81@", false, false},
      // "_" takes one double-byte character, never half of one.
      {"_", "\x83\x5c", true, true},
      {"__", "\x83\x5c", false, false},
      {"_\x5c", "\x83\x5c", false, false},
      // Folding: case, full width, half-width kana with voiced marks, hiragana.
      {"%\x82`%", "xa", true, false},                      // Ａ finds a
      {"%\x82\x81\x82\x82\x82\x83%", "ABC", true, false},  // ａｂｃ finds ABC
      {kWagahaiHiragana, kWagahaiKatakana, true, false},
      {kWagahaiKatakana, kWagahaiHalfWidth, true, false},
      {kWagahaiHalfWidth, kWagahaiHiragana, true, false},
      {"\xca\xdf", "\x83p", true, false},   // ﾊﾟ is パ
      {"\xca\xdf", "\x83n", false, false},  // and not ハ
      {"\xca", "\x83n", true, false},
      {"\xb3\xde", "\x83\x94", true, false},  // ｳﾞ is ヴ
      // Wildcards keep their meaning in both modes; their full-width forms are text.
      {"a%c", "abbbc", true, true},
      {"a_c",
       "a\x82\xa0"
       "c",
       true, true},
      {"a\x81\x93"
       "c",
       "abc", false, false},
      {"a\x81\x93"
       "c",
       "a%c", true, false},
      {"%", "", true, true},
      {"_", "", false, false},
      {"%a%b%", "xxaxxbxx", true, true},
      {"%a%b", "xxaxxbxxc", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SjisLike(c.pattern, c.text, MatchMode::kFolded), c.folded)
        << "folded: " << c.pattern << " / " << c.text;
    EXPECT_EQ(SjisLike(c.pattern, c.text, MatchMode::kExact), c.exact)
        << "exact: " << c.pattern << " / " << c.text;
  }
}

TEST(SjisLike, EscapeMakesTheNextCharacterText) {
  EXPECT_TRUE(SjisLike("10!%", "10%", MatchMode::kExact, "!"));
  EXPECT_FALSE(SjisLike("10!%", "100", MatchMode::kExact, "!"));
  EXPECT_TRUE(SjisLike("a\x95\x5c_", "a_", MatchMode::kExact, "\x95\x5c"));
  EXPECT_FALSE(SjisLike("a!", "a", MatchMode::kExact, "!"));
}

}  // namespace
