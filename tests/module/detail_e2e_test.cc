// End-to-end: the detail page "/data": the book's row found by the key, the values the
// link carries, the loan state mark, and every failure as a 500 response.
#include <gtest/gtest.h>

#include "tests/module/installation.h"
#include "tests/module/list_pages.h"

namespace module_e2e {
namespace {

const std::string kStack = "\x8f\x91\x8c\xc9";  // 書庫
// The row-field line of a book that was not found: every column empty.
const std::string kNoRow = "---|---|---|---|---|---";
// The row-field line of the book B1 below.
const std::string kB1Row = "1500  |2005  |320  |20cm  |---|" + kStack + "  ";
// The link of a list row for B1: every value but ID and RENT with two blanks.
const std::string kB1Link =
    "ID=B1&RENT=0&BNAME=a%2Bb++&BKANA=++&ANAME=xy++&AKANA=++&PUB=++&NDC=913%2E6++&ISBN=++&SUB=++";
const std::string kB1Fields = "B1|a b  |---|xy  |---|---|---|913.6  |---";

// The default detail template expanded.
std::string DetailPage(const std::string& mark, const std::string& fields, const std::string& row) {
  return "DETAIL " + mark + "\r\n" + fields + "\r\n" + row + "\r\n<a href=\"../liraweb\">" +
         std::string(kBackText) + "</a>\r\n";
}

class Detail : public ::testing::Test {
 protected:
  Detail() {
    site_.AddBooks({{{"MS_BOOKID", "B1"},
                     {"MS_SYOMEI", "a+b"},
                     {"MS_KINGAKU", "1500"},
                     {"MS_SYUNEN", "2005"},
                     {"MS_PAGE", "320"},
                     {"MS_OOKISA", "20cm"},
                     {"SY_SYOZAI", kStack}},
                    {{"MS_BOOKID", "A B"}, {"MS_KINGAKU", "99"}},
                    {{"MS_BOOKID", ""}, {"MS_KINGAKU", "1"}}});
  }
  Installation site_;
};

TEST_F(Detail, ShowsTheBookOfTheKeyWithTheValuesOfTheLink) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> variables;
    std::string body;
    std::string page;
  } cases[] = {
      // The request decoded %2B to "+" and the page decodes it once more to a blank.
      {"GET", {{"QUERY_STRING", kB1Link}}, "", DetailPage(kAvailable, kB1Fields, kB1Row)},
      {"POST ignores the query string",
       {{"REQUEST_METHOD", "POST"},
        {"CONTENT_LENGTH", std::to_string(kB1Link.size())},
        {"QUERY_STRING", "ID=none&RENT=1"}},
       kB1Link,
       DetailPage(kAvailable, kB1Fields, kB1Row)},
      {"post in lower case reads the query string",
       {{"REQUEST_METHOD", "post"}, {"CONTENT_LENGTH", "13"}, {"QUERY_STRING", kB1Link}},
       "ID=none&RENT=1",
       DetailPage(kAvailable, kB1Fields, kB1Row)},
      // %25 in the link becomes "%" in the request and the escape is decoded again;
      // "+" becomes a blank.
      {"escaped key",
       {{"QUERY_STRING", "ID=%2541+%2542&RENT=1"}},
       "",
       DetailPage(kLentOut, "A B||||||||", "99  |---|---|---|---|---")},
      {"key with a plus",
       {{"QUERY_STRING", "ID=A%2BB&RENT=2"}},
       "",
       DetailPage(kNotForLoan, "A B||||||||", "99  |---|---|---|---|---")},
      // Without ID the statement runs with an empty key.
      {"no ID",
       {{"QUERY_STRING", "RENT=3"}},
       "",
       DetailPage("", "||||||||", "1  |---|---|---|---|---")},
      {"no such book",
       {{"QUERY_STRING", "ID=none&RENT=0&PUB=++&BNAME=x"}},
       "",
       DetailPage(kAvailable, "none|x||||---|||", kNoRow)},
      // A value whose second decoding meets a malformed escape is shown as it arrived.
      {"malformed escape after the first decoding",
       {{"QUERY_STRING", "ID=none&RENT=0&BNAME=%25zz%2B1&BKANA=%25%2541"}},
       "",
       DetailPage(kAvailable, "none|%zz+1|%%41||||||", kNoRow)},
      {"RENT in hexadecimal",
       {{"QUERY_STRING", "ID=none&RENT=%240"}},
       "",
       DetailPage(kAvailable, "none||||||||", kNoRow)},
  };
  for (const auto& c : cases) {
    auto variables = c.variables;
    variables["PATH_INFO"] = "/data";
    EXPECT_EQ(site_.Run(variables, c.body).output, Page(c.page)) << c.name;
  }
  EXPECT_EQ(site_.LogEntries(), std::vector<LogEntry>{});
}

TEST_F(Detail, RequestValuesAreWrittenAsCharacterReferences) {
  EXPECT_EQ(site_
                .Get("/data",
                     "ID=none&RENT=0&BNAME=%3Cscript%3Ealert(1)%3C%2Fscript%3E"
                     "&BKANA=%2522%2527%2526&ANAME=%253Cb%253E")
                .output,
            Page(DetailPage(kAvailable,
                            "none|&lt;script&gt;alert(1)&lt;/script&gt;|&quot;&#39;&amp;|&lt;b&gt;"
                            "|||||",
                            kNoRow)));
}

