// How LIKE compares Shift_JIS text: the modes an alias chooses from.
#pragma once

namespace matching {

// Folded compares letters without regard to case and width and kana without regard to
// script; loose is folded, and also passes over blanks and separators and reads variant
// forms of a kanji as one; exact compares characters as they are.
enum class MatchMode { kFolded, kExact, kLoose };

}  // namespace matching
