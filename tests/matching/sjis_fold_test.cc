// The folding of every Shift_JIS character checked against a reference that shares
// nothing with the program's own tables: glibc's code page 932 decoder (iconv) gives
// each character's Unicode code point, and Unicode's own rules, written out below from
// the Unicode character data, say what the folded form must be.
#include "matching/sjis_fold.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using matching::MatchMode;

// Converts with iconv; nullopt when the text is not valid in the source encoding.
std::optional<std::string> Convert(const char* to, const char* from, std::string_view text) {
  iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    ADD_FAILURE() << "iconv cannot convert " << from << " to " << to;
    return std::nullopt;
  }
  std::string in(text), out(16 * text.size() + 16, '\0');
  char* inAt = in.data();
  char* outAt = out.data();
  std::size_t inLeft = in.size(), outLeft = out.size();
  const std::size_t rc = iconv(converter, &inAt, &inLeft, &outAt, &outLeft);
  iconv_close(converter);
  if (rc == static_cast<std::size_t>(-1) || inLeft != 0) return std::nullopt;
  out.resize(out.size() - outLeft);
  return out;
}

// The code points of code page 932 bytes.
std::optional<std::u32string> Decode(std::string_view bytes) {
  std::optional<std::string> utf32 = Convert("UTF-32LE", "CP932", bytes);
  if (!utf32) return std::nullopt;
  std::u32string points;
  for (std::size_t i = 0; i + 4 <= utf32->size(); i += 4) {
    const auto* b = reinterpret_cast<const unsigned char*>(utf32->data() + i);
    points.push_back(b[0] | b[1] << 8 | b[2] << 16 | static_cast<char32_t>(b[3]) << 24);
  }
  return points;
}

bool InCodePage932(char32_t point) {
  const char bytes[4] = {static_cast<char>(point & 0xFF), static_cast<char>(point >> 8 & 0xFF),
                         static_cast<char>(point >> 16 & 0xFF), 0};
  return Convert("CP932", "UTF-32LE", std::string_view(bytes, 4)).has_value();
}

// The compatibility decompositions (<narrow>) of U+FF61 to U+FF9F. The two sound marks
// decompose to the combining U+3099 and U+309A; code page 932 has only their spacing
// forms U+309B and U+309C, which a mark that stays alone becomes.
constexpr char32_t kHalfWidthDecomposition[] = {
    0x3002, 0x300C, 0x300D, 0x3001, 0x30FB, 0x30F2, 0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9,
    0x30E3, 0x30E5, 0x30E7, 0x30C3, 0x30FC, 0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB,
    0x30AD, 0x30AF, 0x30B1, 0x30B3, 0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF, 0x30C1,
    0x30C4, 0x30C6, 0x30C8, 0x30CA, 0x30CB, 0x30CC, 0x30CD, 0x30CE, 0x30CF, 0x30D2, 0x30D5,
    0x30D8, 0x30DB, 0x30DE, 0x30DF, 0x30E0, 0x30E1, 0x30E2, 0x30E4, 0x30E6, 0x30E8, 0x30E9,
    0x30EA, 0x30EB, 0x30EC, 0x30ED, 0x30EF, 0x30F3, 0x309B, 0x309C};
static_assert(std::size(kHalfWidthDecomposition) == 0xFF9F - 0xFF61 + 1);