TEST_F(Detail, FailuresAreLoggedTwiceOrOnceAndAnsweredWith500) {
  const std::string notAnInteger =
      " \x82\xcd\x90\xae\x90\x94\x82\xc5\x82\xcd\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
  const std::string cannotOpen =
      "\x83\x74\x83\x40\x83\x43\x83\x8b sql\\Prop.sql "
      "\x82\xcd\x8a\x4a\x82\xaf\x82\xdc\x82\xb9\x82\xf1";
  struct Case {
    const char* name;
    std::string propSql;  // empty: no Prop.sql at all
    std::string query;
    std::string className;
    std::string message;
    bool tagFailed;  // the tag handler logged it before the action did
  } cases[] = {
      {"RENT missing", "SELECT * FROM BOOKS WHERE MS_BOOKID = :BOOKID", "ID=B1", "EConvertError",
       "''" + notAnInteger, true},
      {"RENT not a number", "SELECT * FROM BOOKS WHERE MS_BOOKID = :BOOKID", "ID=B1&RENT=abc",
       "EConvertError", "'abc'" + notAnInteger, true},
      {"Prop.sql missing", "", "ID=B1&RENT=0", "EFOpenError", cannotOpen, false},
      {"no BOOKID marker", "SELECT * FROM BOOKS WHERE MS_BOOKID = :KEY", "ID=B1&RENT=0",
       "EDatabaseError",
       "qMaster: \x83\x70\x83\x89\x83\x81\x81\x5b\x83\x5e 'BOOKID' \x82\xaa\x8c\xa9\x82\xc2\x82\xa9"
       "\x82\xe8\x82\xdc\x82\xb9\x82\xf1",
       false},
      {"a second marker", "SELECT * FROM BOOKS\r\nWHERE MS_BOOKID = :BOOKID AND MS_SYOMEI = :TITLE",
       "ID=B1&RENT=0", "EDatabaseError",
       "qMaster: \x83\x70\x83\x89\x83\x81\x81\x5b\x83\x5e 'TITLE' \x82\xcc\x92\x6c\x82\xaa\x82\xa0"
       "\x82\xe8\x82\xdc\x82\xb9\x82\xf1",
       false},
      {"database failure", "SELECT * FROM NOPE WHERE MS_BOOKID = :BOOKID", "ID=B1&RENT=0",
       "EDBEngineError", "no such table: NOPE", false},
      {"column missing", "SELECT MS_BOOKID FROM BOOKS WHERE MS_BOOKID = :BOOKID", "ID=B1&RENT=0",
       "EDatabaseError",
       "qMaster: \x8d\x80\x96\xda 'MS_KINGAKU' \x82\xaa\x8c\xa9\x82\xc2\x82\xa9\x82\xe8\x82\xdc\x82"
       "\xb9\x82\xf1",
       true},
  };
  for (const auto& c : cases) {
    Installation site;
    site.AddBooks({{{"MS_BOOKID", "B1"}}});
    if (c.propSql.empty()) {
      site.Remove("sql/Prop.sql");
    } else {
      site.Write("sql/Prop.sql", c.propSql);
    }
    EXPECT_EQ(site.Get("/data", c.query).output, ServerError(c.className, c.message)) << c.name;
    std::vector<LogEntry> log;
    if (c.tagFailed) log.push_back({"ReplaceTag", c.message});
    log.push_back({"PropertyView", c.message});
    EXPECT_EQ(site.LogEntries(), log) << c.name;
  }
}

// A message is logged whole: a NUL byte inside it ends nothing.
TEST_F(Detail, MessageHoldingANulByteIsLoggedWhole) {
  const std::string message =
      std::string("'\0'", 3) +
      " \x82\xcd\x90\xae\x90\x94\x82\xc5\x82\xcd\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
  std::string statusText = message;
  statusText[1] = ' ';
  EXPECT_EQ(site_.Get("/data", "ID=B1&RENT=%2500").output,
            test_support::ServerError("EConvertError", statusText,
                                      std::string("&#39;\0&#39;", 11) + message.substr(3)));
  EXPECT_EQ(site_.LogEntries(),
            (std::vector<LogEntry>{{"ReplaceTag", message}, {"PropertyView", message}}));
}

TEST_F(Detail, MissingTemplateIsA500Response) {
  site_.Remove("html/page_.html");
  const std::string message =
      "\x83\x74\x83\x40\x83\x43\x83\x8b html\\page_.html \x82\xcd\x8a\x4a\x82\xaf\x82\xdc\x82\xb9"
      "\x82\xf1";
  EXPECT_EQ(site_.Get("/data", kB1Link).output, ServerError("EFOpenError", message));
  EXPECT_EQ(site_.LogEntries(), (std::vector<LogEntry>{{"PropertyView", message}}));
}

TEST_F(Detail, SearchTimeIsShownInSeconds) {
  site_.Write("html/page_.html", "<#SEARCH_TIME>");
  ExpectSecondsPage(site_.Get("/data", kB1Link).output);
}

}  // namespace
}  // namespace module_e2e
