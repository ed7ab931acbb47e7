// End-to-end: result rows written from the installation's row template, the links to
// other books and back to the result list, the overdue mark, the search words and page
// number of a title, and the installation's own 500 page.
#include <gtest/gtest.h>

#include <ctime>
#include <regex>

#include "tests/module/installation.h"
#include "tests/module/list_pages.h"

namespace module_e2e {
namespace {

// One book a loan state, keyed and titled so the catalogue order is the key order.
// The third is not for loan because its MS_KKUBUN starts with KINTAI (9).
const std::vector<Book> kBooks = {
    {{"MS_BOOKID", "B 1"}, {"MS_SYOMEI", "t<1>"}, {"MS_CHOSYA", "\x89\xc4\x96\xda"}},  // 夏目
    {{"MS_BOOKID", "B2"}, {"MS_SYOMEI", "t2"}, {"KA_USERID", "U"}},
    {{"MS_BOOKID", "B3"}, {"MS_SYOMEI", "t3"}, {"MS_KKUBUN", "9"}},
    {{"MS_BOOKID", "B4"}, {"MS_SYOMEI", "t4"}, {"MS_TFMSUU", "1"}},
    {{"MS_BOOKID", "B5"}, {"MS_SYOMEI", "t5"}, {"MS_CHOSYA", "a b"}},
};

constexpr std::string_view kRowTemplate =
    "[<#ROWNUMBER>|<#COLUMN NAME=MS_SYOMEI>|<#LOANWORDS AVAILABLE=ok LENTOUT=out "
    "NOTFORLOAN=no>|<#DETAILLINK>|<#SEARCHLINK NAME=CHOSYA COLUMN=MS_CHOSYA>|<#RESULT_ROWS>]\n";

// The row the template gives for book n (1-based in kBooks) on page pageNumber of the
// search BOOKNAME=t, worked out by hand from the catalogue above.
std::string ExpectedRow(int number, int book, int pageNumber) {
  static const char* const kIds[] = {"B+1", "B2", "B3", "B4", "B5"};
  static const char* const kTitles[] = {"t&lt;1&gt;", "t2", "t3", "t4", "t5"};
  static const char* const kStates[] = {"ok", "out", "no", "no", "ok"};
  static const char* const kAuthorLinks[] = {
      "../liraweb/list?PAGENUM=0&amp;CHOSYA=%89%C4%96%DA&amp;NoKanaFind=1", "", "", "",
      "../liraweb/list?PAGENUM=0&amp;CHOSYA=a+b&amp;NoKanaFind=1"};
  const int i = book - 1;
  return "[" + std::to_string(number) + "|" + kTitles[i] + "|" + kStates[i] +
         "|../liraweb/data?ID=" + kIds[i] + "&amp;PAGENUM=" + std::to_string(pageNumber) +
         "&amp;BOOKNAME=t|" + kAuthorLinks[i] + "|]\n";
}

class ReaderTags : public ::testing::Test {
 protected:
  ReaderTags() {
    site_.Write("liraweb.conf", ConfWith("LIST_MAX", "2"));
    site_.AddBooks(kBooks);
    site_.Write("html/row.html", kRowTemplate);
  }
  Installation site_;
};

TEST_F(ReaderTags, RowTemplateWritesEachRowOfThePage) {
  site_.Write("html/list.html", "<#RESULT_ROWS TEMPLATE=row.html>.");
  struct Case {
    int page;
    std::string rows;
  } cases[] = {
      {0, ExpectedRow(1, 1, 0) + ExpectedRow(2, 2, 0)},
      {1, ExpectedRow(3, 3, 1) + ExpectedRow(4, 4, 1)},
      {2, ExpectedRow(5, 5, 2)},
      {3, ""},  // past the last page: no row, and no paging tag asks for the notice
      // A negative page shows the first rows numbered from below 1, as the original rows.
      {-1, ExpectedRow(-1, 1, -1) + ExpectedRow(0, 2, -1)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(site_.Get("/list", "BOOKNAME=t&PAGENUM=" + std::to_string(c.page)).output,
              Page(c.rows + "."))
        << c.page;
  }
}

// The row template and the original rows step through the same page alike: the same
// numbers, books and loan states (■ for the ones a patron can borrow).
TEST_F(ReaderTags, RowTemplateShowsTheBooksTheOriginalRowsShow) {
  site_.Write("html/row.html",
              "<#ROWNUMBER> <#COLUMN NAME=MS_BOOKID> <#LOANWORDS AVAILABLE=1 "
              "LENTOUT=0 NOTFORLOAN=0>\n");
  for (int page = 0; page < 3; ++page) {
    const std::string query = "BOOKNAME=t&PAGENUM=" + std::to_string(page);
    site_.Write("html/list.html", "<#RESULT_ROWS TEMPLATE=row.html>");
    const std::string templated = site_.Get("/list", query).output;
    site_.Write("html/list.html", "<#FIND_VALUE_LIST>");
    const std::string original = site_.Get("/list", query).output;
    std::string fromOriginal;
    const std::regex row(
        R"(width="25">(\d+)</td>\r\n<td>(<font[^>]*>) [^<]* </font></td>\r\n<td>[^<]*</td>\r\n<td><a href="[^"]*ID=([^&]*)&)");
    for (std::sregex_iterator it(original.begin(), original.end(), row), end; it != end; ++it) {
      const bool available = (*it)[2] == std::string(kMarkAvailable.substr(0, 22));
      std::string id = (*it)[3];
      if (id == "B+1") id = "B 1";
      fromOriginal += (*it)[1].str() + " " + id + " " + (available ? "1" : "0") + "\n";
    }
    ASSERT_FALSE(fromOriginal.empty());
    EXPECT_EQ(templated, Page(fromOriginal)) << page;
  }
}

TEST_F(ReaderTags, MissingRowTemplateEndsOnTheErrorPage) {
  site_.Write("html/list.html", "<#RESULT_ROWS TEMPLATE=none.html>");
  // ファイル html\none.html は開けません
  const std::string message =
      "\x83\x74\x83\x40\x83\x43\x83\x8b html\\none.html \x82\xcd\x8a\x4a\x82\xaf\x82\xdc\x82\xb9"
      "\x82\xf1";
  EXPECT_EQ(site_.Get("/list", "BOOKNAME=t&PAGENUM=0").output,
            Page(ErrorPage(kDatabaseErrorName, message)));
  EXPECT_EQ(site_.LogEntries(), (std::vector<LogEntry>{{"ReplaceTag", message}}));
}

TEST_F(ReaderTags, TitleNamesTheSearchWordsAndThePage) {
  site_.Write("liraweb.conf", ConfWith("LIST_MAX", "2") + "ANY_FIELD=1\r\n");
  site_.Write("html/list.html", "<#SEARCHWORDS>|<#PAGENUMBER>/<#PAGECOUNT>");
  struct Case {
    const char* query;
    const char* page;
  } cases[] = {
      {"BOOKNAME=t&PAGENUM=1", "t|2/3"},
      {"BOOKNAME=t%3C1&PAGENUM=0", "t&lt;1|1/1"},
      // The any-field box first, then the fields in the form's order.
      {"CHOSYA=a+b&ANY=t5&BOOKNAME=t&PAGENUM=0", "t5 t a b|1/1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(site_.Get("/list", c.query).output, Page(c.page)) << c.query;
  }
}

// Today and the days beside it as the catalogue writes due dates, in the local time
// the program reads (this process's TZ, which the child inherits).
std::string CatalogueDate(int daysFromToday) {
  const std::time_t when = std::time(nullptr) + daysFromToday * 24 * 60 * 60;
  std::tm local{};
  localtime_r(&when, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

TEST_F(ReaderTags, DetailPageLinksAndOverdueMark) {
  // The due date of the test catalogue is its MS_NAIYO.
  site_.Write("sql/Prop.sql",
              "SELECT BOOKS.*, MS_NAIYO AS KA_KIGEN FROM BOOKS\r\n"
              "WHERE MS_BOOKID = :BOOKID\r\n");
  site_.Write("liraweb.conf", ConfWith("AC_LIMIT", "2"));
  site_.Write("html/page_.html",
              "<#OVERDUE LABEL=late&>|<#SEARCHLINK NAME=CHOSYA COLUMN=MS_CHOSYA>|"
              "<#SEARCHLINK NAME=KENMEI COLUMN=MS_KENMEI>|<#SEARCHLINK NAME=NOPE "
              "COLUMN=MS_KENMEI>|<#BACKLINK LABEL=back>");
  struct Case {
    std::string name, due, user, query, page;
  } cases[] = {
      {"lent out, due yesterday", CatalogueDate(-1), "U", "ID=D1", "late&amp;|||||"},
      {"lent out, due today", CatalogueDate(0), "U", "ID=D1", "|||||"},
      {"lent out, due tomorrow", CatalogueDate(1), "U", "ID=D1", "|||||"},
      {"in the library, an old due date", "2000-01-01", "", "ID=D1", "|||||"},
      {"lent out, a date in another form", "2000/01/01", "U", "ID=D1", "|||||"},
      {"a search carried back", "", "", "ID=D1&PAGENUM=3&BOOKNAME=a%26b&ORDER=MS_SYOKANA",
       "|||||<a href=\"../liraweb/list?PAGENUM=3&amp;BOOKNAME=a%26b&amp;ORDER=MS%5FSYOKANA\">"
       "back</a>"},
      {"a page number without a search", "", "", "ID=D1&PAGENUM=3", "|||||"},
  };
  for (const auto& c : cases) {
    Installation site;
    site.Write("sql/Prop.sql",
               "SELECT BOOKS.*, MS_NAIYO AS KA_KIGEN FROM BOOKS\r\n"
               "WHERE MS_BOOKID = :BOOKID\r\n");
    site.Write("html/page_.html", "<#OVERDUE LABEL=late&>|||||<#BACKLINK LABEL=back>");
    site.AddBooks({{{"MS_BOOKID", "D1"}, {"MS_NAIYO", c.due}, {"KA_USERID", c.user}}});
    EXPECT_EQ(site.Get("/data", c.query).output, Page(c.page)) << c.name;
  }
  // The author cut to AC_LIMIT (2 bytes: one character) and searched in the author
  // column alone; the subject whole; no link for an unknown field or an empty column.
  site_.AddBooks({{{"MS_BOOKID", "D2"},
                   {"MS_CHOSYA", "\x89\xc4\x96\xda"},
                   {"MS_KENMEI", "x y"},
                   {"MS_NAIYO", "2999-01-01"},
                   {"KA_USERID", "U"}},
                  {{"MS_BOOKID", "D3"}}});
  EXPECT_EQ(site_.Get("/data", "ID=D2").output,
            Page("|../liraweb/list?PAGENUM=0&amp;CHOSYA=%89%C4&amp;NoKanaFind=1|"
                 "../liraweb/list?PAGENUM=0&amp;KENMEI=x+y||"));
  EXPECT_EQ(site_.Get("/data", "ID=D3").output, Page("||||"));
}

// The 500 page of a detail page whose statement file is gone.
TEST(ServerErrorPage, InstallationTemplateOrTheFixedPage) {
  // ファイル sql\Prop.sql は開けません
  const std::string message =
      "\x83\x74\x83\x40\x83\x43\x83\x8b sql\\Prop.sql \x82\xcd\x8a\x4a\x82\xaf\x82\xdc\x82\xb9"
      "\x82\xf1";
  const std::string shown = "E EFOpenError|" + message + "||";
  const std::string templatePage =
      "Status: 500 " + message +
      "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(shown.size()) +
      "\r\nContent:\r\n\r\n" + shown;
  // ファイル html\gone.html は開けません
  const std::string templateMissing =
      "\x83\x74\x83\x40\x83\x43\x83\x8b html\\gone.html \x82\xcd\x8a\x4a\x82\xaf\x82\xdc\x82"
      "\xb9\x82\xf1";
  struct Case {
    std::string name, setting;
    bool templateWritten;
    std::string page;
    std::vector<LogEntry> log;
  } cases[] = {
      {"no setting", "", true, ServerError("EFOpenError", message), {{"PropertyView", message}}},
      {"the installation's template",
       "SERVER_ERROR_PAGE=e.html\r\n",
       true,
       templatePage,
       {{"PropertyView", message}}},
      {"a template that cannot be read",
       "SERVER_ERROR_PAGE=gone.html\r\n",
       true,
       ServerError("EFOpenError", message),
       {{"PropertyView", message}, {"ServerErrorPage", templateMissing}}},
      // Without its settings the installation names no template: the fixed page.
      {"no settings file", "", true, "", {}},
  };
  for (const auto& c : cases) {
    Installation site;
    site.Remove("sql/Prop.sql");
    site.Write("liraweb.conf", std::string(kDefaultConf) + c.setting);
    if (c.name == "no settings file") site.Remove("liraweb.conf");
    if (c.templateWritten) site.Write("html/e.html", "E <#ERR_NAME>|<#ERR_MSG>|<#COLUMN>|");
    const std::string output = site.Get("/data", "ID=1").output;
    if (c.page.empty()) {
      EXPECT_TRUE(output.find("<html><title>Internal Server Error 500</title>") !=
                  std::string::npos)
          << c.name;
      continue;
    }
    EXPECT_EQ(output, c.page) << c.name;
    EXPECT_EQ(site.LogEntries(), c.log) << c.name;
  }
}

}  // namespace
}  // namespace module_e2e
