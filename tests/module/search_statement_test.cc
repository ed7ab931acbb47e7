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

}  // namespace
