// The search statement: the head from the search SQL file, a WHERE line and one
// LIKE condition per given search text, and an optional ORDER BY line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/string_list.h"

namespace module {

// Bits of the search flags, one per search text.
enum SearchFlag : std::uint8_t {
  kSearchBookName = 1,
  kSearchChosya = 2,
  kSearchSyupan = 4,
  kSearchIsbn = 8,
  kSearchKenmei = 16,
};

struct SearchCriteria {
  std::string BookName, Chosya, Syupan, Isbn, Kenmei, Order, OrderKind;
  std::uint8_t SearchFlags = 0;
  bool AuthorOnly = false;  // compare the author column alone, not its reading
};

// True when the sort column and direction may be written into an ORDER BY line: the
// column an SQL identifier (letters, digits, "_", at most one "." between two names),
// the direction empty, ASC or DESC in any letter case. Without a column nothing is
// written, so nothing needs checking.
bool IsSafeSortOrder(std::string_view order, std::string_view orderKind);

// Appends the WHERE line, the conditions and the ORDER BY line to the head lines.
// A single quote in a search text is doubled so it stays inside its literal.
platform::TStringList BuildSearchStatement(platform::TStringList head,
                                           const SearchCriteria& criteria);

}  // namespace module
