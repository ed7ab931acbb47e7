// The grams that let the search index decide words of three or more units without
// reading rows. Besides its units and pairs, each column's folded text gives:
// - each run of three neighbouring units (a triple): a text holds "%abc%" exactly when
//   it holds the triple abc;
// - each pair it holds twice or more (a repeated pair).
// A longer word a1..an holds the triples a1a2a3 ... a(n-2)a(n-1)an, each two neighbours
// sharing a pair. A text that holds every triple, and holds each shared pair once, holds
// the word: the one place of a shared pair ties the triples around it together. Only
// the texts that repeat a shared pair are left for LIKE to decide.
//
// Keys have bit 41 set and bit 40 clear, above every unit and pair key:
//   triple a b c:   1 << 41 | (a + 1) << 42 | b << 16 | c
//   repeated pair:  1 << 41 | 1 << 39 | <the pair's key>
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "db/driver.h"

namespace db::searchindex {

// The setting (in the index's meta table) that says the index holds these grams; its
// value is kLongWordGramsVersion. An index without it is read as before.
inline constexpr char kLongWordsSetting[] = "long_words";
inline constexpr char kLongWordGramsVersion[] = "1";

inline constexpr std::int64_t kLongGramBit = std::int64_t{1} << 41;

inline std::int64_t TripleKey(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  return kLongGramBit | ((static_cast<std::int64_t>(a) + 1) << 42) |
         (static_cast<std::int64_t>(b) << 16) | c;
}
inline std::int64_t RepeatedPairKey(std::int64_t pairKey) {
  return kLongGramBit | (std::int64_t{1} << 39) | pairKey;
}

// Appends the triple and repeated-pair keys of the text folded for the mode (kFolded or
// kLoose), unsorted, with repeats. The units are those AppendTextGrams reads.
void AppendLongWordGrams(std::string_view text, std::vector<std::int64_t>& keys, MatchMode mode);

// The folded units of a LIKE pattern that is one run of three or more units between
// "%"s ("%abc%"), in the folded or the loose mode; nullopt for any other pattern or
// mode, which these grams cannot decide.
std::optional<std::vector<std::uint32_t>> LongWordUnits(std::string_view pattern, MatchMode mode);

}  // namespace db::searchindex
