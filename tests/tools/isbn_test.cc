#include "tools/isbn.h"

#include <gtest/gtest.h>

namespace {

TEST(IsbnTest, ProblemNamesWhatIsWrong) {
  struct Case {
    const char* text;
    const char* problem;  // empty: valid
  } cases[] = {
      {"978-4-10-101013-7", ""},
      {"9784101010137", ""},
      {"4-10-101013-7", ""},
      {"4-8340-0082-6", ""},
      {"4-00-000008-X", ""},  // check digit 10 written as X
      {"4-00-000008-x", ""},  // in either case
      {"978-4-10-101013-8", "the check digit should be 7"},
      {"4-10-101013-X", "the check digit should be 7"},
      {"4-10-101013", "an ISBN has 10 or 13 digits"},
      {"977-4-10-101013-2", "an ISBN-13 begins with 978 or 979"},
      {"978-4-10-1O1013-7", "an ISBN-13 has thirteen digits"},  // letter O
      {"X-10-101013-7", "an ISBN-10 has nine digits and a digit or X"},
  };
  for (const Case& c : cases) EXPECT_EQ(tools::Problem(c.text), c.problem) << c.text;
}

TEST(IsbnTest, JapaneseHyphensFollowTheRegistrantRanges) {
  struct Case {
    const char* twelve;
    const char* formatted;
  } cases[] = {
      {"978410101013", "978-4-10-101013-7"},  // two-digit registrant
      {"978448000000", "978-4-480-00000-2"},  // three digits
      {"978483400082", "978-4-8340-0082-5"},  // four digits
      {"978487000000", "978-4-87000-000-1"},  // five digits
      {"978491551237", "978-4-915512-37-7"},  // six digits
      {"978499999999", "978-4-9999999-9-6"},  // seven digits
  };
  for (const Case& c : cases) {
    std::string formatted = tools::FormatJapanese13(c.twelve);
    EXPECT_EQ(formatted, c.formatted);
    EXPECT_EQ(tools::Problem(formatted), "") << formatted;
  }
}

}  // namespace
