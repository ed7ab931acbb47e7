#include "matching/utf8_text.h"

#include <algorithm>
#include <iterator>

#include "matching/character_references.h"
#include "matching/unicode_sjis.h"
#include "platform/character_reference.h"
#include "platform/sjis.h"

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

// The character a well-formed UTF-8 sequence at text[i] encodes, with its length;
// nullopt for a stray, overlong, cut or surrogate sequence.
std::optional<char32_t> Utf8CharacterAt(std::string_view text, std::size_t i, std::size_t& length) {
  const unsigned char first = text[i];
  if (first < 0x80) {
    length = 1;
    return first;
  }
  length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC2 ? 2 : 0;
  if (length == 0 || first > 0xF4 || i + length > text.size()) return std::nullopt;
  char32_t character = first & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char next = text[i + k];
    if ((next & 0xC0) != 0x80) return std::nullopt;
    character = character << 6 | (next & 0x3F);
  }
  const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (character < least[length] || character > 0x10FFFF ||
      (character >= 0xD800 && character <= 0xDFFF)) {
    return std::nullopt;
  }
  return character;
}

}  // namespace

void AppendUtf8(char32_t character, std::string& out) {
  if (character < 0x80) {
    out.push_back(static_cast<char>(character));
  } else if (character < 0x800) {
    out.push_back(static_cast<char>(0xC0 | character >> 6));
    out.push_back(static_cast<char>(0x80 | (character & 0x3F)));
  } else if (character < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | character >> 12));
    out.push_back(static_cast<char>(0x80 | (character >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (character & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | character >> 18));
    out.push_back(static_cast<char>(0x80 | (character >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (character >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (character & 0x3F)));
  }
}

std::string Utf8FromSjis(std::string_view sjis) {
  std::string utf8;
  utf8.reserve(sjis.size() * 3 / 2);
  for (std::size_t i = 0; i < sjis.size();) {
    std::size_t length = 0;
    if (const auto referenced = platform::CharacterReferenceAt(sjis, i, length)) {
      AppendUtf8(*referenced, utf8);
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
      AppendUtf8(CharacterOf(code), utf8);
    }
    i += length;
  }
  return utf8;
}

std::optional<std::string> SjisFromUtf8(std::string_view utf8) {
  std::string sjis;
  for (std::size_t i = 0; i < utf8.size();) {
    std::size_t length = 0;
    const auto character = Utf8CharacterAt(utf8, i, length);
    if (!character) return std::nullopt;
    i += length;
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
