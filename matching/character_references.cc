#include "matching/character_references.h"

#include <algorithm>
#include <iterator>

#include "matching/unicode_sjis.h"
#include "platform/character_reference.h"
#include "platform/sjis.h"

namespace matching {

std::optional<std::uint16_t> SjisFormOf(char32_t character) {
  const auto& forms = unicode_sjis::kForms;
  const auto* found = std::lower_bound(
      std::begin(forms), std::end(forms), character,
      [](const unicode_sjis::Form& form, char32_t c) { return form.character < c; });
  if (found == std::end(forms) || found->character != character) return std::nullopt;
  return found->sjis;
}

std::string ReadCharacterReferences(std::string_view text) {
  std::string read;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = 0;
    if (const auto character = platform::CharacterReferenceAt(text, i, length)) {
      if (const auto form = SjisFormOf(*character)) {
        if (*form >= 0x100) read.push_back(static_cast<char>(*form >> 8));
        read.push_back(static_cast<char>(*form & 0xFF));
        i += length;
        continue;
      }
    }
    length = platform::CharLength(text, i);
    read.append(text.substr(i, length));
    i += length;
  }
  return read;
}

}  // namespace matching
