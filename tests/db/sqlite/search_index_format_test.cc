// The stored form of the search index's posting lists.
#include "db/sqlite/search_index_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "matching/sjis_like.h"
#include "tests/support/folding_texts.h"

namespace {

using matching::MatchMode;

TEST(SearchIndexFormat, PostingListsRoundTripAndDamageIsFound) {
  namespace si = db::searchindex;
  std::mt19937 random(7);
  for (std::size_t size : {std::size_t{1}, std::size_t{2}, si::kBitmapThreshold,
                           si::kBitmapThreshold + 1, std::size_t{si::kChunkRows}}) {
    std::vector<std::uint16_t> lows;
    for (std::int64_t low = 0; low < si::kChunkRows; ++low)
      lows.push_back(static_cast<std::uint16_t>(low));
    std::shuffle(lows.begin(), lows.end(), random);
    lows.resize(size);
    std::sort(lows.begin(), lows.end());
    std::vector<std::int64_t> expected, decoded;
    for (std::uint16_t low : lows) expected.push_back(-3 * si::kChunkRows + low);
    ASSERT_TRUE(si::DecodePosting(si::EncodePosting(lows), -3, decoded)) << size;
    EXPECT_EQ(decoded, expected) << size;
  }
  for (const std::string& bad :
       {std::string(), std::string("\x00", 1), std::string("\x00\x01", 2),
        std::string("\x00\x02\x00\x01\x00", 5), std::string("\x00\x01\x00\x01\x00", 5),
        std::string("\x01\xff", 2), std::string("\x09\x00\x00", 3)}) {
    std::vector<std::int64_t> decoded;
    EXPECT_FALSE(si::DecodePosting(bad, 0, decoded)) << bad.size();
  }
}

// Every text a pattern matches holds the pattern's grams, in each mode, so the lists
// never lose a row that LIKE over the text finds. Patterns are pieces of the texts with
// wildcards put in, so that most of them match.
TEST(SearchIndexFormat, EveryTextALikePatternMatchesHoldsItsGrams) {
  namespace si = db::searchindex;
  std::mt19937 random(5);
  const std::vector<std::string> alphabet = test_support::LooseFoldingAlphabet();
  int matched = 0;
  for (int round = 0; round < 30000; ++round) {
    std::vector<std::string> pieces(1 + random() % 8);
    for (std::string& piece : pieces) piece = alphabet[random() % alphabet.size()];
    std::string text, pattern = "%";
    const std::size_t from = random() % pieces.size(), to = from + random() % 4;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      text += pieces[i];
      if (i >= from && i <= to)
        pattern += random() % 6 == 0 ? (random() % 2 ? "_" : "%") : pieces[i];
    }
    pattern += "%";
    for (MatchMode mode : {MatchMode::kExact, MatchMode::kFolded, MatchMode::kLoose}) {
      if (!matching::SjisLike(pattern, text, mode)) continue;
      ++matched;
      std::vector<std::int64_t> held;
      si::AppendTextGrams(text, held, mode);
      std::sort(held.begin(), held.end());
      const std::vector<std::int64_t> needed = si::RequiredGramKeys(pattern, mode);
      EXPECT_TRUE(std::includes(held.begin(), held.end(), needed.begin(), needed.end()))
          << static_cast<int>(mode) << " " << pattern << " " << text;
    }
  }
  EXPECT_GT(matched, 60000);
}

}  // namespace
