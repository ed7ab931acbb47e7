// The candidate sets of the search index, held against the standard library's sets.
#include "db/sqlite/row_bitmap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "db/sqlite/search_index_format.h"

namespace {

// The candidate sets against a sorted set of rowids, across chunks and below zero.
TEST(RowBitmap, UniteIntersectCountAndWalkAsASetWould) {
  namespace si = db::searchindex;
  std::mt19937 random(11);
  auto randomRows = [&random] {
    std::vector<std::int64_t> rows;
    const int count = static_cast<int>(random() % 3000);
    for (int i = 0; i < count; ++i) {
      rows.push_back(static_cast<std::int64_t>(random() % (4 * si::kChunkRows)) - si::kChunkRows);
    }
    if (random() % 4 == 0) rows.push_back(3 * si::kChunkRows - 1);  // the last of a chunk
    return rows;
  };
  auto walk = [](const si::RowBitmap& bitmap) {
    std::vector<std::int64_t> rows;
    for (auto at = bitmap.First(); at; at = bitmap.After(*at)) rows.push_back(*at);
    return rows;
  };
  for (int round = 0; round < 200; ++round) {
    const std::vector<std::int64_t> a = randomRows(), b = randomRows();
    const std::set<std::int64_t> setA(a.begin(), a.end()), setB(b.begin(), b.end());
    std::vector<std::int64_t> either, both;
    std::set_union(setA.begin(), setA.end(), setB.begin(), setB.end(), std::back_inserter(either));
    std::set_intersection(setA.begin(), setA.end(), setB.begin(), setB.end(),
                          std::back_inserter(both));
    si::RowBitmap united(a), intersected(a);
    united.Unite(si::RowBitmap(b));
    intersected.Intersect(si::RowBitmap(b));
    EXPECT_EQ(walk(si::RowBitmap(a)), std::vector<std::int64_t>(setA.begin(), setA.end()));
    EXPECT_EQ(walk(united), either);
    EXPECT_EQ(walk(intersected), both);
    EXPECT_EQ(united.Count(), static_cast<std::int64_t>(either.size()));
    EXPECT_EQ(intersected.Count(), static_cast<std::int64_t>(both.size()));
    // The n-th rowid from any place, and the same set added a chunk of bits at a time.
    const std::vector<std::int64_t> sorted(setA.begin(), setA.end());
    const std::int64_t from =
        static_cast<std::int64_t>(random() % (5 * si::kChunkRows)) - 2 * si::kChunkRows;
    const auto first = std::lower_bound(sorted.begin(), sorted.end(), from) - sorted.begin();
    for (std::int64_t n : {std::int64_t{0}, std::int64_t{1}, std::int64_t{63}, std::int64_t{64},
                           static_cast<std::int64_t>(random() % 3000)}) {
      const auto at = static_cast<std::size_t>(first + n);
      EXPECT_EQ(si::RowBitmap(a).NthFrom(from, n),
                at < sorted.size() ? std::optional<std::int64_t>(sorted[at]) : std::nullopt)
          << "from " << from << ", n " << n;
    }
    si::RowBitmap byChunks;
    for (std::int64_t chunk = -2; chunk < 4; ++chunk) {
      std::string bits(si::kChunkRows / 8, '\0');
      for (std::int64_t row : sorted) {
        if (si::ChunkOf(row) != chunk) continue;
        bits[si::LowBits(row) / 8] =
            static_cast<char>(bits[si::LowBits(row) / 8] | 1 << si::LowBits(row) % 8);
      }
      byChunks.AddChunkBits(chunk, bits);
    }
    EXPECT_EQ(walk(byChunks), sorted);
  }
}

}  // namespace
