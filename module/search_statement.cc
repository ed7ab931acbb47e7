#include "module/search_statement.h"

#include <set>

#include "platform/sjis.h"
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
// byte of a Shift_JIS character, so doubling it byte-wise is safe. With literalWildcards
// the text's "%" and "_" are written as ％ and ＿ (stepping over double-byte characters,
// whose trail byte may look like either).
std::string LikePattern(std::string_view text, bool literalWildcards) {
  std::string pattern = "'%";
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = platform::CharLength(text, i);
    const char c = text[i];
    if (literalWildcards && length == 1 && c == '%') {
      pattern += "\x81\x93";
    } else if (literalWildcards && length == 1 && c == '_') {
      pattern += "\x81\x51";
    } else {
      pattern.append(text.substr(i, length));
      if (c == '\'') pattern.push_back('\'');
    }
    i += length;
  }
  return pattern + "%'";
}

bool IsBlankAt(std::string_view text, std::size_t i, std::size_t length) {
  return (length == 1 && text[i] == ' ') || (length == 2 && text.substr(i, 2) == "\x81\x40");
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

bool IsListedSortColumn(std::string_view order, std::string_view columns) {
  if (order.empty() || columns.find_first_not_of(' ') == std::string_view::npos) return true;
  while (!columns.empty()) {
    const std::size_t comma = std::min(columns.find(','), columns.size());
    std::string_view column = columns.substr(0, comma);
    columns.remove_prefix(std::min(comma + 1, columns.size()));
    column.remove_prefix(std::min(column.find_first_not_of(' '), column.size()));
    column.remove_suffix(column.size() - (column.find_last_not_of(' ') + 1));
    if (SameTextIgnoringCase(column, order)) return true;
  }
  return false;
}

std::vector<std::string> SearchWords(std::string_view text) {
  std::vector<std::string> words;
  std::size_t wordStart = std::string_view::npos;
  for (std::size_t i = 0; i <= text.size();) {
    const std::size_t length = i < text.size() ? platform::CharLength(text, i) : 1;
    if (i == text.size() || IsBlankAt(text, i, length)) {
      if (wordStart != std::string_view::npos)
        words.emplace_back(text.substr(wordStart, i - wordStart));
      wordStart = std::string_view::npos;
    } else if (wordStart == std::string_view::npos) {
      wordStart = i;
    }
    i += length;
  }
  if (words.empty()) words.emplace_back(text);
  return words;
}

std::string IsbnSearchText(std::string_view text) {
  std::string digits;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = platform::CharLength(text, i);
    const unsigned char first = text[i];
    const unsigned char second = length == 2 ? text[i + 1] : 0;
    if (length == 1 && first >= '0' && first <= '9') {
      digits.push_back(static_cast<char>(first));
    } else if (length == 1 && (first == 'X' || first == 'x')) {
      digits.push_back('X');
    } else if (first == 0x82 && second >= 0x4F && second <= 0x58) {  // ０ to ９
      digits.push_back(static_cast<char>('0' + (second - 0x4F)));
    } else if (first == 0x82 && (second == 0x77 || second == 0x98)) {  // Ｘ ｘ
      digits.push_back('X');
    }
    i += length;
  }
  if (digits.find_first_of("0123456789") == std::string::npos) return std::string(text);
  const bool allDigits = digits.find('X') == std::string::npos;
  if (digits.size() == 13 && allDigits && digits.compare(0, 3, "978") == 0)
    return digits.substr(3, 9);
  if (digits.size() == 10 && digits.find('X') >= 9) return digits.substr(0, 9);
  return digits;
}

namespace {

// One condition of the statement: a word compared with one column, or with either of
// two.
struct Comparison {
  const char* column;
  const char* orColumn;  // nullptr for one column
  std::string text;
};

// The conditions of the search, in the order the statement writes them. A word given
// twice in one text is compared once: the second condition could not narrow anything.
std::vector<Comparison> Comparisons(const SearchCriteria& criteria) {
  const std::uint8_t flags = criteria.SearchFlags;
  std::vector<Comparison> comparisons;
  auto add = [&](const char* column, const char* orColumn, const std::string& text) {
    std::set<std::string> seen;
    for (std::string& word :
         criteria.EveryWord ? SearchWords(text) : std::vector<std::string>{text}) {
      if (seen.insert(word).second) comparisons.push_back({column, orColumn, std::move(word)});
    }
  };
  if (flags & kSearchBookName) add("MS_SYOMEI", "MS_SYOKANA", criteria.BookName);
  if (flags & kSearchChosya) {
    add("MS_CHOSYA", criteria.AuthorOnly ? nullptr : "MS_CHOKANA", criteria.Chosya);
  }
  if (flags & kSearchSyupan) add("MS_SYUPAN", nullptr, criteria.Syupan);
  if (flags & kSearchIsbn) {
    // An ISBN is one number whatever blanks it holds.
    comparisons.push_back(
        {"MS_ISBN", nullptr, criteria.LooseMatch ? IsbnSearchText(criteria.Isbn) : criteria.Isbn});
  }
  if (flags & kSearchKenmei) add("MS_KENMEI", nullptr, criteria.Kenmei);
  return comparisons;
}

}  // namespace

bool SearchFitsLimits(const SearchCriteria& criteria) {
  const std::vector<Comparison> comparisons = Comparisons(criteria);
  std::size_t bytes = 0;
  for (const Comparison& comparison : comparisons) bytes += comparison.text.size();
  return comparisons.size() <= kMostSearchWords && bytes <= kMostSearchTextBytes;
}

TStringList BuildSearchStatement(TStringList lines, const SearchCriteria& criteria) {
  lines.push_back("WHERE");
  bool first = true;
  for (const Comparison& comparison : Comparisons(criteria)) {
    // Each condition is a few lines; one "AND" line stands between two.
    if (!first) lines.push_back("AND");
    first = false;
    const std::string pattern = LikePattern(comparison.text, criteria.LooseMatch);
    if (comparison.orColumn) {
      lines.push_back(std::string("( ") + comparison.column + " LIKE " + pattern);
      lines.push_back("OR");
      lines.push_back(std::string(comparison.orColumn) + " LIKE " + pattern + " )");
    } else {
      lines.push_back(std::string(comparison.column) + " LIKE " + pattern);
    }
  }
  if (!criteria.Order.empty())
    lines.push_back("ORDER BY " + criteria.Order + " " + criteria.OrderKind);
  return lines;
}

}  // namespace module
