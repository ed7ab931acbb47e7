// Paging arithmetic of the result list. Page numbers and the page size come from the
// request and the configuration as signed 32-bit values; products are taken in 64 bits
// so that a huge page number is simply a page past the end of the result.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace module {

struct RowWindow {
  std::int64_t SkipRows;     // rows to step over before the first row of the page
  std::int64_t RowLimit;     // most rows the page shows
  std::int64_t FirstNumber;  // number shown for the page's first row
};

// The rows that page pageNumber shows when a page holds listMax rows.
RowWindow PageRowWindow(std::int32_t listMax, std::int32_t pageNumber, std::int32_t rowCount);

// The page the next-page link leads to, when there are rows after this page.
std::optional<std::int32_t> NextPageNumber(std::int32_t listMax, std::int32_t pageNumber,
                                           std::int32_t rowCount);

// The page the previous-page link leads to, when this is not page 0.
std::optional<std::int32_t> PriorPageNumber(std::int32_t pageNumber);

// Pages a result of rowCount rows fills at listMax rows a page; 0 when there is no row
// or a page holds none (listMax 0 or below).
std::int64_t PageCount(std::int32_t listMax, std::int32_t rowCount);

// Numbers of the first and last row page pageNumber shows, as the rows are numbered;
// nullopt when the page shows no row.
struct ShownRows {
  std::int64_t First;
  std::int64_t Last;
};
std::optional<ShownRows> PageShownRows(std::int32_t listMax, std::int32_t pageNumber,
                                       std::int32_t rowCount);

// The page numbers (from 0) a page-number navigation offers, ascending: the first and
// the last page always, the pages within radius of the current one, and kPageGap where
// pages are left out. Empty when pageCount is 0.
inline constexpr std::int64_t kPageGap = -1;
std::vector<std::int64_t> PageNumberWindow(std::int64_t current, std::int64_t pageCount,
                                           std::int64_t radius);

}  // namespace module
