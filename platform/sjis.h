// Shift_JIS byte classes. Texts are never converted; code that must step over a
// double-byte character as one unit asks here whether a byte starts one.
#pragma once

#include <cstddef>
#include <string_view>

namespace sjis {

// True when the byte is the first of a double-byte character (0x81-0x9F, 0xE0-0xFC).
inline bool IsLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// Byte length of the character that starts at text[pos]: 2 for a lead byte that has a
// byte after it, else 1. A lead byte at the very end counts as one byte of its own.
inline std::size_t CharLength(std::string_view text, std::size_t pos) {
  return IsLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size() ? 2 : 1;
}

}  // namespace sjis
