// The units Shift_JIS text is compared in, shared by LIKE and the search index so that
// both see the same characters: a single byte as itself, a double-byte character as
// lead * 256 + trail. In the folded mode letters fold to lower-case ASCII (full-width
// too), full-width ASCII to ASCII, half-width katakana (a voiced mark joined with the
// kana before it) and hiragana to full-width katakana. The loose mode folds the same,
// then reads every form of a variant kanji as its group's first form and passes over
// blanks and separators (kIgnoredUnit). Every unit is below 0x10000.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "matching/match_mode.h"

namespace matching {

// The unit of a character the loose mode passes over: blanks (half and full width),
// the middle dot (・ and ･), commas (, 、 ，), hyphen-like marks (- ‐ － ―) and the
// punctuation of titles and names (。．！？「」『』（）〔〕【】〈〉《》“”‘’, the half-width
// ｡｢｣, and . / : ; ! ? ( ) in either width). The long vowel mark ー is part of a word
// and stays. No character has this unit otherwise.
inline constexpr std::uint32_t kIgnoredUnit = 0xFFFF;

// The version of the loose folding. What was built from an older one (a search index,
// the PostgreSQL functions and their indexes) folds otherwise and is not used: version
// 1 passed over blanks and separators only, version 2 also over punctuation.
inline constexpr int kLooseFoldingVersion = 2;

// The unit of the character at text[i]; advances i past it (and past a half-width
// voiced mark joined with it in the folded and loose modes). Needs i < text.size().
std::uint32_t NextUnit(std::string_view text, std::size_t& i, MatchMode mode);

// The folded unit the loose mode compares in place of `unit`: the first form of its
// variant group, or kIgnoredUnit for a separator.
std::uint32_t LooseUnit(std::uint32_t unit);

// True when the loose mode passes over every character of the text (so for an empty
// text too): under it, such a text holds nothing to look for.
bool LooseTextPassedOver(std::string_view text);

// A variant kanji and the form the loose mode reads it as.
struct VariantPair {
  std::uint16_t variant, form;
};

// The table of variant kanji the loose mode reads, sorted by variant: each form of a
// group but its first, as written in the table; a form the NEC-selected rows of code
// page 932 repeat from the IBM extension (the same character at another code) is read
// as the IBM code before the table is consulted.
std::span<const VariantPair> VariantPairs();

}  // namespace matching
