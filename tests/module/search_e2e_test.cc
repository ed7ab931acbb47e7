// End-to-end: the search action "/list": reading the search form, the statement it
// runs, the error pages, the condition table and the refusal of unsafe sort values.
#include <gtest/gtest.h>

#include <filesystem>

#include "module/japanese_texts.h"
#include "tests/module/installation.h"
#include "tests/module/list_pages.h"

namespace module_e2e {
namespace {

const std::string kRuntimeErrorName = "\x8e\xc0\x8d\x73\x8e\x9e\x83\x47\x83\x89\x81\x5b";
const std::string kEnterKeyword =
    "\x8c\x9f\x8d\xf5\x83\x4c\x81\x5b\x83\x8f\x81\x5b\x83\x68\x82\xf0\x93\xfc\x97\xcd\x82\xb5"
    "\x82\xc4\x89\xba\x82\xb3\x82\xa2";
const std::string kNoBooksName =
    "\x8a\x59\x93\x96\x8f\x91\x90\xd0\x82\xcd\x8c\xa9\x95\x74\x82\xa9\x82\xe8\x82\xdc\x82\xb9"
    "\x82\xf1\x82\xc5\x82\xb5\x82\xbd";
const std::string kBadSortOrder =
    "\x95\xc0\x82\xd1\x8f\x87\x82\xcc\x8e\x77\x92\xe8\x82\xaa\x90\xb3\x82\xb5\x82\xad\x82\xa0"
    "\x82\xe8\x82\xdc\x82\xb9\x82\xf1";  // 並び順の指定が正しくありません

TEST(Search, WithoutSearchTextShowsTheRuntimeErrorPage) {
  Installation site;
  // Neither the statement file nor the database may be touched.
  site.Remove("sql/Find.sql");
  site.Remove("dbengine.conf");
  const std::string page = Page(ErrorPage(kRuntimeErrorName, kEnterKeyword));
  struct Case {
    const char* method;
    const char* query;
    std::vector<LogEntry> log;
  } cases[] = {
      {"GET", "PAGENUM=0", {}},
      {"GET", "PAGENUM=0&ORDER=MS_SYOKANA&ORDERKIND=ASC&NoKanaFind=1", {}},
      {"GET", "ORDER=x;DROP&BOOKNAME=", {{"PageNumber", "0"}}},
      // Only GET and POST read the search form; HEAD does not even read the page number.
      {"HEAD", "BOOKNAME=ab", {}},
      {"PUT", "BOOKNAME=ab&PAGENUM=x", {}},
      {"get", "BOOKNAME=ab&PAGENUM=0", {}},
  };
  for (const auto& c : cases) {
    site.Remove("Error.txt");
    auto result =
        site.Run({{"PATH_INFO", "/list"}, {"REQUEST_METHOD", c.method}, {"QUERY_STRING", c.query}});
    EXPECT_EQ(result.output, page) << c.method << " " << c.query;
    EXPECT_EQ(site.LogEntries(), c.log) << c.method << " " << c.query;
  }
}

TEST(Search, OutcomesOfTheDatabaseStep) {
  const std::string noBooks = Page(ErrorPage(kNoBooksName, module::texts::kNoBooksFoundHint));
  // 項目 '%s' が見つかりません; on a page the quotes are character references.
  auto missing = [](const std::string& column, const std::string& quote = "'") {
    return "qMaster: \x8d\x80\x96\xda " + quote + column + quote +
           " \x82\xaa\x8c\xa9\x82\xc2\x82\xa9\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
  };
  const std::string fieldMissing = missing("KA_USERID");
  // A row reads its columns in the order its lines are written, so the first one the
  // result lacks is the one named.
  const std::string loanColumns = "KA_USERID, MS_TMARK, MS_TFMSUU, MS_KKUBUN, ";
  struct Case {
    const char* name;
    std::string findSql;
    std::string query;
    std::string output;
    std::vector<LogEntry> log;
  } cases[] = {
      {"rows",
       "SELECT *\r\nFROM BOOKS\r\n",
       "BOOKNAME=ab&PAGENUM=0",
       Page(ListPage(1, Condition(kLabelBookName, "ab"), TitledRow(1, "1", "ab", "ab"))),
       {}},
      {"no rows", "SELECT *\r\nFROM BOOKS\r\n", "BOOKNAME=zz&PAGENUM=0", noBooks, {}},
      // A failure of the database step is an error page, not a log entry.
      {"database failure",
       "SELECT * FROM NOPE\r\n",
       "BOOKNAME=ab&PAGENUM=0",
       Page(ErrorPage(kDatabaseErrorName, "no such table: NOPE")),
       {}},
      // The rows cannot be built: the tag handler logs it, the list page is dropped.
      {"failure while the list page is built",
       "SELECT MS_BOOKID, MS_SYOMEI, MS_SYOKANA\r\nFROM BOOKS\r\n",
       "BOOKNAME=ab&PAGENUM=0",
       Page(ErrorPage(kDatabaseErrorName, missing("KA_USERID", "&#39;"))),
       {{"ReplaceTag", fieldMissing}}},
      {"classification cell before the links",
       "SELECT " + loanColumns + "MS_BOOKID, MS_SYOMEI\r\nFROM BOOKS\r\n",
       "BOOKNAME=ab&PAGENUM=0",
       Page(ErrorPage(kDatabaseErrorName, missing("MS_SEIKYU", "&#39;"))),
       {{"ReplaceTag", missing("MS_SEIKYU")}}},
      {"detail link before the author link",
       "SELECT " + loanColumns + "MS_SEIKYU, MS_BOOKID, MS_SYOMEI\r\nFROM BOOKS\r\n",
       "BOOKNAME=ab&PAGENUM=0",
       Page(ErrorPage(kDatabaseErrorName, missing("MS_SYOKANA", "&#39;"))),
       {{"ReplaceTag", missing("MS_SYOKANA")}}},
      // An identifier that is no column reaches the database, which refuses it.
      {"unknown sort column",
       "SELECT *\r\nFROM BOOKS\r\n",
       "BOOKNAME=ab&PAGENUM=0&ORDER=NOPE",
       Page(ErrorPage(kDatabaseErrorName, "no such column: NOPE")),
       {}},
  };
  for (const auto& c : cases) {
    Installation site;
    site.AddBooks({Titled("1", "ab")});
    site.Write("sql/Find.sql", c.findSql);
    EXPECT_EQ(site.Get("/list", c.query).output, c.output) << c.name;
    EXPECT_EQ(site.LogEntries(), c.log) << c.name;
  }
}

TEST(Search, FailureMessageHoldingANulByteReachesTheErrorPageAndTheLogWhole) {
  Installation site;
  site.AddBooks({Titled("1", "ab")});
  site.Write("html/list.html", "<#KASIDASI>");
  const std::string notAnInteger =
      " \x82\xcd\x90\xae\x90\x94\x82\xc5\x82\xcd\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
  const std::string message = std::string("'\0'", 3) + notAnInteger;
  EXPECT_EQ(site.Get("/list", "BOOKNAME=ab&PAGENUM=0&RENT=%2500").output,
            Page(ErrorPage(kDatabaseErrorName, std::string("&#39;\0&#39;", 11) + notAnInteger)));
  EXPECT_EQ(site.LogEntries(), (std::vector<LogEntry>{{"ReplaceTag", message}}));
}

TEST(Search, MissingFilesAreA500ResponseAndAListViewEntry) {
  const std::string cannotOpen = "\x83\x74\x83\x40\x83\x43\x83\x8b ",        // "ファイル "
      cannotOpenTail = " \x82\xcd\x8a\x4a\x82\xaf\x82\xdc\x82\xb9\x82\xf1";  // " は開けません"
  struct Case {
    const char* file;
    const char* query;
    std::string path;  // as the message names it
  } cases[] = {
      {"sql/Find.sql", "BOOKNAME=ab&PAGENUM=0", "sql\\Find.sql"},
      {"html/error.html", "PAGENUM=0", "html\\error.html"},
  };
  for (const auto& c : cases) {
    Installation site;
    site.Remove(c.file);
    const std::string message = cannotOpen + c.path + cannotOpenTail;
    EXPECT_EQ(site.Get("/list", c.query).output, ServerError("EFOpenError", message)) << c.file;
    EXPECT_EQ(site.LogEntries(), (std::vector<LogEntry>{{"ListView", message}})) << c.file;
  }
}

TEST(Search, MalformedEscapeInTheRequestIsA500ResponseOfTheAction) {
  Installation site;
  const std::string message =
      "'$zz' \x82\xcd\x90\xae\x90\x94\x82\xc5\x82\xcd\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
  struct Case {
    const char* path;
    const char* label;
  } cases[] = {{"/list", "ListView"}, {"/data", "PropertyView"}};
  for (const auto& c : cases) {
    site.Remove("Error.txt");
    EXPECT_EQ(site.Get(c.path, "BOOKNAME=ab&PAGENUM=0&ID=%zz").output,
              ServerError("EConvertError", message))
        << c.path;
    EXPECT_EQ(site.LogEntries(), (std::vector<LogEntry>{{c.label, message}})) << c.path;
  }
  // The top page does not read the request's fields.
  EXPECT_EQ(site.Get("/", "ID=%zz").output.substr(0, 15), "Status: 200 OK\r");
}

TEST(Search, FieldsAreReadByAnyCaseFirstOneWinning) {
  Installation site;
  site.AddBooks({Titled("1", "ab"), Titled("2", "zz")});
  const std::string found =
      Page(ListPage(1, Condition(kLabelBookName, "ab"), TitledRow(1, "1", "ab", "ab")));
  struct Case {
    std::map<std::string, std::string> variables;
    std::string body;
  } cases[] = {
      {{{"QUERY_STRING", "bookname=ab&PageNum=0"}}, ""},
      {{{"QUERY_STRING", "BookName=ab&BOOKNAME=zz&PAGENUM=0&pagenum=x"}}, ""},
      // A POST reads its body; the query string is ignored.
      {{{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "21"}, {"QUERY_STRING", "BOOKNAME=zz"}},
       "BOOKNAME=ab&PAGENUM=0"},
  };
  for (const auto& c : cases) {
    auto variables = c.variables;
    variables["PATH_INFO"] = "/list";
    EXPECT_EQ(site.Run(variables, c.body).output, found) << c.body;
  }
  EXPECT_EQ(site.LogEntries(), std::vector<LogEntry>{});
}

TEST(Search, NoKanaFindDecidesWhetherTheAuthorReadingIsCompared) {
  Installation site;
  site.AddBooks({{{"MS_BOOKID", "1"}, {"MS_CHOSYA", "xy"}, {"MS_CHOKANA", "kana"}}});
  const std::string found = Page(ListPage(
      1, Condition(kLabelChosya, "kana"),
      Row({1, true, "",
           "ID=1&RENT=0&BNAME=++&BKANA=++&ANAME=xy++&AKANA=kana++&PUB=++&NDC=++&ISBN=++&SUB=++", "",
           "xy", "xy"})));
  const std::string noBooks = Page(ErrorPage(kNoBooksName, module::texts::kNoBooksFoundHint));
  struct Case {
    const char* noKanaFind;
    std::string output;
  } cases[] = {{"1", noBooks}, {"0", found}, {"abc", found}, {"", found}, {"+2", noBooks}};
  for (const auto& c : cases) {
    EXPECT_EQ(
        site.Get("/list", std::string("CHOSYA=kana&PAGENUM=0&NoKanaFind=") + c.noKanaFind).output,
        c.output)
        << c.noKanaFind;
  }
}

TEST(Search, SortOrder) {
  Installation site;
  site.AddBooks({{{"MS_BOOKID", "1"}, {"MS_SYOMEI", "ab1"}, {"MS_SYOKANA", "b"}},
                 {{"MS_BOOKID", "2"}, {"MS_SYOMEI", "ab2"}, {"MS_SYOKANA", "a"}}});
  auto rowOf = [](long long n, const std::string& id, const std::string& kana) {
    return Row({n, true, "",
                "ID=" + id + "&RENT=0&BNAME=ab" + id + "++&BKANA=" + kana +
                    "++&ANAME=++&AKANA=++&PUB=++&NDC=++&ISBN=++&SUB=++",
                "ab" + id, "", ""});
  };
  const std::string stored = rowOf(1, "1", "b") + rowOf(2, "2", "a");
  const std::string byKana = rowOf(1, "2", "a") + rowOf(2, "1", "b");
  const std::string byTitle = " \x8f\x91\x96\xbc\x8f\x87 ->";  // " 書名順 ->"
  const std::string descending = " \x8d\x7e\x8f\x87 ";         // " 降順 "
  const std::string title = Condition(kLabelBookName, "ab");
  struct Case {
    const char* query;
    std::string page;
  } cases[] = {
      // Without a direction the column alone orders the rows (ascending).
      {"ORDER=MS_SYOKANA", ListPage(2, title + Condition(kLabelOrder, byTitle), byKana)},
      // A direction without a column is neither written nor checked.
      {"ORDERKIND=DROP%20TABLE", ListPage(2, title, stored)},
      {"ORDER=MS_SYOKANA&ORDERKIND=DESC",
       ListPage(2, title + Condition(kLabelOrder, byTitle + descending), stored)},
      {"ORDER=MS_SYOKANA&ORDERKIND=desc",
       ListPage(2, title + Condition(kLabelOrder, byTitle), stored)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(site.Get("/list", std::string("BOOKNAME=ab&PAGENUM=0&") + c.query).output,
              Page(c.page))
        << c.query;
  }
}

TEST(Search, ConditionTableShowsEveryGivenValueAndTheSortLabels) {
  Installation site;
  site.AddBooks({{{"MS_BOOKID", "1"},
                  {"MS_SYOMEI", "a b<c>"},
                  {"MS_CHOSYA", "xyz"},
                  {"MS_SYUPAN", "pub"},
                  {"MS_ISBN", "4-1"},
                  {"MS_KENMEI", "sub"}}});
  const std::string row = Row(
      {1, true, "",
       "ID=1&RENT=0&BNAME=a+b%3Cc%3E++&BKANA=++&ANAME=xyz++&AKANA=++&PUB=pub++&NDC=++&ISBN=4%2D1++"
       "&SUB=sub++",
       "a b<c>", "xyz", "xyz"});
  struct Case {
    const char* query;
    std::string table;
  } cases[] = {
      {"BOOKNAME=a&CHOSYA=xyz&SYUPAN=pub&ISBN=4-1&KENMEI=sub&ORDER=MS_SYOKANA&ORDERKIND=ASC",
       "<tr><td>\x8f\x91\x96\xbc</td><td> = </td><td>a</td></tr>\r\n"
       "<tr><td>\x92\x98\x8e\xd2\x96\xbc</td><td> = </td><td>xyz</td></tr>\r\n"
       "<tr><td>\x8f\x6f\x94\xc5\x8e\xd2</td><td> = </td><td>pub</td></tr>\r\n"
       "<tr><td>ISBN</td><td> = </td><td>4-1</td></tr>\r\n"
       "<tr><td>\x8c\x8f\x96\xbc</td><td> = </td><td>sub</td></tr>\r\n"
       "<tr><td>\x95\xc0\x8f\x87</td><td> = </td><td> \x8f\x91\x96\xbc\x8f\x87 -> \x8f\xb8\x8f\x87 "
       "</td></tr>\r\n"},
      {"BOOKNAME=a&ORDER=MS_CHOKANA&ORDERKIND=DESC",
       Condition(kLabelBookName, "a") +
           Condition(kLabelOrder, " \x92\x98\x8e\xd2\x96\xbc\x8f\x87 -> \x8d\x7e\x8f\x87 ")},
      {"BOOKNAME=a&ORDER=MS_SEIKYU",
       Condition(kLabelBookName, "a") + Condition(kLabelOrder, " \x95\xaa\x97\xde\x8f\x87 ->")},
      // A column the table does not know, in other letter case, still gets its row.
      {"BOOKNAME=a&ORDER=ms_syokana&ORDERKIND=ASC",
       Condition(kLabelBookName, "a") + Condition(kLabelOrder, " \x8f\xb8\x8f\x87 ")},
      {"BOOKNAME=a&ORDERKIND=ASC", Condition(kLabelBookName, "a")},
      // Blanks are a value; request values are written as character references.
      {"BOOKNAME=+", Condition(kLabelBookName, " ")},
      {"BOOKNAME=%3Cc%3E", Condition(kLabelBookName, "&lt;c&gt;")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(site.Get("/list", std::string("PAGENUM=0&") + c.query).output,
              Page(ListPage(1, c.table, row)))
        << c.query;
  }
}

TEST(Search, ScriptInASearchValueIsShownAsCharacterReferences) {
  Installation site;
  site.AddBooks({Titled("1", "x<script>alert(1)</script>&y")});
  // The catalogue's own title, "<" and "&" included, is written as it is; the request's
  // value is escaped.
  EXPECT_EQ(site.Get("/list", "PAGENUM=0&BOOKNAME=%3Cscript%3E").output,
            Page(ListPage(1, Condition(kLabelBookName, "&lt;script&gt;"),
                          TitledRow(1, "1", "x<script>alert(1)</script>&y",
                                    "x%3Cscript%3Ealert%281%29%3C%2Fscript%3E%26y"))));
}

TEST(Search, QuoteInASearchTextFindsExactlyTheRowsHoldingIt) {
  Installation site;
  site.AddBooks({Titled("1", "O'Reilly"), Titled("2", "OReilly"), Titled("3", "It's"),
                 Titled("4", "\"quoted\"")});
  EXPECT_EQ(site.Get("/list", "PAGENUM=0&BOOKNAME=%27").output,
            Page(ListPage(2, Condition(kLabelBookName, "&#39;"),
                          TitledRow(1, "1", "O'Reilly", "O%27Reilly") +
                              TitledRow(2, "3", "It's", "It%27s"))));
  EXPECT_EQ(site.Get("/list", "PAGENUM=0&BOOKNAME=O%27R").output,
            Page(ListPage(1, Condition(kLabelBookName, "O&#39;R"),
                          TitledRow(1, "1", "O'Reilly", "O%27Reilly"))));
}

TEST(Search, DoubleQuoteAndColonInASearchTextAreText) {
  Installation site;
  site.AddBooks({Titled("1", "\"Note\": a:b"), Titled("2", "a:b"), Titled("3", "\"a::b")});
  EXPECT_EQ(site.Get("/list", "PAGENUM=0&BOOKNAME=%22%3A+a%3Ab").output,
            Page(ListPage(1, Condition(kLabelBookName, "&quot;: a:b"),
                          TitledRow(1, "1", "\"Note\": a:b", "%22Note%22%3A+a%3Ab"))));
  EXPECT_EQ(site.Get("/list", "PAGENUM=0&BOOKNAME=%22a%3A%3Ab").output,
            Page(ListPage(1, Condition(kLabelBookName, "&quot;a::b"),
                          TitledRow(1, "3", "\"a::b", "%22a%3A%3Ab"))));
}

TEST(Search, BrokenDoubleByteCharactersCannotTurnTextIntoMarkersOrMarkup) {
  Installation site;
  site.AddBooks({Titled("1", "ab")});
  // A lead byte before a quote does not hide the quote: the colon after it stays text,
  // and the search simply finds nothing.
  EXPECT_EQ(site.Get("/list", "PAGENUM=0&SYUPAN=%81%27%3A%3Csvg/onload=alert%601%60%3E,%27").output,
            Page(ErrorPage(kNoBooksName, module::texts::kNoBooksFoundHint)));
  // A message that quotes request bytes is shown as text on the error page.
  site.Write("html/list.html", "<#KASIDASI>");
  EXPECT_EQ(site.Get("/list", "BOOKNAME=ab&PAGENUM=0&RENT=%3Cb%3E").output,
            Page(ErrorPage(kDatabaseErrorName,
                           "&#39;&lt;b&gt;&#39; \x82\xcd\x90\xae\x90\x94\x82\xc5\x82\xcd\x82\xa0"
                           "\x82\xe8\x82\xdc\x82\xb9\x82\xf1")));
}

TEST(Search, SortValuesThatAreNoSqlNeverReachTheDatabase) {
  Installation site;
  site.AddBooks({Titled("1", "ab"), Titled("2", "abc")});
  const std::string before = site.CatalogueDump();
  const std::string refused = Page(ErrorPage(kDatabaseErrorName, kBadSortOrder));
  for (const char* query : {
           "ORDER=MS_SYOKANA%3B+DROP+TABLE+BOOKS",
           "ORDER=MS_SYOKANA;%20DROP%20TABLE%20x",
           "ORDER=1%3D1",
           "ORDER=MS_SYOKANA&ORDERKIND=ASC%3B+DROP+TABLE+BOOKS",
           "ORDER=MS_SYOKANA&ORDERKIND=%27",
           "ORDER=(SELECT+1)",
           "ORDER=a.b.c",
       }) {
    EXPECT_EQ(site.Get("/list", std::string("BOOKNAME=ab&PAGENUM=0&") + query).output, refused)
        << query;
  }
  EXPECT_EQ(site.CatalogueDump(), before);
  EXPECT_EQ(site.LogEntries(), std::vector<LogEntry>{});
}

TEST(Search, ScriptUrlIsRelativeWithAbsPathAndAbsoluteWithout) {
  Installation site;
  site.AddBooks({Titled("1", "ab")});
  site.Write("liraweb.conf", ConfWith("ABS_PATH", "0"));
  const std::string absolute = "http://lib.example/cgi-bin/liraweb";
  EXPECT_EQ(site.Get("/list", "BOOKNAME=ab&PAGENUM=0").output,
            Page(ListPage(1, Condition(kLabelBookName, "ab"),
                          TitledRow(1, "1", "ab", "ab", absolute), "", "", absolute)));

  // With ABS_PATH set the link names the program file itself, lower-cased.
  site.Write("liraweb.conf", ConfWith("ABS_PATH", "7"));
  const std::filesystem::path built = LIRAWEB_PROGRAM;
  const std::string copy = site.PathOf("LiraWeb.CGI");
  std::filesystem::copy_file(built, copy);
  std::filesystem::copy_file(built.parent_path() / "libkvconf.so", site.PathOf("libkvconf.so"));
  auto result =
      site.Run({{"PATH_INFO", "/list"}, {"QUERY_STRING", "BOOKNAME=ab&PAGENUM=0"}}, "", copy);
  const std::string relative = "../liraweb.cgi";
  EXPECT_EQ(result.output,
            Page(ListPage(1, Condition(kLabelBookName, "ab"),
                          TitledRow(1, "1", "ab", "ab", relative), "", "", relative)));
}

// The number of books a list page shows, or 0 for any other page.
int BooksFound(const std::string& output) {
  const std::size_t at = output.find("LIST ");
  return at == std::string::npos ? 0 : std::stoi(output.substr(at + 5));
}

// WORDS=AND in liraweb.conf, in any letter case, makes every blank-separated word a
// condition of its own; MATCH=LOOSE in the alias makes the program write wildcards as
// text and an ISBN as its core, so a typed "%" is a character and an ISBN-13 finds the
// book stored with its ISBN-10. The books each case must find are read off the titles.
TEST(Search, WordsSettingAndLooseAliasDecideWhichBooksAreFound) {
  Installation site;
  site.AddBooks({{{"MS_BOOKID", "1"}, {"MS_SYOMEI", "ab cd"}, {"MS_ISBN", "4-10-101001-4"}},
                 {{"MS_BOOKID", "2"}, {"MS_SYOMEI", "cd x ab"}, {"MS_ISBN", "4101010014"}},
                 {{"MS_BOOKID", "3"}, {"MS_SYOMEI", "100% ab"}},
                 {{"MS_BOOKID", "4"}, {"MS_SYOMEI", "1000 cd"}}});
  const std::string folded = "[catalogue]\nDRIVER=SQLITE\nPATH=catalog.db\n";
  const std::string loose = folded + "MATCH=LOOSE\n";
  struct Case {
    const char* words;  // the WORDS setting, or nullptr for none
    const std::string& alias;
    const char* query;
    int found;
  } cases[] = {
      {nullptr, folded, "BOOKNAME=ab%20cd", 1},    // the text as one word: book 1
      {"AND", folded, "BOOKNAME=ab%20cd", 2},      // both words: books 1 and 2
      {"and", folded, "BOOKNAME=ab%20cd", 2},      // the setting in any letter case
      {"And", folded, "BOOKNAME=cd%20ab", 2},      // in either order
      {"OR", folded, "BOOKNAME=ab%20cd", 1},       // any other value: one word
      {nullptr, folded, "BOOKNAME=100%25", 2},     // "%" a wildcard: books 3 and 4
      {nullptr, loose, "BOOKNAME=100%25", 1},      // "%" a character: book 3
      {nullptr, folded, "ISBN=9784101010014", 0},  // the ISBN as typed
      {nullptr, loose, "ISBN=9784101010014", 2},   // its core: books 1 and 2
      {"and", loose, "BOOKNAME=100%25%20ab", 1},   // both together: book 3
  };
  for (const Case& c : cases) {
    site.Write("liraweb.conf", std::string(kDefaultConf) +
                                   (c.words ? "WORDS=" + std::string(c.words) + "\r\n" : ""));
    site.Write("dbengine.conf", c.alias);
    EXPECT_EQ(BooksFound(site.Get("/list", std::string(c.query) + "&PAGENUM=0").output), c.found)
        << (c.words ? c.words : "-") << " " << c.alias << c.query;
  }
}

// With WORDS=AND a word typed a thousand times is searched once, with the rows of the
// word typed once; more distinct words than a search may hold, or a text too long,
// get a notice of their own, before any statement runs.
TEST(Search, RepeatedWordsAreSearchedOnceAndTooManyWordsGetTheirOwnNotice) {
  Installation site;
  site.AddBooks({Titled("1", "ab"), Titled("2", "zz")});
  site.Write("liraweb.conf", std::string(kDefaultConf) + "WORDS=AND\r\n");
  std::string repeated = "ab", shown = "ab", distinct = "ab";
  for (int i = 0; i < 999; ++i) {
    repeated += "+ab";
    shown += " ab";
  }
  for (int i = 0; i < 70; ++i) distinct += "+a" + std::to_string(i);
  EXPECT_EQ(site.Get("/list", "BOOKNAME=" + repeated + "&PAGENUM=0").output,
            Page(ListPage(1, Condition(kLabelBookName, shown), TitledRow(1, "1", "ab", "ab"))));
  // 検索条件が大きすぎます / 検索キーワードの数を減らすか、キーワードを短くして下さい
  const std::string tooLarge = Page(ErrorPage(
      "\x8c\x9f\x8d\xf5\x8f\xf0\x8c\x8f\x82\xaa\x91\xe5\x82\xab\x82\xb7\x82\xac\x82\xdc\x82\xb7",
      "\x8c\x9f\x8d\xf5\x83\x4c\x81\x5b\x83\x8f\x81\x5b\x83\x68\x82\xcc\x90\x94\x82\xf0\x8c\xb8"
      "\x82\xe7\x82\xb7\x82\xa9\x81\x41\x83\x4c\x81\x5b\x83\x8f\x81\x5b\x83\x68\x82\xf0\x92\x5a"
      "\x82\xad\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2"));
  site.Remove("dbengine.conf");  // reaching the database would fail differently
  for (const std::string& query :
       {"BOOKNAME=" + distinct + "&PAGENUM=0", "ISBN=" + std::string(100000, '9') + "&PAGENUM=0"}) {
    EXPECT_EQ(site.Get("/list", query).output, tooLarge) << query.substr(0, 40);
  }
  EXPECT_EQ(site.LogEntries(), std::vector<LogEntry>{});
}

}  // namespace
}  // namespace module_e2e
