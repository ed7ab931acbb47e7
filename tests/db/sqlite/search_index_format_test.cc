// The stored form of the search index's posting lists.
#include "db/sqlite/search_index_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "db/sqlite/row_bitmap.h"
#include "matching/sjis_like.h"
#include "tests/support/folding_texts.h"

namespace {

using matching::MatchMode;

// A list of the key in the stored layout: the list's bytes, then the CRC-32 over the key
// (column in 4 bytes, gram and chunk in 8, least significant first) and the list, least
// significant byte first; so a list whose layout is damaged can carry a right checksum.
std::string WithChecksum(const std::string& list, const db::searchindex::PostingKey& key) {
  std::string keyBytes;
  auto put = [&keyBytes](std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) keyBytes.push_back(static_cast<char>(value >> (8 * i)));
  };
  put(static_cast<std::uint32_t>(key.column), 4);
  put(static_cast<std::uint64_t>(key.gram), 8);
  put(static_cast<std::uint64_t>(key.chunk), 8);
  const std::uint32_t crc = db::searchindex::Crc32(list, db::searchindex::Crc32(keyBytes));
  std::string data = list;
  for (int i = 0; i < 4; ++i) data.push_back(static_cast<char>(crc >> (8 * i)));
  return data;
}

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
    const si::PostingKey key{2, 0x12345, -3};
    const std::string data = si::EncodePosting(lows, key);
    ASSERT_TRUE(si::DecodePosting(data, key, decoded)) << size;
    EXPECT_EQ(decoded, expected) << size;
    // A list stored as a bitmap is also given whole, as the same rows; another is not.
    const std::string_view bits = si::PostingBitmap(data, key);
    EXPECT_EQ(bits.empty(), size <= si::kBitmapThreshold) << size;
    if (!bits.empty()) {
      si::RowBitmap whole;
      whole.AddChunkBits(key.chunk, bits);
      EXPECT_EQ(whole.Count(), static_cast<std::int64_t>(size));
      EXPECT_EQ(whole.NthFrom(key.chunk * si::kChunkRows, 0), expected.front()) << size;
      EXPECT_EQ(whole.NthFrom(expected.back(), 0), expected.back()) << size;
    }
    // Any one bit flipped, and the list read under another key, is damage.
    for (std::size_t bit = 0; bit<data.size() * 8; bit += data.size()> 100 ? 97 : 1) {
      std::string flipped = data;
      flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << (bit % 8)));
      EXPECT_FALSE(si::DecodePosting(flipped, key, decoded)) << size << ", bit " << bit;
      EXPECT_TRUE(si::PostingBitmap(flipped, key).empty()) << size << ", bit " << bit;
    }
    for (const si::PostingKey& other :
         {si::PostingKey{3, 0x12345, -3}, si::PostingKey{2, 0x12344, -3},
          si::PostingKey{2, 0x12345, -2}}) {
      EXPECT_FALSE(si::DecodePosting(data, other, decoded)) << size;
      EXPECT_TRUE(si::PostingBitmap(data, other).empty()) << size;
    }
  }
  // The check value every CRC-32 of this polynomial gives.
  EXPECT_EQ(si::Crc32("123456789"), 0xCBF43926u);
  // Layouts no list has, each with a right checksum: empty, a type without entries, an
  // odd length, rowids out of order or repeated, an unknown type, a short bitmap.
  for (const std::string& bad :
       {std::string(), std::string("\x00", 1), std::string("\x00\x01", 2),
        std::string("\x00\x02\x00\x01\x00", 5), std::string("\x00\x01\x00\x01\x00", 5),
        std::string("\x01\xff", 2), std::string("\x09\x00\x00", 3)}) {
    std::vector<std::int64_t> decoded;
    EXPECT_FALSE(si::DecodePosting(WithChecksum(bad, {}), {}, decoded)) << bad.size();
    EXPECT_FALSE(si::DecodePosting(bad, {}, decoded)) << bad.size();
  }
  // The layout rebuilt here is the one the encoder writes.
  const std::string one("\x00\x05\x00", 3);
  std::vector<std::int64_t> decoded;
  EXPECT_TRUE(si::DecodePosting(WithChecksum(one, {}), {}, decoded));
  EXPECT_EQ(si::EncodePosting({5}, {}), WithChecksum(one, {}));
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

