// The loose matching mode of LIKE: separators and blanks passed over, variant kanji read
// as one. The search index and the PostgreSQL functions are held to it in their own
// tests (tests/tools).
#include <iconv.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "matching/sjis_fold.h"
#include "matching/sjis_like.h"

namespace {

using matching::MatchMode;
using matching::SjisLike;

std::string Code(std::uint16_t code) {
  return {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
}

// Texts a patron types and texts the catalogue holds; the bytes of each are written out
// so that a table converted with the wrong encoding cannot pass.
TEST(LooseMatch, SeparatorsWidthsAndVariantsAgainstFoldedAndExact) {
  struct Case {
    const char* pattern;
    const char* text;
    bool loose, folded;
  };
  const Case cases[] = {
      // 夏目 漱石 (a half-width and a full-width blank) finds 夏目漱石, and back.
      {"%\x89\xc4\x96\xda \x9f\xf9\x90\xce%", "\x89\xc4\x96\xda\x9f\xf9\x90\xce", true, false},
      {"%\x89\xc4\x96\xda\x81\x40\x9f\xf9\x90\xce%", "\x89\xc4\x96\xda\x9f\xf9\x90\xce", true,
       false},
      {"%\x89\xc4\x96\xda\x9f\xf9\x90\xce%", "\x89\xc4\x96\xda \x9f\xf9\x90\xce", true, false},
      // なつめ そうせき finds the reading ナツメ, ソウセキ.
      {"%\x82\xc8\x82\xc2\x82\xdf \x82\xbb\x82\xa4\x82\xb9\x82\xab%",
       "\x83\x69\x83\x63\x83\x81, \x83\x5c\x83\x45\x83\x5a\x83\x4c", true, false},
      // ハリーポッター finds ハリー・ポッター; ･ ‐ － ― 、 ， too.
      {"%\x83\x6e\x83\x8a\x81\x5b\x83\x7c\x83\x62\x83\x5e\x81\x5b%",
       "\x83\x6e\x83\x8a\x81\x5b\x81\x45\x83\x7c\x83\x62\x83\x5e\x81\x5b", true, false},
      {"%\x83\x6e\x83\x8a%", "\x83\x6e\xa5\x83\x8a", true, false},
      {"%ab%", "a\x81\x5d" "b", true, false},
      {"%ab%", "a\x81\x7c" "b", true, false},
      {"%ab%", "a\x81\x5c" "b", true, false},
      {"%ab%", "a\x81\x41" "b", true, false},
      {"%ab%", "a\x81\x43" "b", true, false},
      {"%ab%", "a-b", true, false},
      {"%4101010014%", "4-10-101001-4", true, false},
      // The long vowel mark is part of a word, full and half width.
      {"%\x83\x6e\x83\x8a\x83\x7c%", "\x83\x6e\x83\x8a\x81\x5b\x83\x7c", false, false},
      {"%\x83\x6e\x83\x8a\x81\x5b%", "\xca\xd8\xb0", true, true},
      // 渡辺 finds 渡邊 and back; 高 finds 髙.
      {"%\x93\x6e\x95\xd3%", "\x93\x6e\xe7\xb2", true, false},
      {"%\x93\x6e\xe7\xb2%", "\x93\x6e\x95\xd3", true, false},
      {"\x8d\x82", "\xfb\xfc", true, false},
      // Wildcards: "_" still takes one character, never a skipped separator alone.
      {"a_b", "a-b", false, true},
      {"a_b", "a-xb", true, false},
      {"%", "- \x81\x45", true, true},
      // A full-width ％ is text in every mode; the plain "%" around it keeps its meaning.
      {"%100\x81\x93%", "100%", true, true},
      {"%100\x81\x93%", "1000", false, false},
      {"%\x81\x51%", "a_b", true, true},
      {"%\x81\x51%", "ab", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SjisLike(c.pattern, c.text, MatchMode::kLoose), c.loose)
        << "loose: " << c.pattern << " / " << c.text;
    EXPECT_EQ(SjisLike(c.pattern, c.text, MatchMode::kFolded), c.folded)
        << "folded: " << c.pattern << " / " << c.text;
  }
}

// Every form of every group finds every other form of it, as a word inside a text, and
// never does so in the folded mode.
TEST(LooseMatch, EveryVariantPairFindsEachOther) {
  const auto pairs = matching::VariantPairs();
  ASSERT_GE(pairs.size(), 250u);
  // A few pairs written out: 髙/高, 﨑/崎, 邊/邉/辺, 德/徳, 濱/濵/浜.
  const matching::VariantPair known[] = {{0xFBFC, 0x8D82}, {0xFAB1, 0x8DE8}, {0xE7B2, 0x95D3},
                                         {0xE7B3, 0x95D3}, {0xFABA, 0x93BF}, {0xE05F, 0x956C},
                                         {0xFB4D, 0x956C}};
  for (const matching::VariantPair& pair : known) {
    EXPECT_TRUE(std::any_of(pairs.begin(), pairs.end(), [&](const matching::VariantPair& p) {
      return p.variant == pair.variant && p.form == pair.form;
    })) << std::hex << pair.variant;
  }
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (i > 0) {
      EXPECT_LT(pairs[i - 1].variant, pairs[i].variant) << "sorted, no repeats";
    }
    const std::string variant = Code(pairs[i].variant), form = Code(pairs[i].form);
    EXPECT_EQ(matching::LooseUnit(pairs[i].form), pairs[i].form) << "a form is no variant";
    EXPECT_TRUE(SjisLike("%" + form + "%", "a" + variant + "b", MatchMode::kLoose)) << variant;
    EXPECT_TRUE(SjisLike("%" + variant + "%", "a" + form + "b", MatchMode::kLoose)) << variant;
    EXPECT_FALSE(SjisLike("%" + variant + "%", "a" + form + "b", MatchMode::kFolded)) << variant;
  }
}

// Code page 932 holds the IBM extension's kanji twice; both codes read as one character.
TEST(LooseMatch, NecSelectedKanjiAreTheirIbmTwins) {
  iconv_t toUnicode = iconv_open("UTF-8", "CP932");
  ASSERT_NE(toUnicode, reinterpret_cast<iconv_t>(-1));
  auto unicode = [&](std::uint16_t code) {
    std::string in = Code(code), out(8, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    std::size_t inLeft = in.size(), outLeft = out.size();
    iconv(toUnicode, &inPtr, &inLeft, &outPtr, &outLeft);
    out.resize(out.size() - outLeft);
    return out;
  };
  int twins = 0;
  for (std::uint16_t nec = 0xED40; nec <= 0xEEEC; ++nec) {
    if ((nec & 0xFF) < 0x40 || (nec & 0xFF) == 0x7F || (nec & 0xFF) > 0xFC) continue;
    std::size_t i = 0;
    const std::uint32_t unit = matching::NextUnit(Code(nec), i, MatchMode::kLoose);
    // The unit is the IBM code or, for a variant, the group's form.
    const std::uint32_t ibm = unit >= 0xFA40 ? unit : 0;
    if (ibm) {
      EXPECT_EQ(unicode(nec), unicode(static_cast<std::uint16_t>(ibm))) << std::hex << nec;
    } else {
      EXPECT_TRUE(SjisLike(Code(static_cast<std::uint16_t>(unit)), Code(nec), MatchMode::kLoose));
    }
    ++twins;
  }
  iconv_close(toUnicode);
  EXPECT_EQ(twins, 360);
}

// Which characters the loose mode passes over, judged by what they are in Unicode
// (iconv's code page 932) rather than by their Shift_JIS codes: blanks, separators and
// the punctuation of titles and names, in either width; nothing else.
TEST(LooseMatch, PassedOverCharactersAreTheBlanksSeparatorsAndPunctuationOfUnicode) {
  const std::u32string passedOver =
      U" ,-\u3000\u30FB\uFF65\u3001\uFF64\uFF0C\u2010\uFF0D\u2015"  // blanks, separators
      U".!?()/:;\u3002\uFF0E\uFF01\uFF1F\uFF08\uFF09\uFF0F\uFF1A\uFF1B\uFF61"
      U"\u300C\u300D\u300E\u300F\uFF62\uFF63\u3014\u3015\u3010\u3011"
      U"\u3008\u3009\u300A\u300B\u201C\u201D\u2018\u2019";
  iconv_t toUnicode = iconv_open("UTF-32LE", "CP932");
  ASSERT_NE(toUnicode, reinterpret_cast<iconv_t>(-1));
  std::u32string found;
  auto check = [&](std::string character) {
    char32_t codePoint = 0;
    char* in = character.data();
    char* out = reinterpret_cast<char*>(&codePoint);
    std::size_t inLeft = character.size(), outLeft = sizeof codePoint;
    if (iconv(toUnicode, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1)) return;
    std::size_t i = 0;
    const bool passed =
        matching::NextUnit(character, i, MatchMode::kLoose) == matching::kIgnoredUnit;
    EXPECT_EQ(passed, passedOver.find(codePoint) != std::u32string::npos)
        << std::hex << "U+" << static_cast<std::uint32_t>(codePoint);
    if (passed) found += codePoint;
  };
  for (int c = 0x20; c <= 0xDF; ++c) {
    if (c < 0x7F || c >= 0xA1) check(std::string(1, static_cast<char>(c)));
  }
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (lead >= 0xA0 && lead <= 0xDF) continue;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail != 0x7F) check({static_cast<char>(lead), static_cast<char>(trail)});
    }
  }
  iconv_close(toUnicode);
  for (char32_t codePoint : passedOver) {
    EXPECT_NE(found.find(codePoint), std::u32string::npos)
        << std::hex << "no character passed over for U+" << static_cast<std::uint32_t>(codePoint);
  }
}

