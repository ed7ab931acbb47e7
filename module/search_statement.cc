#include "module/search_statement.h"

#include "platform/text_compare.h"

namespace module {

using platform::SameTextIgnoringCase;
using platform::TStringList;

namespace {

bool IsIdentifierByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsIdentifier(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (!IsIdentifierByte(c)) return false;
  }
  return true;
}

// The search text inside a LIKE literal. A quote can be neither a lead nor a trail
// byte of a Shift_JIS character, so doubling it byte-wise is safe.
std::string LikePattern(std::string_view text) {
  std::string pattern = "'%";
  for (char c : text) {
    pattern.push_back(c);
    if (c == '\'') pattern.push_back('\'');
  }
  return pattern + "%'";
}

}  // namespace

bool IsSafeSortOrder(std::string_view order, std::string_view orderKind) {
  if (order.empty()) return true;
  std::size_t dot = order.find('.');
  bool columnOk = dot == std::string_view::npos
                      ? IsIdentifier(order)
                      : IsIdentifier(order.substr(0, dot)) && IsIdentifier(order.substr(dot + 1));
  bool kindOk = orderKind.empty() || SameTextIgnoringCase(orderKind, "ASC") ||
                SameTextIgnoringCase(orderKind, "DESC");
  return columnOk && kindOk;
}

TStringList BuildSearchStatement(TStringList lines, const SearchCriteria& criteria) {
  const std::uint8_t flags = criteria.SearchFlags;
  lines.push_back("WHERE");
  // One "AND" between two conditions: written after a condition when a later bit is set.
  auto andWhenMoreAfter = [&](std::uint8_t bit) {
    if (flags & ~((bit << 1) - 1)) lines.push_back("AND");
  };
  auto eitherColumn = [&](const char* first, const char* second, const std::string& text) {
    lines.push_back(std::string("( ") + first + " LIKE " + LikePattern(text));
    lines.push_back("OR");
    lines.push_back(std::string(second) + " LIKE " + LikePattern(text) + " )");
  };
  auto oneColumn = [&](const char* column, const std::string& text) {
    lines.push_back(std::string(column) + " LIKE " + LikePattern(text));
  };
  if (flags & kSearchBookName) {
    eitherColumn("MS_SYOMEI", "MS_SYOKANA", criteria.BookName);
    andWhenMoreAfter(kSearchBookName);
  }
  if (flags & kSearchChosya) {
    if (criteria.AuthorOnly) {
      oneColumn("MS_CHOSYA", criteria.Chosya);
    } else {
      eitherColumn("MS_CHOSYA", "MS_CHOKANA", criteria.Chosya);
    }
    andWhenMoreAfter(kSearchChosya);
  }
  if (flags & kSearchSyupan) {
    oneColumn("MS_SYUPAN", criteria.Syupan);
    andWhenMoreAfter(kSearchSyupan);
  }
  if (flags & kSearchIsbn) {
    oneColumn("MS_ISBN", criteria.Isbn);
    andWhenMoreAfter(kSearchIsbn);
  }
  if (flags & kSearchKenmei) oneColumn("MS_KENMEI", criteria.Kenmei);
  if (!criteria.Order.empty())
    lines.push_back("ORDER BY " + criteria.Order + " " + criteria.OrderKind);
  return lines;
}

}  // namespace module
