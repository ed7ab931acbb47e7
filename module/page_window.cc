#include "module/page_window.h"

#include <algorithm>
#include <limits>

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
