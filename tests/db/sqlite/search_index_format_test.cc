// The stored form of the search index's posting lists.
#include "db/sqlite/search_index_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

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
  for (const std::string& bad : {std::string(), std::string("\x00", 1), std::string("\x00\x01", 2),
                                 std::string("\x00\x02\x00\x01\x00", 5), std::string("\x01\xff", 2),
                                 std::string("\x09\x00\x00", 3)}) {
    std::vector<std::int64_t> decoded;
    EXPECT_FALSE(si::DecodePosting(bad, 0, decoded)) << bad.size();
  }
}

}  // namespace