// The canonical compositions of a katakana with U+3099 (voiced) or U+309A (semi-voiced).
struct Composition {
  char32_t base, mark, composed;
};
constexpr Composition kKanaCompositions[] = {
    {0x30A6, 0x3099, 0x30F4}, {0x30AB, 0x3099, 0x30AC}, {0x30AD, 0x3099, 0x30AE},
    {0x30AF, 0x3099, 0x30B0}, {0x30B1, 0x3099, 0x30B2}, {0x30B3, 0x3099, 0x30B4},
    {0x30B5, 0x3099, 0x30B6}, {0x30B7, 0x3099, 0x30B8}, {0x30B9, 0x3099, 0x30BA},
    {0x30BB, 0x3099, 0x30BC}, {0x30BD, 0x3099, 0x30BE}, {0x30BF, 0x3099, 0x30C0},
    {0x30C1, 0x3099, 0x30C2}, {0x30C4, 0x3099, 0x30C5}, {0x30C6, 0x3099, 0x30C7},
    {0x30C8, 0x3099, 0x30C9}, {0x30CF, 0x3099, 0x30D0}, {0x30CF, 0x309A, 0x30D1},
    {0x30D2, 0x3099, 0x30D3}, {0x30D2, 0x309A, 0x30D4}, {0x30D5, 0x3099, 0x30D6},
    {0x30D5, 0x309A, 0x30D7}, {0x30D8, 0x3099, 0x30D9}, {0x30D8, 0x309A, 0x30DA},
    {0x30DB, 0x3099, 0x30DC}, {0x30DB, 0x309A, 0x30DD}, {0x30EF, 0x3099, 0x30F7},
    {0x30F0, 0x3099, 0x30F8}, {0x30F1, 0x3099, 0x30F9}, {0x30F2, 0x3099, 0x30FA},
    {0x30FD, 0x3099, 0x30FE}};

// The folded form of one code point: width (the ideographic space, full-width ASCII,
// half-width katakana), then hiragana to katakana, then ASCII letter case.
char32_t Folded(char32_t point) {
  if (point == 0x3000) point = 0x20;
  if (point >= 0xFF01 && point <= 0xFF5E) point -= 0xFEE0;
  if (point >= 0xFF61 && point <= 0xFF9F) point = kHalfWidthDecomposition[point - 0xFF61];
  if (point >= 0x3041 && point <= 0x3096) point += 0x60;
  if (point >= 'A' && point <= 'Z') point += 'a' - 'A';
  return point;
}

// The composed form of a half-width kana and the half-width sound mark after it, when
// Unicode composes them and code page 932 holds the result.
std::optional<char32_t> Composed(char32_t kana, char32_t mark) {
  const char32_t combining = mark == 0xFF9E ? 0x3099 : mark == 0xFF9F ? 0x309A : 0;
  for (const Composition& c : kKanaCompositions) {
    if (c.base == Folded(kana) && c.mark == combining && InCodePage932(c.composed)) {
      return c.composed;
    }
  }
  return std::nullopt;
}

// The unit as the character it stands for, decoded by iconv.
std::optional<std::u32string> UnitText(std::uint32_t unit) {
  std::string bytes;
  if (unit > 0xFF) bytes.push_back(static_cast<char>(unit >> 8));
  bytes.push_back(static_cast<char>(unit & 0xFF));
  return Decode(bytes);
}

// Every character of code page 932 as bytes: the printable ASCII, the half-width kana
// and every lead and trail byte pair.
std::vector<std::string> EveryCharacter() {
  std::vector<std::string> characters;
  for (int c = 0x20; c <= 0x7E; ++c) characters.emplace_back(1, static_cast<char>(c));
  for (int c = 0xA1; c <= 0xDF; ++c) characters.emplace_back(1, static_cast<char>(c));
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (lead >= 0xA0 && lead <= 0xDF) continue;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      characters.push_back({static_cast<char>(lead), static_cast<char>(trail)});
    }
  }
  return characters;
}

// The vendor forms of ＂ and ＇ (NEC-selected and IBM rows) lie outside lead byte 0x81 and
// are compared as themselves: the search indexes and the server functions built so far
// hold them so.
constexpr std::uint32_t kKeptAsThemselves[] = {0xEEFB, 0xEEFC, 0xFA56, 0xFA57};

