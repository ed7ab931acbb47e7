// The search statement: the head from the search SQL file, a WHERE line and one
// LIKE condition per given search text, and an optional ORDER BY line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/string_list.h"

namespace module {

// Bits of the search flags, one per search text.
enum SearchFlag : std::uint8_t {
  kSearchBookName = 1,
  kSearchChosya = 2,
  kSearchSyupan = 4,
  kSearchIsbn = 8,
  kSearchKenmei = 16,
  kSearchAny = 32,  // the any-field box: each word in any of the searched columns
};

struct SearchCriteria {
  std::string BookName, Chosya, Syupan, Isbn, Kenmei, Order, OrderKind;
  std::uint8_t SearchFlags = 0;
  bool AuthorOnly = false;  // compare the author column alone, not its reading
  // The database compares loosely (MATCH=LOOSE): a "%" or "_" of a search text is
  // written as its full-width form, which that comparison reads as the character
  // itself and never as a wildcard; and the ISBN text is reduced to IsbnSearchText.
  bool LooseMatch = false;
  // WORDS=AND: a search text other than the ISBN is split at blanks into words, each
  // compared on its own, so that a book matches when it holds every word.
  bool EveryWord = false;
  // The any-field text: each of its words (with EveryWord) is looked for in the title,
  // its reading, the author, its reading, the publisher, the ISBN and the subject.
  std::string Any{};
  // Best match first: the rows ranked by RankingTiers, then the newest publication year
  // first (a book without one last), then the book key.
  bool Relevance = false;
  // A condition the statement adds after the search's own (the filters of the facets),
  // as SQL; empty for none.
  std::string Filters{};
};

// The words of a search text: its runs of characters between blanks (half or full
// width); the text itself when it holds nothing but blanks.
std::vector<std::string> SearchWords(std::string_view text);

// What an ISBN search compares: its digits and X (full-width ones too, as ASCII). A
// whole ISBN-13 of the 978 prefix or a whole ISBN-10 becomes the nine digits between
// prefix and check digit, which both forms of the number hold; any other number stays
// whole and is found as part of a longer one. A text without digits stays as it is.
std::string IsbnSearchText(std::string_view text);

// True when the sort column and direction may be written into an ORDER BY line: the
// column an SQL identifier (letters, digits, "_", at most one "." between two names),
// the direction empty, ASC or DESC in any letter case. Without a column nothing is
// written, so nothing needs checking.
bool IsSafeSortOrder(std::string_view order, std::string_view orderKind);

// True when the sort column is empty, or the list of columns (names separated by commas,
// blanks around them ignored) is empty, or the column is one of them in any letter case.
bool IsListedSortColumn(std::string_view order, std::string_view columns);

// The fields a search text is compared with, each with its columns: the title and its
// reading, the author and its reading (or the author alone), the publisher, the ISBN,
// the subject, and all seven for the any-field box.
enum class SearchField { kTitle, kAuthor, kAuthorOnly, kPublisher, kIsbn, kSubject, kAny };

// One condition of a statement: a word compared with one column or with any of several,
// each with the text it is given. word is what the limits count.
struct Comparison {
  std::string word;
  std::vector<std::pair<std::string, std::string>> columns;  // column, compared text
};

// The condition of a word in a field. With looseMatch the ISBN field reads the word as
// IsbnSearchText, and so does the any-field box's ISBN column for a word of ISBN
// characters alone.
Comparison FieldComparison(SearchField field, const std::string& word, bool looseMatch);

// Appends the WHERE line and the conditions, "AND" between two; a condition of several
// columns is "( a LIKE p OR b LIKE q ... )". A single quote in a compared text is doubled.
void AppendConditions(platform::TStringList& lines, const std::vector<Comparison>& comparisons,
                      bool looseMatch);

// The most conditions a search may have, and the most bytes its compared texts may
// hold together: each condition costs the database a pass over the rows it reads (and
// SQLite refuses a statement of about a thousand), each character a look-up in the
// search index.
inline constexpr std::size_t kMostSearchWords = 64;
inline constexpr std::size_t kMostSearchTextBytes = 1024;

// True when the search's conditions (its distinct words, with EveryWord) and their
// texts stay within kMostSearchWords and kMostSearchTextBytes.
bool SearchFitsLimits(const SearchCriteria& criteria);

// The ORDER BY expression of the best-match order, from the title text (the any-field
// text, else the title's) and the author text (likewise), compared as LIKE compares, the
// first that holds numbered from 0:
//   - the whole title or its reading is the text
//   - the title or its reading begins with it
//   - with the any-field text: each word is in the title, the author or one of their
//     readings, the author (or reading) begins with one of the words, and the title (or
//     reading) begins or ends with one of them (a title and its author typed together)
//   - the title, or its reading, holds every word of it
//   - the author or the author's reading is the text or holds every word of it (the
//     author alone with AuthorOnly)
//   - with the any-field text: each word is in the title, the author or one of their
//     readings (title and author together hold every word)
//   - any other row (ELSE)
// The author's reading is left out everywhere with AuthorOnly. Empty when neither text
// is given.
std::string RankingTiers(const SearchCriteria& criteria);

// Appends the WHERE line, the conditions and the ORDER BY line to the head lines: one
// condition a search text (one a word with EveryWord, a word repeated in one text
// once), "AND" between two. A single quote in a search text is doubled so it stays
// inside its literal.
platform::TStringList BuildSearchStatement(platform::TStringList head,
                                           const SearchCriteria& criteria);

}  // namespace module
