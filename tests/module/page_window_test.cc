#include "module/page_window.h"

#include <gtest/gtest.h>

#include <limits>

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

}  // namespace
