// LIKE for Shift_JIS text. "%" is any run of characters and "_" one character, where a
// double-byte character is one character, so a trail byte that looks like "%", "_" or
// "\" is never taken for one. In the folded mode letters match without regard to case
// (ASCII and full-width Latin), full-width ASCII matches ASCII, half-width katakana
// (with its voiced marks joined) matches full-width katakana, and hiragana matches
// katakana; the loose mode folds the same, passes over blanks and separators and reads
// variant kanji as one; the exact mode compares characters as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "matching/match_mode.h"

namespace matching {

// A LIKE pattern folded once, then matched against any number of texts: a statement
// folds its pattern once, not once for every row it scans.
class SjisLikePattern {
 public:
  // Folds the pattern for the mode. A non-empty `escape` is one character that makes
  // the pattern character after it stand for itself; a pattern that ends in its escape
  // matches nothing.
  SjisLikePattern(std::string_view pattern, MatchMode mode, std::string_view escape = {});

  // True when `text` matches the pattern.
  bool Matches(std::string_view text) const;

 private:
  std::vector<std::uint32_t> units_;  // folded characters and wildcards
  std::size_t charactersNeeded_ = 0;  // units other than "%": the fewest bytes a match has
  MatchMode mode_;
  bool endsInEscape_ = false;
};

// True when `text` matches `pattern`. A non-empty `escape` is one character that makes
// the pattern character after it stand for itself.
bool SjisLike(std::string_view pattern, std::string_view text, MatchMode mode,
              std::string_view escape = {});

// The text brought to the one form the mode compares, as Shift_JIS: each character (a
// half-width kana with its voiced mark being one) written as its unit, those the loose
// mode passes over left out. The PostgreSQL folding functions are generated from it.
std::string FoldedText(std::string_view text, MatchMode mode = MatchMode::kFolded);

}  // namespace matching
