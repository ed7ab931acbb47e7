// The stored forms of a folded character: every character (or half-width kana with its
// voiced mark) that the folded or loose mode reads as that unit. A condition written
// over the stored forms finds what the folded comparison finds without folding any row:
// the PostgreSQL driver writes its words this way, so that neither a word held by most
// books nor the candidates an index gives for a longer one are folded by the server.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "matching/match_mode.h"

namespace matching {

// One way a unit is stored.
struct StoredForm {
  std::string bytes;  // one character, or a half-width kana and the mark joined with it
  // Single bytes that join with the form when they stand just before it (it is then
  // part of another unit), and those that join with it when they stand just after it.
  std::string joinsAfter, joinsBefore;
};

// Every stored form of the unit in the mode (kFolded or kLoose), its own character
// first when it has one; empty when no character folds to the unit. The separators the
// loose mode passes over are the forms of kIgnoredUnit.
std::vector<StoredForm> StoredForms(std::uint32_t unit, MatchMode mode = MatchMode::kFolded);

// A regular expression (PostgreSQL's advanced flavour) that a stored text matches
// exactly when its folding matches the LIKE pattern (no escape character) in the mode
// (kFolded, or kLoose: separators allowed anywhere); nullopt for a pattern it does not
// express: one with the wildcard "_", or with a byte that is no character, or one whose
// expression would be longer than mostBytes (found as soon as the expression grows past
// it, so that a pasted page costs no more than a word of that length).
std::optional<std::string> StoredFormsRegex(std::string_view pattern,
                                            MatchMode mode = MatchMode::kFolded,
                                            std::size_t mostBytes = std::string::npos);

// LIKE patterns (to be compared with ESCAPE '') of which a stored text matches one
// exactly when its folding matches the pattern (no escape character) in the mode: the
// pattern with each character replaced by each of its forms in turn. A server compares
// a few LIKE patterns faster than a regular expression. nullopt when they would be more
// than `most`, or when a character has a form that a LIKE pattern cannot write alone (a
// half-width kana or mark that may join its neighbour, a "%" or "_"), or for a pattern
// StoredFormsRegex does not express; under the loose mode, for any pattern but one
// character between two wildcards (separators may stand around it).
std::optional<std::vector<std::string>> StoredFormsLikePatterns(
    std::string_view pattern, std::size_t most, MatchMode mode = MatchMode::kFolded);

}  // namespace matching
