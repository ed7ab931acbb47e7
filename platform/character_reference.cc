#include "platform/character_reference.h"

#include <cstdint>

namespace platform {

std::optional<char32_t> CharacterReferenceAt(std::string_view text, std::size_t i,
                                             std::size_t& length) {
  if (text.substr(i, 2) != "&#") return std::nullopt;
  std::size_t at = i + 2;
  const bool hex = at < text.size() && (text[at] == 'x' || text[at] == 'X');
  if (hex) ++at;
  const std::size_t mostDigits = hex ? 6 : 7;
  std::uint32_t value = 0;
  std::size_t digits = 0;
  for (; at < text.size() && digits <= mostDigits; ++at, ++digits) {
    const char c = text[at];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) break;
    value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
  }
  if (digits == 0 || digits > mostDigits || at >= text.size() || text[at] != ';') {
    return std::nullopt;
  }
  const bool control = value < 0x20 || (value >= 0x7F && value < 0xA0);
  const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
  if (control || surrogate || value > 0x10FFFF) return std::nullopt;
  length = at + 1 - i;
  return static_cast<char32_t>(value);
}

}  // namespace platform
