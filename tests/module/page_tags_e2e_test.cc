// End-to-end: the tags added beside the original vocabulary (the record of the detail
// page, its not-found page, the search form kept filled in, paging, the notice kind,
// the OpenSearch description) and, beside them, that an installation using only the
// original tags and paths still gets exactly its old bytes.
#include <gtest/gtest.h>

#include "tests/module/installation.h"
#include "tests/module/list_pages.h"

namespace module_e2e {
namespace {

const std::string kBookNotFound =  // お探しの本は見つかりませんでした
    "\x82\xa8\x92\x54\x82\xb5\x82\xcc\x96\x7b\x82\xcd\x8c\xa9\x82\xc2\x82\xa9\x82\xe8\x82\xdc\x82"
    "\xb9\x82\xf1\x82\xc5\x82\xb5\x82\xbd";
// 資料番号「 ... 」の本は、この図書館の蔵書にありません。
const std::string kNotFoundHead = "\x8e\x91\x97\xbf\x94\xd4\x8d\x86\x81\x75";
const std::string kNotFoundTail =
    "\x81\x76\x82\xcc\x96\x7b\x82\xcd\x81\x41\x82\xb1\x82\xcc\x90\x7d\x8f\x91\x8a\xd9\x82\xcc\x91"
    "\xa0\x8f\x91\x82\xc9\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1\x81\x42";

// The detail page read from the catalogue row; the loan state and due date come from
// the row, so the link's RENT and BNAME play no part.
constexpr std::string_view kRecordTemplate =
    "<#COLUMN NAME=MS_SYOMEI>|<#COLUMN NAME=MS_ISBN>|<#COLUMN NAME=SY_SYOZAI>|<#LOANSTATE>|"
    "<#DUEDATE LABEL=due:>|<#COLUMN>|<#PERMALINK>";
// Prop.sql of a catalogue that knows due dates.
constexpr std::string_view kPropWithDueDate =
    "SELECT BOOKS.*, CASE WHEN KA_USERID <> '' THEN '2026-12-20' ELSE '' END AS KA_KIGEN\r\n"
    "FROM BOOKS WHERE MS_BOOKID = :BOOKID\r\n";
constexpr std::string_view kNoticeTemplate = "NOTICE <#ERR_KIND>|<#ERR_NAME>|<#ERR_MSG>";

std::string PageWithStatus(std::string_view status, std::string_view type,
                           std::string_view content) {
  return "Status: " + std::string(status) + "\r\nContent-Type: " + std::string(type) +
         "\r\nContent-Length: " + std::to_string(content.size()) + "\r\nContent:\r\n\r\n" +
         std::string(content);
}

class PageTags : public ::testing::Test {
 protected:
  PageTags() {
    site_.AddBooks(
        {{{"MS_BOOKID", "B1"}, {"MS_SYOMEI", "a<b&\"c'"}, {"MS_KKUBUN", "0"}, {"SY_SYOZAI", "1F"}},
         {{"MS_BOOKID", "B2"}, {"MS_SYOMEI", "lent"}, {"KA_USERID", "U1"}},
         {{"MS_BOOKID", "B3"}, {"MS_SYOMEI", "ref"}, {"MS_KKUBUN", "9"}}});
    site_.Write("sql/Prop.sql", kPropWithDueDate);
  }
  Installation site_;
};

TEST_F(PageTags, DetailRecordComesFromTheCatalogueRow) {
  site_.Write("html/page_.html", kRecordTemplate);
  site_.AddBooks({{{"MS_BOOKID", "A B"}}});
  const std::string kLink = "http://lib.example/cgi-bin/liraweb/data?ID=";
  struct Case {
    const char* query;
    std::string page;
  } cases[] = {
      // Values written as text; an empty column is "---"; a tag without NAME is empty.
      {"ID=B1", "a&lt;b&amp;&quot;c&#39;|---|1F|" + kAvailable + "|||" + kLink + "B1"},
      // A forged link changes nothing: RENT and BNAME are not read.
      {"ID=B1&RENT=1&BNAME=%3Cscript%3E",
       "a&lt;b&amp;&quot;c&#39;|---|1F|" + kAvailable + "|||" + kLink + "B1"},
      {"ID=B2&RENT=0", "lent|---|---|" + kLentOut + "|due:2026-12-20||" + kLink + "B2"},
      {"ID=B3", "ref|---|---|" + kNotForLoan + "|||" + kLink + "B3"},
      // The permalink encodes the key as the result rows do.
      {"ID=A%2BB", "---|---|---|" + kAvailable + "|||" + kLink + "A+B"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(site_.Get("/data", c.query).output, Page(c.page)) << c.query;
  }
  EXPECT_EQ(site_.LogEntries(), std::vector<LogEntry>{});
}

TEST_F(PageTags, UnknownBookIsANotFoundPageWhenTheTemplateShowsTheRecord) {
  site_.Write("html/error.html", kNoticeTemplate);
  const std::string notFound =
      "NOTICE not-found|" + kBookNotFound + "|" + kNotFoundHead + "&lt;x&gt;" + kNotFoundTail;
  for (std::string_view tag :
       {"<#COLUMN NAME=MS_SYOMEI>", "<#LOANSTATE>", "<#DUEDATE>", "<#PERMALINK>"}) {
    site_.Write("html/page_.html", "DETAIL " + std::string(tag));
    EXPECT_EQ(site_.Get("/data", "ID=%253Cx%253E&RENT=0").output,
              PageWithStatus("404 Not Found", "text/html", notFound))
        << tag;
  }
  EXPECT_EQ(site_.LogEntries(), std::vector<LogEntry>{});
}

// Where the new code runs beside the old vocabulary, an installation that uses only the
// original tags and paths gets the bytes it always got.
TEST_F(PageTags, OriginalTagsAndPathsKeepTheirBytes) {
  // An unknown key with the original detail template: the 200 page of dashes.
  const std::string oldDetail = "DETAIL " + kAvailable +
                                "\r\nnone|x||||---|||\r\n---|---|---|---|---|---\r\n<a href=\"" +
                                "../liraweb\">" + std::string(kBackText) + "</a>\r\n";
  EXPECT_EQ(site_.Get("/data", "ID=none&RENT=0&PUB=++&BNAME=x").output, Page(oldDetail));
  // Without an OpenSearch template the new path is still answered with the top page.
  const std::string top = site_.Get("/", "").output;
  EXPECT_EQ(site_.Get("/opensearch.xml", "").output, top);
  EXPECT_EQ(site_.Get("/OpenSearch.XML", "x=1").output, top);
  EXPECT_EQ(site_.LogEntries(), std::vector<LogEntry>{});
}

TEST_F(PageTags, SearchFormKeepsTheSearchOnListAndNoticePages) {
  constexpr std::string_view form =
      "[<#SEARCHVALUE NAME=BOOKNAME>][<#SEARCHVALUE NAME=CHOSYA>][<#SEARCHVALUE NAME=ORDER>]"
      "[<#SEARCHVALUE NAME=ORDERKIND>][<#SEARCHVALUE NAME=PAGENUM>][<#SELECTED NAME=ORDER "
      "VALUE=>][<#SELECTED NAME=ORDER VALUE=MS_SYOKANA>][<#CHECKED NAME=ORDERKIND VALUE=ASC "
      "DEFAULT=1>][<#CHECKED NAME=ORDERKIND VALUE=DESC>]";
  site_.Write("html/list.html", "LIST " + std::string(form));
  site_.Write("html/error.html", "<#ERR_KIND> " + std::string(form));
  struct Case {
    const char* query;
    std::string page;
  } cases[] = {
      {"PAGENUM=0&BOOKNAME=a%3C&CHOSYA=&ORDER=MS_SYOKANA&ORDERKIND=desc",
       "LIST [a&lt;][][MS_SYOKANA][desc][][][selected][][checked]"},
      // No order given: the empty choice and the default direction are chosen.
      {"PAGENUM=0&BOOKNAME=lent", "LIST [lent][][][][][selected][][checked][]"},
      {"PAGENUM=0&BOOKNAME=zzz&CHOSYA=x+y", "no-hits [zzz][x y][][][][selected][][checked][]"},
      {"PAGENUM=0&ORDER=MS_SYOKANA", "no-keyword [][][MS_SYOKANA][][][][selected][checked][]"},
      {"PAGENUM=0&BOOKNAME=a&ORDER=1%3B", "bad-order [a][][1;][][][][][checked][]"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(site_.Get("/list", c.query).output, Page(c.page)) << c.query;
  }
}

TEST(PageTagsPaging, RowRangePageCountAndPageNumbers) {
  Installation site;
  std::vector<Book> books;
  for (int i = 1; i <= 95; ++i) books.push_back(Titled("B" + std::to_string(100 + i), "t"));
  site.AddBooks(books);
  site.Write("liraweb.conf", ConfWith("LIST_MAX", "10"));
  site.Write("html/list.html",
             "<#FIRSTROW>-<#LASTROW>/<#TOTAL_FIND_COUNT>:<#PAGECOUNT>\r\n<#PAGENAV LABEL=p>");
  // Previous and next are the original links (raw "&"); the numbers are text.
  const std::string carried = "&BOOKNAME=t&ORDER=MS%5FBOOKID\"";
  auto prior = [&](int page) {
    return "<li class=\"prev\"><a href=\"../liraweb/list?PAGENUM=" + std::to_string(page) +
           carried + ">\x91\x4f\x82\xcc\x83\x79\x81\x5b\x83\x57</a></li>\r\n";
  };
  auto next = [&](int page) {
    return "<li class=\"next\"><a href=\"../liraweb/list?PAGENUM=" + std::to_string(page) +
           carried + ">\x8e\x9f\x82\xcc\x83\x79\x81\x5b\x83\x57</a></li>\r\n";
  };
  auto link = [](int page) {
    return "<li><a href=\"../liraweb/list?PAGENUM=" + std::to_string(page) +
           "&amp;BOOKNAME=t&amp;ORDER=MS%5FBOOKID\">" + std::to_string(page + 1) + "</a></li>\r\n";
  };
  auto current = [](int page) {
    return "<li class=\"current\"><span aria-current=\"page\">" + std::to_string(page + 1) +
           "</span></li>\r\n";
  };
  const std::string gap = "<li class=\"gap\">\x81\x63</li>\r\n";
  const std::string open = "<nav class=\"pager\" aria-label=\"p\">\r\n<ul>\r\n";
  const std::string close = "</ul>\r\n</nav>\r\n";
  struct Case {
    int page;
    std::string expected;
  } cases[] = {
      {0,
       "1-10/95:10\r\n" + open + current(0) + link(1) + link(2) + gap + link(9) + next(1) + close},
      {4, "41-50/95:10\r\n" + open + prior(3) + link(0) + link(1) + link(2) + link(3) + current(4) +
              link(5) + link(6) + gap + link(9) + next(5) + close},
      {9, "91-95/95:10\r\n" + open + prior(8) + link(0) + gap + link(7) + link(8) + current(9) +
              close},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(site.Get("/list", "PAGENUM=" + std::to_string(c.page) +
                                    "&BOOKNAME=t&ORDER=MS_BOOKID&ORDERKIND=")
                  .output,
              Page(c.expected))
        << c.page;
  }
  // Past the last page a list with paging tags answers the notice with 404: how many
  // books and pages there are, and page numbers that lead back (no previous page, which
  // would be past the end too). Another notice shows no navigation.
  site.Write("html/error.html", "NOTICE <#ERR_KIND>|<#ERR_NAME>|<#ERR_MSG>\r\n<#PAGENAV LABEL=p>");
  const std::string noPage =  // このページはありません
      "\x82\xb1\x82\xcc\x83\x79\x81\x5b\x83\x57\x82\xcd\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
  const std::string counts =  // 検索結果は 95 件、全 10 ページです。
      "\x8c\x9f\x8d\xf5\x8c\x8b\x89\xca\x82\xcd 95 \x8c\x8f\x81\x41\x91\x53 10 "
      "\x83\x79\x81\x5b\x83\x57\x82\xc5\x82\xb7\x81\x42";
  for (const char* page : {"10", "12", "2147483647"}) {
    EXPECT_EQ(
        site.Get("/list", std::string("PAGENUM=") + page + "&BOOKNAME=t&ORDER=MS_BOOKID&ORDERKIND=")
            .output,
        PageWithStatus("404 Not Found", "text/html",
                       "NOTICE no-page|" + noPage + "|" + counts + "\r\n" + open + link(0) + gap +
                           link(7) + link(8) + link(9) + close))
        << page;
  }
  const std::string noHits = site.Get("/list", "PAGENUM=0&BOOKNAME=zzz").output;
  EXPECT_NE(noHits.find("NOTICE no-hits|"), std::string::npos) << noHits;
  EXPECT_EQ(noHits.find("<nav"), std::string::npos) << noHits;
  // A result that fits one page writes no navigation at all.
  site.Write("liraweb.conf", ConfWith("LIST_MAX", "100"));
  EXPECT_EQ(site.Get("/list", "PAGENUM=0&BOOKNAME=t").output, Page("1-95/95:1\r\n"));
}

TEST(PageTagsPaging, AbsoluteAddressIsEscapedOnce) {
  Installation site;
  site.AddBooks({Titled("B1", "t"), Titled("B2", "t"), Titled("B3", "t")});
  std::string conf = ConfWith("LIST_MAX", "1");
  conf.replace(conf.find("ABS_PATH=1"), 10, "ABS_PATH=0");
  site.Write("liraweb.conf", conf);
  site.Write("html/list.html", "<#PAGENAV LABEL=p>");
  const std::string script = "http://a&amp;b/cgi-bin/liraweb/list?PAGENUM=";
  auto link = [&](int page) {
    return "<li><a href=\"" + script + std::to_string(page) + "&amp;BOOKNAME=t\">" +
           std::to_string(page + 1) + "</a></li>\r\n";
  };
  EXPECT_EQ(site.Run({{"PATH_INFO", "/list"},
                      {"QUERY_STRING", "PAGENUM=0&BOOKNAME=t"},
                      {"HTTP_HOST", "a&b"}})
                .output,
            Page("<nav class=\"pager\" aria-label=\"p\">\r\n<ul>\r\n"
                 "<li class=\"current\"><span aria-current=\"page\">1</span></li>\r\n" +
                 link(1) + link(2) + "<li class=\"next\"><a href=\"" + script +
                 "1&BOOKNAME=t\">\x8e\x9f\x82\xcc\x83\x79\x81\x5b\x83\x57</a></li>\r\n"
                 "</ul>\r\n</nav>\r\n"));
}

// ORDER_COLUMNS lists the sort columns an installation offers: any other column is
// refused before a statement runs, as an unsafe one always is, with 400 and the notice
// kind bad-order. Without the setting a column-like ORDER goes to the database, and a
// refusal keeps its status 200.
TEST(PageTagsSortOrder, SortColumnOutsideTheListIsRefusedWithItsOwnKind) {
  Installation site;
  site.AddBooks({Titled("B1", "t")});
  site.Write("html/list.html", "LIST <#TOTAL_FIND_COUNT>");
  site.Write("html/error.html", "NOTICE <#ERR_KIND>|<#ERR_NAME>|<#ERR_MSG>");
  const std::string databaseError(kDatabaseErrorName);
  const std::string refused = "NOTICE bad-order|" + databaseError +
                              "|"  // 並び順の指定が正しくありません
                              "\x95\xc0\x82\xd1\x8f\x87\x82\xcc\x8e\x77\x92\xe8\x82\xaa\x90\xb3"
                              "\x82\xb5\x82\xad\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
  const std::string listed = std::string(kDefaultConf) + "ORDER_COLUMNS=MS_SYOMEI, ms_bookid\r\n";
  struct Case {
    std::string conf;
    const char* order;
    std::string output;
  } cases[] = {
      {listed, "MS_SYOMEI", Page("LIST 1")},
      {listed, "MS_BOOKID&ORDERKIND=desc", Page("LIST 1")},
      {listed, "", Page("LIST 1")},
      {listed, "MS_CHOSYA", PageWithStatus("400 Bad Request", "text/html", refused)},
      {listed, "xx", PageWithStatus("400 Bad Request", "text/html", refused)},
      {listed, "1%3B", PageWithStatus("400 Bad Request", "text/html", refused)},
      {listed, "MS_SYOMEI&ORDERKIND=UP", PageWithStatus("400 Bad Request", "text/html", refused)},
      {std::string(kDefaultConf), "MS_CHOSYA", Page("LIST 1")},
      {std::string(kDefaultConf), "1%3B", Page(refused)},
  };
  for (const auto& c : cases) {
    site.Write("liraweb.conf", c.conf);
    EXPECT_EQ(site.Get("/list", std::string("PAGENUM=0&BOOKNAME=t&ORDER=") + c.order).output,
              c.output)
        << c.order;
  }
  // Unlisted and unknown to the catalogue: the database's own failure, as before.
  site.Write("liraweb.conf", kDefaultConf);
  const std::string unknown = site.Get("/list", "PAGENUM=0&BOOKNAME=t&ORDER=xx").output;
  EXPECT_NE(unknown.find("NOTICE database|" + databaseError), std::string::npos) << unknown;
}

TEST(PageTagsOpenSearch, DescriptionTemplateIsServedWithItsType) {
  Installation site;
  site.Write("html/opensearch.xml",
             "<Url template=\"<#PROGRAM_URL>/list?BOOKNAME={searchTerms}\"/>");
  EXPECT_EQ(site.Get("/opensearch.xml", "").output,
            PageWithStatus("200 OK", "application/opensearchdescription+xml",
                           "<Url template=\"http://lib.example/cgi-bin/liraweb/list?BOOKNAME="
                           "{searchTerms}\"/>"));
  // The host comes from the request and is written as text.
  EXPECT_EQ(site.Run({{"PATH_INFO", "/opensearch.xml"}, {"HTTP_HOST", "h\"><x"}}).output,
            PageWithStatus("200 OK", "application/opensearchdescription+xml",
                           "<Url template=\"http://h&quot;&gt;&lt;x/cgi-bin/liraweb/list?BOOKNAME="
                           "{searchTerms}\"/>"));
  // Control bytes, which no XML text may hold, are percent-encoded.
  EXPECT_EQ(site.Run({{"PATH_INFO", "/opensearch.xml"}, {"HTTP_HOST", "h\x01\x1f\x7fx"}}).output,
            PageWithStatus("200 OK", "application/opensearchdescription+xml",
                           "<Url template=\"http://h%01%1F%7Fx/cgi-bin/liraweb/list?BOOKNAME="
                           "{searchTerms}\"/>"));
}

}  // namespace
}  // namespace module_e2e