// A text that matches a pattern beginning with literal characters (the title equal to a
// word, or beginning with it) holds the pattern's start gram; and a pattern said to be
// one gram matches exactly the texts holding it, which a pattern that must begin or end
// the text is not.
TEST(SearchIndexFormat, StartGramsAndOneGramPatternsAgreeWithTheMatcher) {
  namespace si = db::searchindex;
  std::mt19937 random(11);
  const std::vector<std::string> alphabet = test_support::LooseFoldingAlphabet();
  int started = 0, exact = 0;
  for (int round = 0; round < 30000; ++round) {
    std::vector<std::string> pieces(1 + random() % 6);
    for (std::string& piece : pieces) piece = alphabet[random() % alphabet.size()];
    std::string text;
    for (const std::string& piece : pieces) text += piece;
    const std::size_t length = 1 + random() % 3;
    std::string word;
    for (std::size_t i = 0; i < length; ++i) {
      word += random() % 4 == 0 ? alphabet[random() % alphabet.size()] : pieces[i % pieces.size()];
    }
    const std::string lead = random() % 2 ? "%" : "";
    const std::string tail = random() % 2 ? "%" : "";
    const std::string pattern = lead + word + tail;
    for (MatchMode mode : {MatchMode::kExact, MatchMode::kFolded, MatchMode::kLoose}) {
      const bool matches = matching::SjisLike(pattern, text, mode);
      std::vector<std::int64_t> held;
      si::AppendTextGrams(text, held, mode);
      si::AppendStartGrams(text, held, mode);
      const std::optional<std::int64_t> start = si::PatternStartGram(pattern, mode);
      if (matches && start) {
        ++started;
        EXPECT_NE(std::find(held.begin(), held.end(), *start), held.end())
            << static_cast<int>(mode) << " " << pattern << " " << text;
      }
      if (si::PatternIsOneGram(pattern, mode)) {
        ++exact;
        const std::vector<std::int64_t> needed = si::RequiredGramKeys(pattern, mode);
        ASSERT_EQ(needed.size(), 1u) << pattern;
        EXPECT_EQ(matches, std::find(held.begin(), held.end(), needed[0]) != held.end())
            << static_cast<int>(mode) << " " << pattern << " " << text;
      }
    }
  }
  EXPECT_GT(started, 3000);
  EXPECT_GT(exact, 3000);
}

// The keys a pattern needs are held by every text matching it, with the start grams, the
// end grams (and the whole text's key), both or neither; and where the grams are said to
// decide the pattern, holding those keys is matching it: the words that begin, end or are
// the whole text, the tiers of the best-match order.
TEST(SearchIndexFormat, EdgeGramKeysHoldEveryMatchAndDecideOneOrTwoUnits) {
  namespace si = db::searchindex;
  std::mt19937 random(12);
  const std::vector<std::string> alphabet = test_support::LooseFoldingAlphabet();
  const si::EdgeGrams kParts[] = {{false, false}, {true, false}, {false, true}, {true, true}};
  int matched = 0, decidedAtEnd = 0, decidedWhole = 0, turnedAway = 0;
  for (int round = 0; round < 30000; ++round) {
    std::vector<std::string> pieces(1 + random() % 4);
    for (std::string& piece : pieces) piece = alphabet[random() % alphabet.size()];
    std::string text;
    for (const std::string& piece : pieces) text += piece;
    // A word of the text's first or last pieces, now and then with another piece.
    const std::size_t length = 1 + random() % 3;
    const bool fromEnd = random() % 2 == 0;
    std::string word;
    for (std::size_t i = 0; i < length; ++i) {
      const std::size_t at =
          fromEnd ? (pieces.size() * 3 - length + i) % pieces.size() : i % pieces.size();
      word += random() % 5 == 0 ? alphabet[random() % alphabet.size()] : pieces[at];
    }
    const std::string pattern =
        std::string(random() % 2 ? "%" : "") + word + std::string(random() % 2 ? "%" : "");
    for (MatchMode mode : {MatchMode::kExact, MatchMode::kFolded, MatchMode::kLoose}) {
      const bool matches = matching::SjisLike(pattern, text, mode);
      std::vector<std::int64_t> held;
      si::AppendTextGrams(text, held, mode);
      si::AppendStartGrams(text, held, mode);
      si::AppendEndGrams(text, held, mode);
      std::sort(held.begin(), held.end());
      matched += matches;
      for (const si::EdgeGrams parts : kParts) {
        const std::vector<std::int64_t> needed = si::EdgeGramKeys(pattern, mode, parts);
        const bool holds = std::includes(held.begin(), held.end(), needed.begin(), needed.end());
        const auto trace = std::to_string(static_cast<int>(mode)) + " " +
                           std::to_string(parts.start) + std::to_string(parts.end) + " " + pattern +
                           " " + text;
        EXPECT_TRUE(!matches || holds) << trace;
        if (!si::EdgeGramsDecide(pattern, mode, parts)) continue;
        EXPECT_EQ(matches, holds) << trace;
        if (pattern.back() != '%') ++(pattern.front() == '%' ? decidedAtEnd : decidedWhole);
        turnedAway += !matches;
      }
    }
  }
  EXPECT_GT(matched, 10000);
  EXPECT_GT(decidedAtEnd, 3000);
  EXPECT_GT(decidedWhole, 3000);
  EXPECT_GT(turnedAway, 3000);
}

}  // namespace
