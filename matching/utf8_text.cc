#include "matching/utf8_text.h"

#include <algorithm>
#include <iterator>

#include "matching/character_references.h"
#include "matching/unicode_sjis.h"
#include "platform/character_reference.h"
#include "platform/sjis.h"
#include "platform/utf8.h"

namespace matching {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The character code page 932 reads for a code beyond ASCII, or U+FFFD.
char32_t CharacterOf(std::uint16_t code) {
  const auto& characters = unicode_sjis::kCharacters;
  const auto* found = std::lower_bound(
      std::begin(characters), std::end(characters), code,
      [](const unicode_sjis::Character& entry, std::uint16_t c) { return entry.sjis < c; });
  return found != std::end(characters) && found->sjis == code ? found->character : kReplacement;
}

}  // namespace

std::string Utf8FromSjis(std::string_view sjis) {
  std::string utf8;
  utf8.reserve(sjis.size() * 3 / 2);
  for (std::size_t i = 0; i < sjis.size();) {
    std::size_t length = 0;
    if (const auto referenced = platform::CharacterReferenceAt(sjis, i, length)) {
      platform::AppendUtf8(*referenced, utf8);
      i += length;
      continue;
    }
    length = platform::CharLength(sjis, i);
    const unsigned char first = sjis[i];
    if (length == 1 && first < 0x80) {
      utf8.push_back(static_cast<char>(first));
    } else {
      const std::uint16_t code =
          length == 2
              ? static_cast<std::uint16_t>(first << 8 | static_cast<unsigned char>(sjis[i + 1]))
              : first;
      platform::AppendUtf8(CharacterOf(code), utf8);
    }
    i += length;
  }
  return utf8;
}

std::optional<std::string> SjisFromUtf8(std::string_view utf8) {
  std::string sjis;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto character = platform::NextUtf8(utf8, i);
    if (!character) return std::nullopt;
    if (*character < 0x80) {
      sjis.push_back(static_cast<char>(*character));
    } else if (const auto form = SjisFormOf(*character)) {
      if (*form >= 0x100) sjis.push_back(static_cast<char>(*form >> 8));
      sjis.push_back(static_cast<char>(*form & 0xFF));
    } else {
      sjis += "&#" + std::to_string(static_cast<std::uint32_t>(*character)) + ";";
    }
  }
  return sjis;
}

}  // namespace matching
