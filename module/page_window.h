// Paging arithmetic of the result list. Page numbers and the page size come from the
// request and the configuration as signed 32-bit values; products are taken in 64 bits
// so that a huge page number is simply a page past the end of the result.
#pragma once

#include <cstdint>
#include <optional>

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
