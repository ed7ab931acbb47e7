// The units Shift_JIS text is compared in, shared by LIKE and the search index so that
// both see the same characters: a single byte as itself, a double-byte character as
// lead * 256 + trail. In the folded mode letters fold to lower-case ASCII (full-width
// too), full-width ASCII to ASCII, half-width katakana (a voiced mark joined with the
// kana before it) and hiragana to full-width katakana. Every unit is below 0x10000.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "db/driver.h"

namespace db {

// The unit of the character at text[i]; advances i past it (and past a half-width
// voiced mark joined with it in the folded mode). Needs i < text.size().
std::uint32_t NextUnit(std::string_view text, std::size_t& i, MatchMode mode);

}  // namespace db
