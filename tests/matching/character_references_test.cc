// Numeric character references in search texts, read as their Shift_JIS characters and
// held to iconv's code page 932, which the program does not consult while it runs.
#include "matching/character_references.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "matching/sjis_fold.h"
#include "matching/sjis_like.h"
#include "tests/support/iconv_text.h"

namespace {

using matching::MatchMode;
using matching::ReadCharacterReferences;

// iconv's Shift_JIS for one Unicode character, or nullopt where code page 932 has none.
std::optional<std::string> IconvSjis(char32_t c) {
  std::string utf32;
  for (int b = 0; b < 4; ++b) utf32.push_back(static_cast<char>(c >> (8 * b) & 0xFF));
  return test_support::IconvText("CP932", "UTF-32LE", utf32);
}

// Every character of the Basic Multilingual Plane and the first supplementary planes'
// start, as a decimal and as a hexadecimal reference between two letters: read as
// iconv writes it, or left as written where iconv has no Shift_JIS for it.
TEST(CharacterReferences, EveryCharacterIsReadAsIconvWritesIt) {
  int read = 0;
  for (char32_t c = 0x20; c < 0x20100; ++c) {
    if ((c >= 0x7F && c < 0xA0) || (c >= 0xD800 && c <= 0xDFFF)) continue;
    const std::optional<std::string> sjis = IconvSjis(c);
    const std::string decimal = "&#" + std::to_string(static_cast<std::uint32_t>(c)) + ";";
    char hex[16];
    std::snprintf(hex, sizeof hex, "&#x%X;", static_cast<unsigned>(c));
    for (const std::string& reference : {decimal, std::string(hex)}) {
      const std::string got = ReadCharacterReferences("a" + reference + "b");
      if (sjis) {
        ASSERT_EQ(got, "a" + *sjis + "b") << reference;
      } else if (got != "a" + reference + "b") {
        // Only the kanji of the outside table have a form iconv does not write.
        ASSERT_EQ(got.size(), 4u) << reference;
      }
    }
    if (sjis) ++read;
  }
  EXPECT_GT(read, 7000);
}

// The kanji outside Shift_JIS that catalogues hold in another form, written out by
// their Unicode code points and the bytes of their forms; under the loose mode they
// also find the variants of those forms.
TEST(CharacterReferences, KanjiOutsideShiftJisAreTheirCommonForms) {
  struct Case {
    const char* reference;
    const char* form;
  } cases[] = {
      {"&#40407;", "\x89\xa8"},   // 鷗 U+9DD7: 鴎
      {"&#x20BB7;", "\x8b\x67"},  // 𠮷 U+20BB7: 吉
      {"&#x525D;", "\x94\x8d"},   // 剝: 剥
      {"&#x9830;", "\x96\x6a"},   // 頰: 頬
      {"&#xFA11;", "\xfa\xb1"},   // 﨑 is in code page 932 (IBM extension)
      {"&#x9AD9;", "\xfb\xfc"},   // 髙 too
  };
  EXPECT_EQ(IconvSjis(0x9DD7), std::nullopt) << "鷗 is outside code page 932";
  for (const Case& c : cases) {
    EXPECT_EQ(ReadCharacterReferences(c.reference), c.form) << c.reference;
  }
  // 﨑 and 髙 find 崎 and 高 under the loose mode.
  EXPECT_TRUE(
      matching::SjisLike("%\x8d\xe8%", ReadCharacterReferences("&#xFA11;"), MatchMode::kLoose));
  EXPECT_TRUE(
      matching::SjisLike("%\x8d\x82%", ReadCharacterReferences("&#x9AD9;"), MatchMode::kLoose));
}

// What is not a reference, or names no character a page holds, stays as written; a
// character outside Shift_JIS without an outside form stays its reference.
TEST(CharacterReferences, MalformedReferencesStayAsWritten) {
  const char* const kept[] = {"&#;",       "&#x;",     "&#40407", "&#12345678;", "&#x110000;",
                              "&#55296;",  "&#xD800;", "&#0;",    "&#31;",       "&#x7F;",
                              "&#x9F;",    "&#-1;",    "&# 65;",  "&#x1234567;", "&amp;",
                              "&#128512;", "&#x1F600;"};
  for (const char* text : kept) EXPECT_EQ(ReadCharacterReferences(text), text) << text;
  EXPECT_EQ(ReadCharacterReferences("&#65;&#x62;&#X63;&#0000065;"), "AbcA");
  EXPECT_EQ(ReadCharacterReferences("&#65;&#65"), "A&#65");
}

}  // namespace
