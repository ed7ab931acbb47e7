// Cutting blanks from both ends of a text. Which bytes count as blanks depends on where
// the text comes from (a template tag, a configuration line, a database message), so
// the caller names them. Every such byte is below 0x40 or 0x7F, which no Shift_JIS
// trail byte is, so the cut never splits a double-byte character.
#pragma once

#include <string_view>

namespace platform {

// The text without the bytes for which isBlank(unsigned char) holds at either end.
template <class IsBlank>
std::string_view TrimmedBy(std::string_view text, IsBlank isBlank) {
  while (!text.empty() && isBlank(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && isBlank(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

}  // namespace platform
