// Shift_JIS byte classes. Texts are never converted; code that must step over a
// double-byte character as one unit asks here whether a byte starts one.
#pragma once

#include <cstddef>
#include <string_view>

namespace platform {

// True when the byte is the first of a double-byte character (0x81-0x9F, 0xE0-0xFC).
inline bool IsLeadByte(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// True when the byte can be the second of a double-byte character (0x40-0x7E, 0x80-0xFC).
inline bool IsTrailByte(unsigned char b) {
  return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

// Byte length of the character that starts at text[pos]: 2 for a lead byte followed by a
// trail byte, else 1. A lead byte without a trail byte after it (at the end, or before
// a quote, colon or other byte below 0x40) counts as one byte of its own, so a broken
// pair can never hide a quote or delimiter from code that looks for them.
inline std::size_t CharLength(std::string_view text, std::size_t pos) {
  return IsLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size() &&
                 IsTrailByte(static_cast<unsigned char>(text[pos + 1]))
             ? 2
             : 1;
}

// Byte length of the longest start of text made of whole characters and at most
// maxBytes long: where a text is cut without splitting a double-byte character.
inline std::size_t WholeCharsPrefix(std::string_view text, std::size_t maxBytes) {
  std::size_t end = 0;
  while (end < text.size() && end + CharLength(text, end) <= maxBytes) end += CharLength(text, end);
  return end;
}

}  // namespace platform
