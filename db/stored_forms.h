// The stored forms of a folded character: every character (or half-width kana with its
// voiced mark) that the folded mode reads as that unit. A condition written over the
// stored forms finds what the folded comparison finds without folding any row: the
// PostgreSQL driver writes short folded words this way, so that a word held by most
// books costs what an exact comparison costs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace db {

// One way a unit is stored.
struct StoredForm {
  std::string bytes;  // one character, or a half-width kana and the mark joined with it
  // Single bytes that join with the form when they stand just before it (it is then
  // part of another unit), and those that join with it when they stand just after it.
  std::string joinsAfter, joinsBefore;
};

// Every stored form of the folded unit, its own character first when it has one;
// empty when no character folds to the unit.
std::vector<StoredForm> StoredForms(std::uint32_t unit);

// A regular expression (PostgreSQL's advanced flavour) that a stored text matches
// exactly when its folding matches the LIKE pattern (no escape character) in the
// folded mode; nullopt for a pattern it does not express: one with the wildcard "_",
// or with a byte that is no character.
std::optional<std::string> StoredFormsRegex(std::string_view pattern);

// LIKE patterns (to be compared with ESCAPE '') of which a stored text matches one
// exactly when its folding matches the pattern (no escape character) in the folded
// mode: the pattern with each character replaced by each of its forms in turn. A
// server compares a few LIKE patterns faster than a regular expression. nullopt when
// they would be more than `most`, or when a character has a form that a LIKE pattern
// cannot write alone (a half-width kana or mark that may join its neighbour, a "%" or
// "_"), or for a pattern StoredFormsRegex does not express.
std::optional<std::vector<std::string>> StoredFormsLikePatterns(std::string_view pattern,
                                                                std::size_t most);

}  // namespace db
