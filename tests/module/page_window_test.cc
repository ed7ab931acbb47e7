#include "module/page_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <vector>

using namespace module;

namespace {

TEST(PageWindow, RowsAndNumbersOfAPage) {
  struct Case {
    std::int32_t listMax, page, count;
    RowWindow window;
  } cases[] = {
      {20, 0, 45, {0, 20, 1}},
      {20, 1, 45, {20, 20, 21}},
      {20, 2, 45, {40, 20, 41}},
      {20, 0, 7, {0, 7, 1}},
      {20, -1, 45, {0, 20, -19}},
      {0, 3, 45, {0, 0, 1}},
      {-5, 1, 45, {0, -5, -4}},
      {20, 5, 45, {100, 20, 101}},
      {20, std::numeric_limits<std::int32_t>::max(), 45, {42949672940, 20, 42949672941}},
  };
  for (const auto& c : cases) {
    RowWindow w = PageRowWindow(c.listMax, c.page, c.count);
    EXPECT_EQ(w.SkipRows, c.window.SkipRows) << c.listMax << "/" << c.page;
    EXPECT_EQ(w.RowLimit, c.window.RowLimit) << c.listMax << "/" << c.page;
    EXPECT_EQ(w.FirstNumber, c.window.FirstNumber) << c.listMax << "/" << c.page;
  }
}

TEST(PageWindow, LinksToNeighbouringPages) {
  EXPECT_EQ(NextPageNumber(20, 1, 45), 2);
  EXPECT_EQ(NextPageNumber(20, 2, 45), std::nullopt);
  EXPECT_EQ(NextPageNumber(20, 1, 40), std::nullopt);
  EXPECT_EQ(NextPageNumber(20, -1, 45), 0);
  EXPECT_EQ(NextPageNumber(0, 7, 45), 8);
  EXPECT_EQ(NextPageNumber(-5, 0, 45), 1);
  EXPECT_EQ(NextPageNumber(0, std::numeric_limits<std::int32_t>::max(), 45), std::nullopt);
  EXPECT_EQ(PriorPageNumber(0), std::nullopt);
  EXPECT_EQ(PriorPageNumber(5), 4);
  EXPECT_EQ(PriorPageNumber(-1), -2);
  EXPECT_EQ(PriorPageNumber(std::numeric_limits<std::int32_t>::min()), std::nullopt);
}

TEST(PageWindow, WhereThePageStandsInTheResult) {
  struct Case {
    std::int32_t listMax, page, count;
    std::int64_t pages;
    std::optional<ShownRows> shown;
  } cases[] = {
      {20, 0, 77, 4, ShownRows{1, 20}},
      {20, 1, 77, 4, ShownRows{21, 40}},
      {20, 3, 77, 4, ShownRows{61, 77}},
      {20, 1, 40, 2, ShownRows{21, 40}},
      {20, 0, 7, 1, ShownRows{1, 7}},
      {20, 4, 77, 4, std::nullopt},  // past the last page
      {20, -1, 45, 3, ShownRows{-19, 0}},
      {0, 0, 45, 0, std::nullopt},
      {-5, 1, 45, 0, std::nullopt},
      {20, 0, 0, 0, std::nullopt},
      {20, std::numeric_limits<std::int32_t>::max(), 45, 3, std::nullopt},
      {1, 0, std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::max(),
       ShownRows{1, 1}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PageCount(c.listMax, c.count), c.pages) << c.listMax << "/" << c.count;
    const auto shown = PageShownRows(c.listMax, c.page, c.count);
    ASSERT_EQ(shown.has_value(), c.shown.has_value()) << c.listMax << "/" << c.page;
    if (shown) {
      EXPECT_EQ(shown->First, c.shown->First) << c.listMax << "/" << c.page;
      EXPECT_EQ(shown->Last, c.shown->Last) << c.listMax << "/" << c.page;
    }
  }
}

// Checked against the rule itself: every page within two of the current one, the
// first and the last, each once and ascending, and a gap only where pages are missing.
TEST(PageWindow, PageNumbersReachFirstLastAndNeighbours) {
  constexpr std::int64_t gap = kPageGap;
  EXPECT_EQ(PageNumberWindow(0, 1, 2), (std::vector<std::int64_t>{0}));
  EXPECT_EQ(PageNumberWindow(0, 4, 2), (std::vector<std::int64_t>{0, 1, 2, 3}));
  EXPECT_EQ(PageNumberWindow(0, 10, 2), (std::vector<std::int64_t>{0, 1, 2, gap, 9}));
  EXPECT_EQ(PageNumberWindow(5, 10, 2), (std::vector<std::int64_t>{0, gap, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(PageNumberWindow(5, 11, 2),
            (std::vector<std::int64_t>{0, gap, 3, 4, 5, 6, 7, gap, 10}));
  EXPECT_EQ(PageNumberWindow(3, 10, 2), (std::vector<std::int64_t>{0, 1, 2, 3, 4, 5, gap, 9}));
  EXPECT_EQ(PageNumberWindow(9, 10, 2), (std::vector<std::int64_t>{0, gap, 7, 8, 9}));
  EXPECT_EQ(PageNumberWindow(40, 10, 2), (std::vector<std::int64_t>{0, gap, 7, 8, 9}));
  EXPECT_EQ(PageNumberWindow(-1, 10, 2), (std::vector<std::int64_t>{0, 1, 2, gap, 9}));
  EXPECT_TRUE(PageNumberWindow(0, 0, 2).empty());
  for (std::int64_t count = 1; count <= 12; ++count) {
    for (std::int64_t current = 0; current < count; ++current) {
      const auto pages = PageNumberWindow(current, count, 2);
      std::vector<std::int64_t> numbers;
      for (std::size_t i = 0; i < pages.size(); ++i) {
        if (pages[i] == gap) {
          ASSERT_TRUE(i > 0 && i + 1 < pages.size());
          EXPECT_GT(pages[i + 1] - pages[i - 1], 2) << "a gap hides a single page";
        } else {
          numbers.push_back(pages[i]);
        }
      }
      for (std::size_t i = 1; i < numbers.size(); ++i) EXPECT_LT(numbers[i - 1], numbers[i]);
      EXPECT_EQ(numbers.front(), 0);
      EXPECT_EQ(numbers.back(), count - 1);
      for (std::int64_t page = std::max<std::int64_t>(current - 2, 0);
           page <= std::min(current + 2, count - 1); ++page) {
        EXPECT_NE(std::find(numbers.begin(), numbers.end(), page), numbers.end())
            << page << " of " << count << " from " << current;
      }
    }
  }
}

}  // namespace
