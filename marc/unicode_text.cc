#include "marc/unicode_text.h"

#include "platform/character_reference.h"

namespace marc {

std::string ReadReferences(std::string_view utf8) {
  if (utf8.find("&#") == std::string_view::npos) return std::string(utf8);
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    std::size_t length = 0;
    if (utf8[i] == '&') {
      if (auto c = platform::CharacterReferenceAt(utf8, i, length)) {
        AppendUtf8(*c, out);
        i += length;
        continue;
      }
    }
    out += utf8[i++];
  }
  return out;
}

}  // namespace marc
