// Characters a browser sends as numeric character references (&#40407; for 鷗, outside
// the Shift_JIS of the search form) read as the Shift_JIS characters a catalogue holds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace matching {

// The Shift_JIS form of a Unicode character: its code in code page 932 (a single byte
// below 0x100), or for a kanji outside it the form a catalogue holds (鷗 as 鴎, 𠮷 as
// 吉); nullopt for a character that has neither.
std::optional<std::uint16_t> SjisFormOf(char32_t character);

// The text with every well-formed numeric character reference whose character has a
// Shift_JIS form replaced by that form; references without one are left as written
// (a catalogue that stores such a character as its reference still finds it).
// Double-byte characters are stepped over.
std::string ReadCharacterReferences(std::string_view text);

}  // namespace matching
