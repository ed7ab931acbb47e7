#include "module/search_statement.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace module;

namespace {

TStringList Conditions(const SearchCriteria& criteria) {
  TStringList lines = BuildSearchStatement({"SELECT * FROM BOOKS"}, criteria);
  EXPECT_EQ(lines.front(), "SELECT * FROM BOOKS");
  return TStringList(lines.begin() + 1, lines.end());
}

TEST(SearchStatement, AllFiveTextsWithSortOrder) {
  SearchCriteria all{"abc", "xyz", "pub", "4-1", "sub", "MS_SYOKANA", "ASC", 31, false};
  EXPECT_EQ(Conditions(all),
            (TStringList{"WHERE", "( MS_SYOMEI LIKE '%abc%'", "OR", "MS_SYOKANA LIKE '%abc%' )",
                         "AND", "( MS_CHOSYA LIKE '%xyz%'", "OR", "MS_CHOKANA LIKE '%xyz%' )",
                         "AND", "MS_SYUPAN LIKE '%pub%'", "AND", "MS_ISBN LIKE '%4-1%'", "AND",
                         "MS_KENMEI LIKE '%sub%'", "ORDER BY MS_SYOKANA ASC"}));
}

TEST(SearchStatement, AndStandsOnlyBetweenConditions) {
  struct Case {
    SearchCriteria criteria;
    TStringList lines;
  } cases[] = {
      {{"", "", "pub", "", "", "", "", kSearchSyupan, false}, {"WHERE", "MS_SYUPAN LIKE '%pub%'"}},
      {{"", "xy", "", "", "k", "", "ASC", kSearchChosya | kSearchKenmei, true},
       {"WHERE", "MS_CHOSYA LIKE '%xy%'", "AND", "MS_KENMEI LIKE '%k%'"}},
      {{"", "", "", "9", "", "MS_SEIKYU", "", kSearchIsbn, false},
       {"WHERE", "MS_ISBN LIKE '%9%'", "ORDER BY MS_SEIKYU "}},
      {{" ", "", "", "", "", "", "", kSearchBookName, false},
       {"WHERE", "( MS_SYOMEI LIKE '% %'", "OR", "MS_SYOKANA LIKE '% %' )"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Conditions(c.criteria), c.lines);
}

TEST(SearchStatement, QuoteInASearchTextStaysInsideItsLiteral) {
  SearchCriteria quote{"", "", "O'Reilly", "", "", "", "", kSearchSyupan, false};
  EXPECT_EQ(Conditions(quote).back(), "MS_SYUPAN LIKE '%O''Reilly%'");
  // A Shift_JIS text without quotes is written byte for byte, 0x5C trail byte included.
  SearchCriteria table{"\x95\x5C", "", "", "", "", "", "", kSearchBookName, false};
  EXPECT_EQ(Conditions(table)[1], "( MS_SYOMEI LIKE '%\x95\x5C%'");
}

TEST(SearchStatement, OnlyIdentifiersAndDirectionsMayBeSortOrders) {
  struct Case {
    const char* order;
    const char* kind;
    bool safe;
  } cases[] = {
      {"", "anything; DROP", true},
      {"MS_SYOKANA", "ASC", true},
      {"MS_SEIKYU", "desc", true},
      {"b.MS_SEIKYU", "", true},
      {"MS_X", "Desc", true},
      {"a.b.c", "ASC", false},
      {".a", "", false},
      {"a.", "", false},
      {"MS_X;", "", false},
      {"MS_X", "ASC;", false},
      {"MS_X", "DOWN", false},
      {"1 OR 1", "", false},
      {"MS_\x95\x5C", "", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsSafeSortOrder(c.order, c.kind), c.safe) << c.order << " " << c.kind;
}

TEST(SearchStatement, EveryWordIsItsOwnConditionAndTheIsbnStaysWhole) {
  SearchCriteria words{"a b", "\x89\xc4\x96\xda\x81\x40\x9f\xf9",
                       "",    "4 10",
                       "",    "",
                       "",    kSearchBookName | kSearchChosya | kSearchIsbn,
                       true};
  words.EveryWord = true;
  EXPECT_EQ(Conditions(words),
            (TStringList{"WHERE", "( MS_SYOMEI LIKE '%a%'", "OR", "MS_SYOKANA LIKE '%a%' )", "AND",
                         "( MS_SYOMEI LIKE '%b%'", "OR", "MS_SYOKANA LIKE '%b%' )", "AND",
                         "MS_CHOSYA LIKE '%\x89\xc4\x96\xda%'", "AND",
                         "MS_CHOSYA LIKE '%\x9f\xf9%'", "AND", "MS_ISBN LIKE '%4 10%'"}));
  struct Case {
    const char* text;
    std::vector<std::string> words;
  } cases[] = {
      {"  a  b ", {"a", "b"}},
      {"\x81\x40", {"\x81\x40"}},  // only blanks: one word, as without the setting
      {" ", {" "}},
      {"\x83\x40\x81\x40"
       "a",
       {"\x83\x40", "a"}},  // a trail byte 0x40 alone is no blank
      {"\x95\x5c \x95\x5c", {"\x95\x5c", "\x95\x5c"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SearchWords(c.text), c.words) << c.text;
}

// Words joined by n blanks: "w0 w1 ..." or the same word n times.
std::string Words(std::size_t n, bool distinct, const std::string& word = "w") {
  std::string text;
  for (std::size_t i = 0; i < n; ++i) {
    text += (i ? " " : "") + word + (distinct ? std::to_string(i) : "");
  }
  return text;
}

TEST(SearchStatement, RepeatedWordsAreComparedOnceAndLargeSearchesRefused) {
  SearchCriteria repeated{Words(997, false, "ab"),         "ab ab", "", "", "", "", "",
                          kSearchBookName | kSearchChosya, false};
  repeated.EveryWord = true;
  // A word repeated in one text is one condition; the same word in another text is its own.
  EXPECT_EQ(Conditions(repeated),
            (TStringList{"WHERE", "( MS_SYOMEI LIKE '%ab%'", "OR", "MS_SYOKANA LIKE '%ab%' )",
                         "AND", "( MS_CHOSYA LIKE '%ab%'", "OR", "MS_CHOKANA LIKE '%ab%' )"}));
  struct Case {
    const char* what;
    std::string bookName, isbn;
    bool everyWord, fits;
  } cases[] = {
      {"the most words", Words(kMostSearchWords - 1, true), "1", true, true},
      {"a word more", Words(kMostSearchWords, true), "1", true, false},
      {"many words without WORDS=AND are one", Words(kMostSearchWords * 2, true), "", false, true},
      {"one word ten thousand times", Words(10000, false), "", true, true},
      {"the longest text", std::string(kMostSearchTextBytes - 1, 'a'), "1", false, true},
      {"a byte longer", std::string(kMostSearchTextBytes, 'a'), "1", false, false},
      {"a long number", "", std::string(100000, '9'), true, false},
  };
  for (const Case& c : cases) {
    SearchCriteria criteria{c.bookName,
                            "",
                            "",
                            c.isbn,
                            "",
                            "",
                            "",
                            static_cast<std::uint8_t>((c.bookName.empty() ? 0 : kSearchBookName) |
                                                      (c.isbn.empty() ? 0 : kSearchIsbn)),
                            false};
    criteria.EveryWord = c.everyWord;
    EXPECT_EQ(SearchFitsLimits(criteria), c.fits) << c.what;
  }
}

TEST(SearchStatement, LooseMatchWritesWildcardsAsTextAndIsbnsAsTheirCore) {
  SearchCriteria loose{
      "100%_", "", "", "978-4-10-101001-4", "", "", "", kSearchBookName | kSearchIsbn, false};
  loose.LooseMatch = true;
  EXPECT_EQ(Conditions(loose), (TStringList{"WHERE", "( MS_SYOMEI LIKE '%100\x81\x93\x81\x51%'",
                                            "OR", "MS_SYOKANA LIKE '%100\x81\x93\x81\x51%' )",
                                            "AND", "MS_ISBN LIKE '%410101001%'"}));
  // A trail byte that looks like "_" belongs to its character.
  SearchCriteria trail{"\x83\x5f", "", "", "", "", "", "", kSearchBookName, false};
  trail.LooseMatch = true;
  EXPECT_EQ(Conditions(trail)[1], "( MS_SYOMEI LIKE '%\x83\x5f%'");

  struct Case {
    const char* typed;
    const char* compared;
  } cases[] = {
      {"9784101010014", "410101001"},  // ISBN-13, 978 prefix
      {"4-10-101001-4", "410101001"},  // ISBN-10 with hyphens
      {"4 10 101001 4", "410101001"},
      {"4-8002-6046-x", "480026046"},       // check digit X
      {"\x82\x53\x82\x50\x82\x4f", "410"},  // full-width digits
      {"9791234567896", "9791234567896"},   // 979 has no ISBN-10
      {"4-10-1", "4101"},                   // part of a number
      {"97841010100", "97841010100"},
      {"ISBN 4-10", "410"},
      {"abc", "abc"},  // no digit: as typed
  };
  for (const Case& c : cases) EXPECT_EQ(IsbnSearchText(c.typed), c.compared) << c.typed;
}

}  // namespace