// Titles and names as a patron types them, with the punctuation the catalogue holds or
// lacks; the folded mode still tells them apart.
TEST(LooseMatch, PunctuationOfTitlesAndNamesIsPassedOver) {
  struct Case {
    const char* pattern;
    const char* text;
  };
  const Case cases[] = {
      {"%\x8c\xe1\x94\x79\x82\xcd\x94\x4c\x82\xc5\x82\xa0\x82\xe9\x81\x42%",  // 吾輩は猫である。
       "\x8c\xe1\x94\x79\x82\xcd\x94\x4c\x82\xc5\x82\xa0\x82\xe9"},
      {"%\x8a\xc3\x82\xa6\x82\xcc\x8d\x5c\x91\xa2%",  // 甘えの構造 / 「甘え」の構造
       "\x81\x75\x8a\xc3\x82\xa6\x81\x76\x82\xcc\x8d\x5c\x91\xa2"},
      {"%\xa2\x8a\xc3\x82\xa6\xa3\x82\xcc%",  // ｢甘え｣の / 『甘え』の
       "\x81\x77\x8a\xc3\x82\xa6\x81\x78\x82\xcc"},
      {"%jk\x83\x8d\x81\x5b%", "J.K.\x83\x8d\x81\x5b"},  // JKロー / J.K.ロー
      {"%\x82\x69\x81\x44\x82\x6a%", "jk"},              // Ｊ．Ｋ / jk
      {"%ab%", "a(b)"},
      {"%ab%", "a/b"},
      {"%ab%", "a:b;"},
      {"%ab%", "a!?b"},
      {"%ab%",
       "a\x81\x69"
       "b\x81\x6a"},
      {"%ab%",
       "a\x81\x6b"
       "b\x81\x6c"},  // （）〔〕
      {"%ab%",
       "\x81\x79"
       "a\x81\x7a"
       "b"},
      {"%ab%",
       "a\x81\x71\x81\x73"
       "b"},  // 【】〈《
      {"%ab%",
       "a\x81\x67\x81\x68"
       "b"},
      {"%ab%",
       "a\x81\x65\x81\x66"
       "b"},  // “”‘’
      {"%ab%",
       "a\xa1"
       "b"},  // ｡
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(SjisLike(c.pattern, c.text, MatchMode::kLoose)) << c.pattern << " / " << c.text;
    EXPECT_FALSE(SjisLike(c.pattern, c.text, MatchMode::kFolded)) << c.pattern << " / " << c.text;
  }
  // "_" takes one character, never a punctuation mark alone; "%" stays a wildcard.
  EXPECT_FALSE(SjisLike("a_b", "a.b", MatchMode::kLoose));
  EXPECT_TRUE(SjisLike("a_b", "a.x)b", MatchMode::kLoose));
  EXPECT_TRUE(SjisLike("%\x81\x75%", "x", MatchMode::kLoose));  // 「 alone: nothing to look for
}

}  // namespace
