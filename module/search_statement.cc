#include "module/search_statement.h"

#include <cctype>
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
// whose trail byte may look like either). lead and tail are the wildcards around it.
std::string LikePattern(std::string_view text, bool literalWildcards, std::string_view lead = "%",
                        std::string_view tail = "%") {
  std::string pattern = "'" + std::string(lead);
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
  return pattern + std::string(tail) + "'";
}

// True when every character of the word may be part of a written ISBN: digits, X and
// hyphens, half or full width.
bool IsIsbnLikeWord(std::string_view word) {
  for (std::size_t i = 0; i < word.size();) {
    const std::size_t length = platform::CharLength(word, i);
    const unsigned char first = word[i];
    const unsigned char second = length == 2 ? word[i + 1] : 0;
    const bool ok =
        length == 1 ? (std::isdigit(first) || first == 'X' || first == 'x' || first == '-')
                    : (first == 0x82 &&
                       ((second >= 0x4F && second <= 0x58) || second == 0x77 || second == 0x98)) ||
                          (first == 0x81 && second == 0x7C);  // －
    if (!ok) return false;
    i += length;
  }
  return true;
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

// Words of a search text as the statement compares them: each blank-separated word
// with WORDS=AND, else the text whole.
std::vector<std::string> ComparedWords(const SearchCriteria& criteria, const std::string& text) {
  return criteria.EveryWord ? SearchWords(text) : std::vector<std::string>{text};
}

// "( a LIKE p OR b LIKE p )".
std::string EitherColumnLike(const char* first, const char* second, const std::string& pattern) {
  return std::string("( ") + first + " LIKE " + pattern + " OR " + second + " LIKE " + pattern +
         " )";
}

// The parts with between written between two.
std::string Joined(const std::vector<std::string>& parts, std::string_view between) {
  std::string text;
  for (const std::string& part : parts) {
    if (!text.empty()) text += between;
    text += part;
  }
  return text;
}

// The columns a field compares, in the order the statement names them.
std::vector<const char*> FieldColumns(SearchField field) {
  switch (field) {
    case SearchField::kTitle:
      return {"MS_SYOMEI", "MS_SYOKANA"};
    case SearchField::kAuthor:
      return {"MS_CHOSYA", "MS_CHOKANA"};
    case SearchField::kAuthorOnly:
      return {"MS_CHOSYA"};
    case SearchField::kPublisher:
      return {"MS_SYUPAN"};
    case SearchField::kIsbn:
      return {"MS_ISBN"};
    case SearchField::kSubject:
      return {"MS_KENMEI"};
    case SearchField::kAny:
      return {"MS_SYOMEI", "MS_SYOKANA", "MS_CHOSYA", "MS_CHOKANA",
              "MS_SYUPAN", "MS_ISBN",    "MS_KENMEI"};
  }
  return {};
}

// The conditions of the search, in the order the statement writes them. A word given
// twice in one text is compared once: the second condition could not narrow anything.
std::vector<Comparison> Comparisons(const SearchCriteria& criteria) {
  const std::uint8_t flags = criteria.SearchFlags;
  std::vector<Comparison> comparisons;
  auto add = [&](SearchField field, const std::string& text) {
    std::set<std::string> seen;
    for (std::string& word : ComparedWords(criteria, text)) {
      if (!seen.insert(word).second) continue;
      comparisons.push_back(FieldComparison(field, word, criteria.LooseMatch));
    }
  };
  if (flags & kSearchBookName) add(SearchField::kTitle, criteria.BookName);
  if (flags & kSearchChosya) {
    add(criteria.AuthorOnly ? SearchField::kAuthorOnly : SearchField::kAuthor, criteria.Chosya);
  }
  if (flags & kSearchSyupan) add(SearchField::kPublisher, criteria.Syupan);
  // An ISBN is one number whatever blanks it holds.
  if (flags & kSearchIsbn)
    comparisons.push_back(FieldComparison(SearchField::kIsbn, criteria.Isbn, criteria.LooseMatch));
  if (flags & kSearchKenmei) add(SearchField::kSubject, criteria.Kenmei);
  if (flags & kSearchAny) {
    const std::size_t first = comparisons.size();
    add(SearchField::kAny, criteria.Any);
    // NoKanaFind leaves out the author's reading here as it does in the author field.
    for (std::size_t c = first; criteria.AuthorOnly && c < comparisons.size(); ++c) {
      auto& columns = comparisons[c].columns;
      std::erase_if(columns, [](const auto& column) { return column.first == "MS_CHOKANA"; });
    }
  }
  return comparisons;
}

}  // namespace

