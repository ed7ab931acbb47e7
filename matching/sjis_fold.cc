#include "matching/sjis_fold.h"

#include <algorithm>
#include <bitset>
#include <string_view>
#include <vector>

#include "matching/variant_kanji.h"
#include "platform/invariant.h"
#include "platform/sjis.h"

namespace matching {

namespace {

// Full-width katakana and marks for the half-width katakana 0xA1 to 0xDF.
constexpr std::uint16_t kHalfWidthKana[] = {
    0x8142, 0x8175, 0x8176, 0x8141, 0x8145, 0x8392, 0x8340, 0x8342, 0x8344, 0x8346, 0x8348,
    0x8383, 0x8385, 0x8387, 0x8362, 0x815B, 0x8341, 0x8343, 0x8345, 0x8347, 0x8349, 0x834A,
    0x834C, 0x834E, 0x8350, 0x8352, 0x8354, 0x8356, 0x8358, 0x835A, 0x835C, 0x835E, 0x8360,
    0x8363, 0x8365, 0x8367, 0x8369, 0x836A, 0x836B, 0x836C, 0x836D, 0x836E, 0x8371, 0x8374,
    0x8377, 0x837A, 0x837D, 0x837E, 0x8380, 0x8381, 0x8382, 0x8384, 0x8386, 0x8388, 0x8389,
    0x838A, 0x838B, 0x838C, 0x838D, 0x838F, 0x8393, 0x814A, 0x814B};
constexpr unsigned char kVoicedMark = 0xDE;
constexpr unsigned char kSemiVoicedMark = 0xDF;

// Full-width forms of the ASCII symbols (letters and digits lie in runs, handled apart).
struct FullWidthSymbol {
  std::uint16_t code;
  char ascii;
};
constexpr FullWidthSymbol kFullWidthSymbols[] = {
    {0x8140, ' '}, {0x8149, '!'}, {0xEEFC, '"'},  {0xFA57, '"'},  {0x8194, '#'}, {0x8190, '$'},
    {0x8193, '%'}, {0x8195, '&'}, {0xEEFB, '\''}, {0xFA56, '\''}, {0x8169, '('}, {0x816A, ')'},
    {0x8196, '*'}, {0x817B, '+'}, {0x8143, ','},  {0x817C, '-'},  {0x8144, '.'}, {0x815E, '/'},
    {0x8146, ':'}, {0x8147, ';'}, {0x8183, '<'},  {0x8181, '='},  {0x8184, '>'}, {0x8148, '?'},
    {0x8197, '@'}, {0x816D, '['}, {0x815F, '\\'}, {0x816E, ']'},  {0x814F, '^'}, {0x8151, '_'},
    {0x814D, '`'}, {0x816F, '{'}, {0x8162, '|'},  {0x8170, '}'},  {0x8160, '~'}};

std::uint32_t FoldAscii(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32u : c; }

// Half-width katakana that takes a voiced mark (ｶ to ﾄ, ﾊ to ﾎ, ｳ) or a semi-voiced one
// (ﾊ to ﾎ); its full-width form with the mark, or 0.
std::uint32_t JoinedKana(unsigned char kana, unsigned char mark) {
  const std::uint32_t plain = kHalfWidthKana[kana - 0xA1];
  if (mark == kVoicedMark) {
    if (kana == 0xB3) return 0x8394;  // ｳﾞ is ヴ
    if ((kana >= 0xB6 && kana <= 0xC4) || (kana >= 0xCA && kana <= 0xCE)) return plain + 1;
  } else if (mark == kSemiVoicedMark && kana >= 0xCA && kana <= 0xCE) {
    return plain + 2;
  }
  return 0;
}

std::uint32_t FoldDoubleByte(std::uint32_t code) {
  if (code >= 0x8260 && code <= 0x8279) return 'a' + (code - 0x8260);  // Ａ to Ｚ
  if (code >= 0x8281 && code <= 0x829A) return 'a' + (code - 0x8281);  // ａ to ｚ
  if (code >= 0x824F && code <= 0x8258) return '0' + (code - 0x824F);  // ０ to ９
  // Hiragana lie in the order of katakana, which skips 0x837F.
  if (code >= 0x829F && code <= 0x82DD) return 0x8340 + (code - 0x829F);
  if (code >= 0x82DE && code <= 0x82F1) return 0x8380 + (code - 0x82DE);
  // Every full-width symbol with an ASCII twin has the lead byte 0x81; kanji, the
  // bulk of any catalogue text, skip the table.
  if (code >> 8 != 0x81) return code;
  for (const FullWidthSymbol& symbol : kFullWidthSymbols) {
    if (symbol.code == code) return static_cast<unsigned char>(symbol.ascii);
  }
  return code;
}

// Position of a double-byte code among all lead and trail byte pairs from lead 0x81 on
// (188 trail bytes a lead byte), so that runs of characters can be counted across
// lead bytes.
constexpr int kTrailBytes = 188;
constexpr int PairIndex(std::uint32_t code) {
  const int trail = static_cast<int>(code & 0xFF);
  return static_cast<int>((code >> 8) - 0x81) * kTrailBytes + trail - 0x40 -
         (trail >= 0x80 ? 1 : 0);
}
constexpr std::uint32_t PairCode(int index) {
  const int trail = index % kTrailBytes + 0x40;
  return static_cast<std::uint32_t>((0x81 + index / kTrailBytes) * 256 + trail +
                                    (trail >= 0x7F ? 1 : 0));
}

// The NEC-selected rows (0xED40 to 0xEEEC) repeat the 360 kanji of the IBM extension
// (0xFA5C to 0xFC4B) in the same order.
constexpr int kNecSelectedFirst = PairIndex(0xED40);
constexpr int kIbmKanjiFirst = PairIndex(0xFA5C);
constexpr int kRepeatedKanji = 360;
static_assert(PairCode(kNecSelectedFirst + kRepeatedKanji - 1) == 0xEEEC);
static_assert(PairCode(kIbmKanjiFirst + kRepeatedKanji - 1) == 0xFC4B);

std::uint32_t IbmForm(std::uint32_t code) {
  const int nec = PairIndex(code) - kNecSelectedFirst;
  return code >= 0xED40 && nec < kRepeatedKanji ? PairCode(kIbmKanjiFirst + nec) : code;
}

// The table's groups, blanks between them, each a run of double-byte characters.
std::vector<VariantPair> ReadVariantTable() {
  const std::string_view lines[] = {variant_kanji::kVariantKanji01, variant_kanji::kVariantKanji02,
                                    variant_kanji::kVariantKanji03, variant_kanji::kVariantKanji04,
                                    variant_kanji::kVariantKanji05, variant_kanji::kVariantKanji06,
                                    variant_kanji::kVariantKanji07, variant_kanji::kVariantKanji08,
                                    variant_kanji::kVariantKanji09, variant_kanji::kVariantKanji10,
                                    variant_kanji::kVariantKanji11, variant_kanji::kVariantKanji12,
                                    variant_kanji::kVariantKanji13, variant_kanji::kVariantKanji14,
                                    variant_kanji::kVariantKanji15, variant_kanji::kVariantKanji16,
                                    variant_kanji::kVariantKanji17, variant_kanji::kVariantKanji18,
                                    variant_kanji::kVariantKanji19, variant_kanji::kVariantKanji20,
                                    variant_kanji::kVariantKanji21, variant_kanji::kVariantKanji22,
                                    variant_kanji::kVariantKanji23};
  std::vector<VariantPair> pairs;
  for (std::string_view line : lines) {
    std::uint16_t form = 0;
    for (std::size_t i = 0; i < line.size();) {
      if (line[i] == ' ') {
        form = 0;
        ++i;
        continue;
      }
      const auto code = static_cast<std::uint16_t>(static_cast<unsigned char>(line[i]) * 256 +
                                                   static_cast<unsigned char>(line[i + 1]));
      i += 2;
      if (form == 0) {
        form = code;
      } else {
        pairs.push_back({code, form});
      }
    }
  }
  std::sort(pairs.begin(), pairs.end(),
            [](const VariantPair& a, const VariantPair& b) { return a.variant < b.variant; });
  return pairs;
}

// Blanks and separators, and the punctuation of titles and names: a patron types
// 吾輩は猫である for 吾輩は猫である。 and JKローリング for J.K.ローリング. Full-width
// forms of ASCII marks arrive here folded to ASCII, half-width ｡｢｣ to 。「」.
bool IsSeparator(std::uint32_t unit) {
  switch (unit) {
    case ' ':
    case ',':
    case '-':
    case '.':
    case '/':
    case ':':
    case ';':
    case '!':
    case '?':
    case '(':
    case ')':
    case 0x8141:  // 、
    case 0x8142:  // 。
    case 0x8145:  // ・ (and the half-width ･, folded to it)
    case 0x815C:  // ―
    case 0x815D:  // ‐
    case 0x8165:  // ‘
    case 0x8166:  // ’
    case 0x8167:  // “
    case 0x8168:  // ”
    case 0x816B:  // 〔
    case 0x816C:  // 〕
    case 0x8171:  // 〈
    case 0x8172:  // 〉
    case 0x8173:  // 《
    case 0x8174:  // 》
    case 0x8175:  // 「
    case 0x8176:  // 」
    case 0x8177:  // 『
    case 0x8178:  // 』
    case 0x8179:  // 【
    case 0x817A:  // 】
      return true;
    default:
      return false;
  }
}

// The table, and one bit a code that says whether the table holds it: most kanji of a
// text are no variant, and a bit is cheaper to read than the table.
struct VariantTable {
  std::vector<VariantPair> pairs = ReadVariantTable();
  std::bitset<0x10000> held = [this] {
    std::bitset<0x10000> bits;
    for (const VariantPair& pair : pairs) bits.set(pair.variant);
    return bits;
  }();
};

const VariantTable& Variants() {
  static const VariantTable table;
  return table;
}

}  // namespace

std::span<const VariantPair> VariantPairs() { return Variants().pairs; }

std::uint32_t LooseUnit(std::uint32_t unit) {
  if (unit < 0x8800) return IsSeparator(unit) ? kIgnoredUnit : unit;
  // Kanji lie from 0x889F on, past every separator.
  const std::uint32_t code = IbmForm(unit);
  const VariantTable& table = Variants();
  if (!table.held.test(code)) return code;
  const std::span<const VariantPair> pairs = table.pairs;
  auto found = std::lower_bound(
      pairs.begin(), pairs.end(), code,
      [](const VariantPair& pair, std::uint32_t value) { return pair.variant < value; });
  return found != pairs.end() && found->variant == code ? found->form : code;
}

bool LooseTextPassedOver(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    if (NextUnit(text, i, MatchMode::kLoose) != kIgnoredUnit) return false;
  }
  return true;
}

std::uint32_t NextUnit(std::string_view text, std::size_t& i, MatchMode mode) {
  LIRAWEB_ASSERT(i < text.size());  // callers walk only while units remain
  const unsigned char c = text[i];
  if (platform::CharLength(text, i) == 2) {
    const std::uint32_t code = c * 256u + static_cast<unsigned char>(text[i + 1]);
    i += 2;
    if (mode == MatchMode::kExact) return code;
    return mode == MatchMode::kLoose ? LooseUnit(FoldDoubleByte(code)) : FoldDoubleByte(code);
  }
  ++i;
  if (mode == MatchMode::kExact) return c;
  std::uint32_t unit = FoldAscii(c);
  if (c >= 0xA1 && c <= 0xDF) {
    unit = kHalfWidthKana[c - 0xA1];
    if (i < text.size()) {
      if (std::uint32_t joined = JoinedKana(c, text[i])) {
        ++i;
        unit = joined;
      }
    }
  }
  return mode == MatchMode::kLoose ? LooseUnit(unit) : unit;
}

}  // namespace matching
