#include "db/sqlite/long_word_grams.h"

#include <algorithm>

#include "db/sqlite/search_index_format.h"

namespace db::searchindex {

void AppendLongWordGrams(std::string_view text, std::vector<std::int64_t>& keys, MatchMode mode) {
  const std::vector<std::uint32_t> units = TextUnits(text, mode);
  std::vector<std::int64_t> pairs;
  for (std::size_t k = 1; k < units.size(); ++k) {
    pairs.push_back(BigramKey(units[k - 1], units[k]));
    if (k >= 2) keys.push_back(TripleKey(units[k - 2], units[k - 1], units[k]));
  }
  // Overlapping places count: "aaaa" holds the pair aa three times.
  std::sort(pairs.begin(), pairs.end());
  for (std::size_t k = 1; k < pairs.size(); ++k) {
    if (pairs[k] == pairs[k - 1] && (k == 1 || pairs[k - 2] != pairs[k])) {
      keys.push_back(RepeatedPairKey(pairs[k]));
    }
  }
}

std::optional<std::vector<std::uint32_t>> LongWordUnits(std::string_view pattern, MatchMode mode) {
  std::optional<std::vector<std::uint32_t>> units = SingleRunUnits(pattern, mode);
  if (!units || units->size() < 3) return std::nullopt;
  return units;
}

}  // namespace db::searchindex