TEST(SjisFold, EveryCharacterFoldsAsUnicodeSaysItsFormIs) {
  int compared = 0, folded = 0;
  for (const std::string& character : EveryCharacter()) {
    std::optional<std::u32string> point = Decode(character);
    if (character.size() == 2 &&
        std::ranges::count(kKeptAsThemselves, static_cast<unsigned char>(character[0]) * 256u +
                                                  static_cast<unsigned char>(character[1]))) {
      point.reset();
    }
    std::size_t i = 0;
    const std::uint32_t unit = matching::NextUnit(character, i, MatchMode::kFolded);
    EXPECT_EQ(i, character.size());
    if (!point) {
      // Not a character of the code page, or kept: compared as the bytes it is.
      EXPECT_EQ(unit,
                static_cast<unsigned char>(character[0]) * (character.size() == 2 ? 256u : 1u) +
                    (character.size() == 2 ? static_cast<unsigned char>(character[1]) : 0u))
          << std::hex << unit;
      continue;
    }
    ASSERT_EQ(point->size(), 1u);
    const char32_t expected = Folded((*point)[0]);
    const std::optional<std::u32string> got = UnitText(unit);
    EXPECT_EQ(got, std::u32string(1, expected))
        << "character U+" << std::hex << static_cast<std::uint32_t>((*point)[0]) << " unit "
        << unit;
    // Exact matching compares the character as it is.
    i = 0;
    EXPECT_EQ(UnitText(matching::NextUnit(character, i, MatchMode::kExact)), point);
    ++compared;
    folded += expected != (*point)[0];
  }
  // glibc decodes 9,758 characters (the 1,880 of the user-defined rows among them), of
  // which 265 fold: 26 ASCII capitals, 92 full-width ASCII forms, the ideographic space,
  // 83 hiragana and 63 half-width kana.
  EXPECT_GT(compared, 9000);
  EXPECT_GT(folded, 250);
}

TEST(SjisFold, HalfWidthKanaJoinTheSoundMarkAfterThemAsUnicodeComposes) {
  int joined = 0;
  for (int kana = 0xA1; kana <= 0xDF; ++kana) {
    for (int mark : {0xDE, 0xDF}) {
      const std::string text = {static_cast<char>(kana), static_cast<char>(mark)};
      const std::optional<std::u32string> points = Decode(text);
      ASSERT_TRUE(points && points->size() == 2) << std::hex << kana;
      std::vector<std::u32string> expected;
      if (std::optional<char32_t> composed = Composed((*points)[0], (*points)[1])) {
        expected = {std::u32string(1, *composed)};
        ++joined;
      } else {
        expected = {std::u32string(1, Folded((*points)[0])),
                    std::u32string(1, Folded((*points)[1]))};
      }
      std::vector<std::u32string> units;
      for (std::size_t i = 0; i < text.size();) {
        units.push_back(UnitText(matching::NextUnit(text, i, MatchMode::kFolded)).value_or(U"?"));
      }
      EXPECT_EQ(units, expected) << std::hex << kana << ' ' << mark;
    }
  }
  // ｳ, ｶ to ﾄ (15), ﾊ to ﾎ twice (10); ﾜﾞ and ｦﾞ compose to characters code page 932
  // does not have.
  EXPECT_EQ(joined, 26);
}

// The NEC-selected rows repeat kanji of the IBM extension at other codes; the loose mode
// reads both as one. Checked against every pair of kanji codes iconv decodes to one
// code point.
TEST(SjisFold, KanjiThatDecodeToOneCodePointAreOneLooseUnit) {
  std::map<char32_t, std::vector<std::string>> codes;
  for (const std::string& character : EveryCharacter()) {
    const std::optional<std::u32string> point = Decode(character);
    if (!point || point->size() != 1) continue;
    const char32_t p = (*point)[0];
    if ((p >= 0x4E00 && p <= 0x9FFF) || (p >= 0xF900 && p <= 0xFAFF)) codes[p].push_back(character);
  }
  int twins = 0;
  for (const auto& [point, forms] : codes) {
    if (forms.size() < 2) continue;
    ++twins;
    std::size_t i = 0;
    const std::uint32_t first = matching::NextUnit(forms[0], i, MatchMode::kLoose);
    for (const std::string& form : forms) {
      i = 0;
      EXPECT_EQ(matching::NextUnit(form, i, MatchMode::kLoose), first)
          << "U+" << std::hex << static_cast<std::uint32_t>(point);
    }
  }
  EXPECT_EQ(twins, 360);
}

}  // namespace