Comparison FieldComparison(SearchField field, const std::string& word, bool looseMatch) {
  // The ISBN field reads its text as one number; the any-field box compares a word
  // written as an ISBN with the ISBN as that field does, and any other word as it
  // stands, so that "第1巻" does not find every "1".
  const bool asIsbn = looseMatch && (field == SearchField::kIsbn ||
                                     (field == SearchField::kAny && IsIsbnLikeWord(word)));
  const std::string isbn = asIsbn ? IsbnSearchText(word) : word;
  Comparison comparison{field == SearchField::kIsbn ? isbn : word, {}};
  for (const char* column : FieldColumns(field)) {
    comparison.columns.push_back({column, std::string(column) == "MS_ISBN" ? isbn : word});
  }
  return comparison;
}

std::string RankingTiers(const SearchCriteria& criteria) {
  const std::string& title = criteria.SearchFlags & kSearchAny ? criteria.Any : criteria.BookName;
  const std::string& author = criteria.SearchFlags & kSearchAny ? criteria.Any : criteria.Chosya;
  auto pattern = [&](const std::string& text, std::string_view lead, std::string_view tail) {
    return LikePattern(text, criteria.LooseMatch, lead, tail);
  };
  // Both columns of a field hold every word: "( a LIKE w1 AND a LIKE w2 ) OR ( b ... )".
  auto everyWordIn = [&](const char* column, const std::string& text) {
    std::string all;
    for (const std::string& word : ComparedWords(criteria, text))
      all +=
          (all.empty() ? "" : " AND ") + std::string(column) + " LIKE " + pattern(word, "%", "%");
    return "( " + all + " )";
  };
  // "( a LIKE p OR b LIKE p ... )" over the title's or the author's columns.
  const std::vector<const char*> titleColumns = {"MS_SYOMEI", "MS_SYOKANA"};
  const std::vector<const char*> authorColumns =
      criteria.AuthorOnly ? std::vector<const char*>{"MS_CHOSYA"}
                          : std::vector<const char*>{"MS_CHOSYA", "MS_CHOKANA"};
  auto anyColumnLike = [](const std::vector<const char*>& columns, const std::string& like) {
    std::string any;
    for (const char* column : columns) any += (any.empty() ? "( " : " OR ") + (column + like);
    return any + " )";
  };
  std::string tiers;
  int tier = 0;
  auto addTier = [&](const std::string& condition) {
    tiers += " WHEN " + condition + " THEN " + std::to_string(tier++);
  };
  if (!title.empty()) {
    addTier(EitherColumnLike("MS_SYOMEI", "MS_SYOKANA", pattern(title, "", "")));
    addTier(EitherColumnLike("MS_SYOMEI", "MS_SYOKANA", pattern(title, "", "%")));
  }
  // With the any-field text: the words of a title and of its author's name typed together,
  // as patrons give a book they know (「こころ 夏目」, 「夜旅 田中」 for 恋の夜旅 by 田中健一):
  // each word in the title, the author or their readings, the author's name (or its
  // reading) beginning with one of them and the title (or its reading) beginning or ending
  // with one of them. A title that merely holds the words, or the author's name in its
  // middle, says less that this is the book.
  std::vector<std::string> inEither, authorBegins, titleEdge;
  if (criteria.SearchFlags & kSearchAny) {
    for (const std::string& word : ComparedWords(criteria, criteria.Any)) {
      std::vector<const char*> either = titleColumns;
      either.insert(either.end(), authorColumns.begin(), authorColumns.end());
      inEither.push_back(anyColumnLike(either, " LIKE " + pattern(word, "%", "%")));
      authorBegins.push_back(anyColumnLike(authorColumns, " LIKE " + pattern(word, "", "%")));
      titleEdge.push_back(anyColumnLike(titleColumns, " LIKE " + pattern(word, "", "%")));
      titleEdge.push_back(anyColumnLike(titleColumns, " LIKE " + pattern(word, "%", "")));
    }
    // The anchored comparisons first: they fail at once for most rows, and the engines
    // stop at the first false part of an AND.
    addTier("( " + Joined(authorBegins, " OR ") + " ) AND ( " + Joined(titleEdge, " OR ") +
            " ) AND " + Joined(inEither, " AND "));
  }
  if (!title.empty())
    addTier(everyWordIn("MS_SYOMEI", title) + " OR " + everyWordIn("MS_SYOKANA", title));
  if (!author.empty() && criteria.AuthorOnly) {
    addTier("MS_CHOSYA LIKE " + pattern(author, "", "") + " OR " +
            everyWordIn("MS_CHOSYA", author));
  } else if (!author.empty()) {
    addTier(EitherColumnLike("MS_CHOSYA", "MS_CHOKANA", pattern(author, "", "")) + " OR " +
            everyWordIn("MS_CHOSYA", author) + " OR " + everyWordIn("MS_CHOKANA", author));
  }
  // Title and author together, anywhere in them: as 「夏目 こころ」 holds こころ by 夏目漱石.
  if (!inEither.empty()) addTier(Joined(inEither, " AND "));
  return tiers.empty() ? tiers : "CASE" + tiers + " ELSE " + std::to_string(tier) + " END";
}

