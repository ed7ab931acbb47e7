// The UTF-8 forms of catalogue texts against glibc's iconv (code page 932), which the
// program itself never calls while it runs: every Shift_JIS character, both ways.
#include "matching/utf8_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/support/iconv_text.h"

namespace {

using test_support::IconvText;

TEST(Utf8Text, EveryShiftJisCharacterIsWhatIconvReadsAndComesBack) {
  int characters = 0;
  for (unsigned code = 0x20; code <= 0xFCFC; ++code) {
    std::string sjis;
    if (code < 0x100) {
      if (code >= 0x7F && (code < 0xA1 || code > 0xDF)) continue;
      sjis = std::string(1, static_cast<char>(code));
    } else {
      const unsigned lead = code >> 8, trail = code & 0xFF;
      if (!((lead >= 0x81 && lead <= 0x9F) || lead >= 0xE0) || trail < 0x40 || trail == 0x7F ||
          trail > 0xFC)
        continue;
      sjis = {static_cast<char>(lead), static_cast<char>(trail)};
    }
    const std::optional<std::string> expected = IconvText("UTF-8", "CP932", sjis);
    ASSERT_EQ(matching::Utf8FromSjis(sjis), expected.value_or("\xEF\xBF\xBD")) << std::hex << code;
    if (!expected) continue;
    ++characters;
    // Back: a character the code page holds twice comes back at one of its codes,
    // which iconv reads as the same character.
    const std::optional<std::string> back = matching::SjisFromUtf8(*expected);
    ASSERT_TRUE(back) << std::hex << code;
    ASSERT_EQ(IconvText("UTF-8", "CP932", *back), expected) << std::hex << code;
  }
  EXPECT_GT(characters, 7000);
}

TEST(Utf8Text, ReferencesBrokenBytesAndCharactersOutsideShiftJis) {
  struct Case {
    const char* name;
    std::string sjis;
    std::string utf8;
  } toUtf8[] = {
      {"a stored reference is its character", "\x90\x58&#40407;\x8a\x4f", "森鷗外"},
      {"hexadecimal reference", "&#x9DD7;", "鷗"},
      {"a malformed reference stays text", "&#xZZ;", "&#xZZ;"},
      {"a lead byte at the end", "a\x82", "a\xEF\xBF\xBD"},
      {"a byte code page 932 lacks", "\x80", "\xEF\xBF\xBD"},
      {"ASCII control bytes pass", "a\tb\r\n", "a\tb\r\n"},
  };
  for (const Case& c : toUtf8) EXPECT_EQ(matching::Utf8FromSjis(c.sjis), c.utf8) << c.name;

  struct Back {
    const char* name;
    std::string utf8;
    std::optional<std::string> sjis;
  } toSjis[] = {
      {"outside kanji as the catalogue's form", "鷗", std::string("\x89\xa8")},  // 鴎
      {"no form: a reference", "\xF0\x9F\x98\x80", std::string("&#128512;")},
      {"overlong", "\xC0\xAF", std::nullopt},
      {"surrogate", "\xED\xA0\x80", std::nullopt},
      {"cut short", "\xE3\x81", std::nullopt},
      {"stray continuation", "\x80", std::nullopt},
  };
  for (const Back& c : toSjis) EXPECT_EQ(matching::SjisFromUtf8(c.utf8), c.sjis) << c.name;
}

}  // namespace
