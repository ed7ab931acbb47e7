// End-to-end: the rows of the result list (number, loan state mark, classification,
// detail link, author link), the row window of a page and the page links.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/module/installation.h"
#include "tests/module/list_pages.h"

namespace module_e2e {
namespace {

const std::string kNextText = "\x8e\x9f\x82\xcc\x83\x79\x81\x5b\x83\x57";   // 次のページ
const std::string kPriorText = "\x91\x4f\x82\xcc\x83\x79\x81\x5b\x83\x57";  // 前のページ
const std::string kNatsume = "\x89\xc4\x96\xda\x9f\xf9\x90\xce";            // 夏目漱石

TEST(ResultRows, FirstRowOfTheExample) {
  Installation site;
  site.AddBooks({{{"MS_BOOKID", "123"},
                  {"MS_SYOMEI", "ab"},
                  {"MS_CHOSYA", "xy"},
                  {"MS_SEIKYU", "913.6/A"},
                  {"MS_KKUBUN", "0"}}});
  const std::string rows =
      "<tr>\r\n"
      "<td align=\"RIGHT\" width=\"25\">1</td>\r\n"
      "<td><font color=\"#0000FF\"> \x81\xa1 </font></td>\r\n"
      "<td>913.6</td>\r\n"
      "<td><a href=\"../liraweb/data?ID=123&RENT=0&BNAME=ab++&BKANA=++&ANAME=xy++&AKANA=++&PUB=++"
      "&NDC=913%2E6%2FA++&ISBN=++&SUB=++\">ab  </a></td>\r\n"
      "<td><a href=\"../liraweb/list?PAGENUM=0&CHOSYA=xy&NoKanaFind=1\">xy</a></td>\r\n"
      "</tr>\r\n";
  EXPECT_EQ(site.Get("/list", "BOOKNAME=ab&PAGENUM=0").output,
            Page("LIST 1[][]\r\n<table border=\"0\">\r\n<tr><td>\x8f\x91\x96\xbc</td><td> = "
                 "</td><td>ab</td></tr>\r\n</table>\r\n" +
                 rows + "[][]\r\n<a href=\"../liraweb\">" + std::string(kBackText) + "</a>\r\n"));
}

TEST(ResultRows, LoanStateMarksAndClassificationCells) {
  Installation site;
  site.AddBooks({
      // A borrower wins over everything else.
      {{"MS_BOOKID", "1"},
       {"MS_SYOMEI", "loan1"},
       {"KA_USERID", "U1"},
       {"MS_TMARK", "T"},
       {"MS_KKUBUN", "0"},
       {"MS_SEIKYU", "913.68ABC"}},
      // No tmark with a tfmsuu: not for loan.
      {{"MS_BOOKID", "2"},
       {"MS_SYOMEI", "loan2"},
       {"MS_TFMSUU", "1"},
       {"MS_KKUBUN", "0"},
       {"MS_SEIKYU", "A/1"}},
      // A tmark: the kkubun's first byte against KINTAI (9) decides.
      {{"MS_BOOKID", "3"},
       {"MS_SYOMEI", "loan3"},
       {"MS_TMARK", "T"},
       {"MS_TFMSUU", "1"},
       {"MS_KKUBUN", "9X"}},
      {{"MS_BOOKID", "4"},
       {"MS_SYOMEI", "loan4"},
       {"MS_TMARK", "T"},
       {"MS_TFMSUU", "1"},
       {"MS_KKUBUN", "0"},
       {"MS_SEIKYU",
        "\x95\x5C"
        "1"}},
      {{"MS_BOOKID", "5"}, {"MS_SYOMEI", "loan5"}, {"MS_SEIKYU", "913.6 x"}},
  });
  auto query = [](const char* id, const char* rent, const char* ndc) {
    return std::string("ID=") + id + "&RENT=" + rent + "&BNAME=loan" + id +
           "++&BKANA=++&ANAME=++&AKANA=++&PUB=++&NDC=" + ndc + "++&ISBN=++&SUB=++";
  };
  const std::string rows =
      Row({1, false, "913.68", query("1", "1", "913%2E68ABC"), "loan1", "", ""}) +
      Row({2, false, "A", query("2", "2", "A%2F1"), "loan2", "", ""}) +
      Row({3, false, "", query("3", "2", ""), "loan3", "", ""}) +
      Row({4, true, "", query("4", "0", "%95%5C1"), "loan4", "", ""}) +
      Row({5, true, "913.6", query("5", "0", "913%2E6+x"), "loan5", "", ""});
  EXPECT_EQ(site.Get("/list", "BOOKNAME=loan&PAGENUM=0").output,
            Page(ListPage(5, Condition(kLabelBookName, "loan"), rows)));
}

TEST(ResultRows, AuthorLinkIsCutByAcLimitKeepingCharactersWhole) {
  struct Case {
    const char* acLimit;
    std::string natsumeValue;  // encoded author value for 夏目漱石
    std::string shortValue;    // for the author "ab"
  } cases[] = {
      {"0", "%89%C4%96%DA%9F%F9%90%CE", "ab"},
      {"4", "%89%C4%96%DA", "ab"},
      // The second character starts inside the limit and is taken whole.
      {"3", "%89%C4%96%DA", "ab"},
      {"1", "%89%C4", "a"},
      {"100", "%89%C4%96%DA%9F%F9%90%CE", "ab"},
      {"-1", "", ""},
  };
  for (const auto& c : cases) {
    Installation site;
    site.Write("liraweb.conf", ConfWith("AC_LIMIT", c.acLimit));
    site.AddBooks({{{"MS_BOOKID", "1"}, {"MS_SYOMEI", "t1"}, {"MS_CHOSYA", kNatsume}},
                   {{"MS_BOOKID", "2"}, {"MS_SYOMEI", "t2"}, {"MS_CHOSYA", "ab"}}});
    const std::string rows =
        Row({1, true, "",
             "ID=1&RENT=0&BNAME=t1++&BKANA=++&ANAME=%89%C4%96%DA%9F%F9%90%CE++&AKANA=++&PUB=++"
             "&NDC=++&ISBN=++&SUB=++",
             "t1", c.natsumeValue, kNatsume}) +
        Row({2, true, "",
             "ID=2&RENT=0&BNAME=t2++&BKANA=++&ANAME=ab++&AKANA=++&PUB=++&NDC=++&ISBN=++&SUB=++",
             "t2", c.shortValue, "ab"});
    EXPECT_EQ(site.Get("/list", "BOOKNAME=t&PAGENUM=0").output,
              Page(ListPage(2, Condition(kLabelBookName, "t"), rows)))
        << c.acLimit;
  }
}

// 45 books titled "ab c 01" to "ab c 45", searched for "ab c" (with its blank).
class Paging : public ::testing::Test {
 protected:
  Paging() {
    std::vector<Book> books;
    for (int i = 1; i <= 45; ++i) books.push_back(Titled(Id(i), "ab c " + Id(i)));
    site_.AddBooks(books);
  }
  static std::string Id(int i) {
    char id[4];
    std::snprintf(id, sizeof id, "%02d", i);
    return id;
  }
  // Rows first..last of the result, the first one numbered firstNumber.
  static std::string Rows(int first, int last, long long firstNumber) {
    std::string rows;
    for (int i = first; i <= last; ++i) {
      rows += TitledRow(firstNumber + (i - first), Id(i), "ab c " + Id(i), "ab+c+" + Id(i));
    }
    return rows;
  }
  static std::string Link(const std::string& page, const std::string& text) {
    return "<a href=\"../liraweb/list?PAGENUM=" + page + "&BOOKNAME=ab+c\">" + text + "</a>";
  }
  Installation site_;
};

TEST_F(Paging, RowWindowAndLinksOfEachPage) {
  const std::string title = Condition(kLabelBookName, "ab c");
  struct Case {
    std::string pageField;  // the PAGENUM part of the query, if any
    std::string page;
    std::vector<LogEntry> log;
  } cases[] = {
      {"PAGENUM=0", ListPage(45, title, Rows(1, 20, 1), "", Link("1", kNextText)), {}},
      {"PAGENUM=1",
       ListPage(45, title, Rows(21, 40, 21), Link("0", kPriorText), Link("2", kNextText)),
       {}},
      {"PAGENUM=2", ListPage(45, title, Rows(41, 45, 41), Link("1", kPriorText)), {}},
      // Past the last page: no rows, a way back, no way on.
      {"PAGENUM=5", ListPage(45, title, "", Link("4", kPriorText)), {}},
      {"PAGENUM=-1",
       ListPage(45, title, Rows(1, 20, -19), Link("-2", kPriorText), Link("0", kNextText)),
       {}},
      // The largest page number is a page past the end, not an overflow.
      {"PAGENUM=2147483647", ListPage(45, title, "", Link("2147483646", kPriorText)), {}},
      {"PAGENUM=-2147483648",
       ListPage(45, title, Rows(1, 20, -42949672959LL), "", Link("-2147483647", kNextText)),
       {}},
      // A page number that is no 32-bit number is page 0, and logged.
      {"PAGENUM=99999999999",
       ListPage(45, title, Rows(1, 20, 1), "", Link("1", kNextText)),
       {{"PageNumber", "0"}}},
      {"PAGENUM=",
       ListPage(45, title, Rows(1, 20, 1), "", Link("1", kNextText)),
       {{"PageNumber", "0"}}},
      // Decimal digits only, after optional blanks and a sign; hexadecimal is no page.
      {"PAGENUM=+%201",
       ListPage(45, title, Rows(21, 40, 21), Link("0", kPriorText), Link("2", kNextText)),
       {}},
      {"PAGENUM=%201",
       ListPage(45, title, Rows(21, 40, 21), Link("0", kPriorText), Link("2", kNextText)),
       {}},
      {"PAGENUM=%241",
       ListPage(45, title, Rows(1, 20, 1), "", Link("1", kNextText)),
       {{"PageNumber", "0"}}},
      {"PAGENUM=0x1",
       ListPage(45, title, Rows(1, 20, 1), "", Link("1", kNextText)),
       {{"PageNumber", "0"}}},
      {"PAGENUM=-x1",
       ListPage(45, title, Rows(1, 20, 1), "", Link("1", kNextText)),
       {{"PageNumber", "0"}}},
      {"NOPAGE=1",
       ListPage(45, title, Rows(1, 20, 1), "", Link("1", kNextText)),
       {{"PageNumber", "0"}}},
  };
  for (const auto& c : cases) {
    site_.Remove("Error.txt");
    EXPECT_EQ(site_.Get("/list", "BOOKNAME=ab+c&" + c.pageField).output, Page(c.page))
        << c.pageField;
    EXPECT_EQ(site_.LogEntries(), c.log) << c.pageField;
  }
}

TEST_F(Paging, PageSizeOfZeroOrLessShowsNoRowsButAlwaysANextLink) {
  const std::string title = Condition(kLabelBookName, "ab c");
  for (const char* listMax : {"0", "-5"}) {
    site_.Write("liraweb.conf", ConfWith("LIST_MAX", listMax));
    EXPECT_EQ(site_.Get("/list", "BOOKNAME=ab+c&PAGENUM=3").output,
              Page(ListPage(45, title, "", Link("2", kPriorText), Link("4", kNextText))))
        << listMax;
  }
}

TEST(PageLinks, CarryEveryGivenSearchValueEncoded) {
  Installation site;
  site.Write("liraweb.conf", ConfWith("LIST_MAX", "1"));
  site.AddBooks({Titled("1",
                        "\x95\x5C"
                        "1"),
                 Titled("2",
                        "\x95\x5C"
                        "2")});
  // Empty values and NoKanaFind are not carried; ORDER and ORDERKIND are.
  const std::string carried = "&BOOKNAME=%95%5C&ORDER=MS%5FBOOKID&ORDERKIND=DESC";
  EXPECT_EQ(
      site.Get("/list",
               "BOOKNAME=%95%5C&CHOSYA=&NoKanaFind=1&ORDER=MS_BOOKID&ORDERKIND=DESC&PAGENUM=0")
          .output,
      Page(ListPage(
          2, Condition(kLabelBookName, "\x95\x5C") + Condition(kLabelOrder, " \x8d\x7e\x8f\x87 "),
          TitledRow(1, "2",
                    "\x95\x5C"
                    "2",
                    "%95%5C2"),
          "", "<a href=\"../liraweb/list?PAGENUM=1" + carried + "\">" + kNextText + "</a>")));
}

TEST(SearchTime, IsShownInSecondsOnTheListPage) {
  Installation site;
  site.AddBooks({Titled("1", "ab")});
  site.Write("html/list.html", "<#SEARCH_TIME>");
  ExpectSecondsPage(site.Get("/list", "BOOKNAME=ab&PAGENUM=0").output);
}

}  // namespace
}  // namespace module_e2e