bool SearchFitsLimits(const SearchCriteria& criteria) {
  const std::vector<Comparison> comparisons = Comparisons(criteria);
  std::size_t bytes = 0;
  for (const Comparison& comparison : comparisons) bytes += comparison.word.size();
  return comparisons.size() <= kMostSearchWords && bytes <= kMostSearchTextBytes;
}

void AppendConditions(TStringList& lines, const std::vector<Comparison>& comparisons,
                      bool looseMatch) {
  lines.push_back("WHERE");
  bool first = true;
  for (const Comparison& comparison : comparisons) {
    // Each condition is a few lines; one "AND" line stands between two.
    if (!first) lines.push_back("AND");
    first = false;
    const auto& columns = comparison.columns;
    auto like = [&](std::size_t c) {
      return columns[c].first + " LIKE " + LikePattern(columns[c].second, looseMatch);
    };
    if (columns.size() == 1) {
      lines.push_back(like(0));
    } else if (columns.size() == 2) {
      // The two columns of a field, as the statement has always been written.
      lines.push_back("( " + like(0));
      lines.push_back("OR");
      lines.push_back(like(1) + " )");
    } else {
      // The any-field box: a line a column.
      for (std::size_t c = 0; c < columns.size(); ++c) {
        lines.push_back((c == 0 ? "( " : "OR ") + like(c) + (c + 1 == columns.size() ? " )" : ""));
      }
    }
  }
}

TStringList BuildSearchStatement(TStringList lines, const SearchCriteria& criteria) {
  AppendConditions(lines, Comparisons(criteria), criteria.LooseMatch);
  if (!criteria.Filters.empty()) {
    lines.push_back("AND");
    lines.push_back(criteria.Filters);
  }
  if (criteria.Relevance) {
    const std::string tiers = RankingTiers(criteria);
    lines.push_back("ORDER BY " + (tiers.empty() ? tiers : tiers + ", ") +
                    "MS_SYUNEN IS NULL, MS_SYUNEN DESC, MS_BOOKID");
  } else if (!criteria.Order.empty()) {
    lines.push_back("ORDER BY " + criteria.Order + " " + criteria.OrderKind);
  }
  return lines;
}

}  // namespace module
