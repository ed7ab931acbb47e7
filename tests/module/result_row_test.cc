#include "module/result_row.h"

#include <gtest/gtest.h>

using namespace module;

namespace {

TEST(ResultRow, LoanStateFirstRuleThatHoldsWins) {
  struct Case {
    const char *user, *tmark, *tfmsuu, *kkubun;
    std::uint8_t state;
  } cases[] = {
      {"U01", "", "1", "9", kLoanLentOut}, {"", "", "1", "0", kLoanNotForLoan},
      {"", "T", "1", "0", kLoanAvailable}, {"", "T", "1", "9X", kLoanNotForLoan},
      {"", "", "", "9", kLoanNotForLoan},  {"", "", "", "", kLoanAvailable},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecideLoanState(c.user, c.tmark, c.tfmsuu, c.kkubun, '9'), c.state)
        << c.user << c.tmark;
  }
  // An empty kkubun reads as the NUL byte, which an empty KINTAI setting matches.
  EXPECT_EQ(DecideLoanState("", "", "", "", '\0'), kLoanNotForLoan);
}

TEST(ResultRow, ClassificationKeepsTheLeadingRunOfAtMostSixBytes) {
  EXPECT_EQ(ClassificationCell("913.68ABC"), "913.68");
  EXPECT_EQ(ClassificationCell("913.6/A"), "913.6");
  EXPECT_EQ(ClassificationCell("A/1"), "A");
  EXPECT_EQ(ClassificationCell(""), "");
  EXPECT_EQ(ClassificationCell(" 913"), "");
  EXPECT_EQ(ClassificationCell("9,1\x82\xa0"), "9,1");
}

TEST(ResultRow, AuthorLinkKeepsDoubleByteCharactersWhole) {
  const std::string threeKanji = "\x89\xc4\x96\xda\x9f\x54";  // 夏目漱 (six bytes)
  EXPECT_EQ(AuthorLinkValue(threeKanji, 0), threeKanji);
  EXPECT_EQ(AuthorLinkValue(threeKanji, 4), threeKanji.substr(0, 4));
  EXPECT_EQ(AuthorLinkValue(threeKanji, 3), threeKanji.substr(0, 4));
  EXPECT_EQ(AuthorLinkValue(threeKanji, 1), threeKanji.substr(0, 2));
  EXPECT_EQ(AuthorLinkValue(threeKanji, 100), threeKanji);
  EXPECT_EQ(AuthorLinkValue(threeKanji, -1), "");
  EXPECT_EQ(AuthorLinkValue("ab\x95\x5C", 3), "ab\x95\x5C");
  EXPECT_EQ(AuthorLinkValue("abc\x95", 4), "abc\x95");  // a lone lead byte at the end
}

}  // namespace
