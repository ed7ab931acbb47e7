#include "module/page_window.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace module {

namespace {

std::optional<std::int32_t> AsPage(std::int64_t page) {
  if (page < std::numeric_limits<std::int32_t>::min() ||
      page > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(page);
}

}  // namespace

RowWindow PageRowWindow(std::int32_t listMax, std::int32_t pageNumber, std::int32_t rowCount) {
  const std::int64_t firstOffset = static_cast<std::int64_t>(listMax) * pageNumber;
  return RowWindow{std::max<std::int64_t>(firstOffset, 0), std::min(listMax, rowCount),
                   firstOffset + 1};
}

std::optional<std::int32_t> NextPageNumber(std::int32_t listMax, std::int32_t pageNumber,
                                           std::int32_t rowCount) {
  const std::int64_t next = static_cast<std::int64_t>(pageNumber) + 1;
  if (next * listMax >= rowCount) return std::nullopt;
  return AsPage(next);
}

std::optional<std::int32_t> PriorPageNumber(std::int32_t pageNumber) {
  if (pageNumber == 0) return std::nullopt;
  return AsPage(static_cast<std::int64_t>(pageNumber) - 1);
}

std::int64_t PageCount(std::int32_t listMax, std::int32_t rowCount) {
  if (listMax <= 0 || rowCount <= 0) return 0;
  return (static_cast<std::int64_t>(rowCount) + listMax - 1) / listMax;
}

std::optional<ShownRows> PageShownRows(std::int32_t listMax, std::int32_t pageNumber,
                                       std::int32_t rowCount) {
  // The same window the rows are written with: rows left after the skipped ones, at
  // most RowLimit of them.
  const RowWindow window = PageRowWindow(listMax, pageNumber, rowCount);
  const std::int64_t shown =
      std::min(window.RowLimit, std::max<std::int64_t>(rowCount - window.SkipRows, 0));
  if (shown <= 0) return std::nullopt;
  return ShownRows{window.FirstNumber, window.FirstNumber + shown - 1};
}

std::vector<std::int64_t> PageNumberWindow(std::int64_t current, std::int64_t pageCount,
                                           std::int64_t radius) {
  std::vector<std::int64_t> pages;
  if (pageCount <= 0) return pages;
  const std::int64_t last = pageCount - 1;
  // A current page outside the result (past the end, negative) centres the window on
  // the nearest real page, so the navigation still leads back into the result.
  const std::int64_t centre = std::clamp<std::int64_t>(current, 0, last);
  const std::int64_t from = std::max<std::int64_t>(centre - radius, 0);
  const std::int64_t to = std::min(centre + radius, last);
  pages.push_back(0);
  // A gap of exactly one page shows that page instead of the gap mark.
  if (from > 2) pages.push_back(kPageGap);
  for (std::int64_t page = from > 2 ? from : 1; page <= to; ++page) pages.push_back(page);
  if (to < last - 2) {
    pages.push_back(kPageGap);
    pages.push_back(last);
  } else {
    for (std::int64_t page = std::max<std::int64_t>(to + 1, 1); page <= last; ++page) {
      pages.push_back(page);
    }
  }
  return pages;
}

}  // namespace module
