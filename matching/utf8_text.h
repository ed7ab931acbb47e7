// Shift_JIS texts of the catalogue written as UTF-8 for the pages other programs read
// (feeds, citations, SRU), and UTF-8 search texts read as the catalogue's Shift_JIS,
// through the tables of code page 932 the build makes (no conversion library at run time).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace matching {

// The UTF-8 form of a Shift_JIS text. A numeric character reference (&#40407;), which
// is how a catalogue holds a character Shift_JIS lacks and how its pages show it, is
// written as its character; a byte that starts no character of code page 932 as U+FFFD.
std::string Utf8FromSjis(std::string_view sjis);

// The Shift_JIS form of a UTF-8 text: each character's code page 932 form, or for a
// kanji outside it the form a catalogue holds (鷗 as 鴎, as character references are
// read); a character with neither as its numeric character reference. nullopt when
// the text is not well-formed UTF-8.
std::optional<std::string> SjisFromUtf8(std::string_view utf8);

}  // namespace matching
